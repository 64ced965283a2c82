#include "metrics/ListenAddress.h"

#include <cstring>
#include <netdb.h>

namespace qm {

QString ListenAddress::text() const
{
    const QString shown = host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(host) : host;
    return QStringLiteral("%1:%2").arg(shown).arg(port);
}

std::optional<ListenAddress> ParseListenAddress(const QString& text, QString* error)
{
    auto fail = [&](const QString& why) -> std::optional<ListenAddress> {
        if (error)
            *error = QStringLiteral("bad listen address \"%1\": %2 (ADDRESS:PORT, [IPv6]:PORT)").arg(text, why);
        return std::nullopt;
    };
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon < 0)
        return fail(QStringLiteral("no port"));
    ListenAddress a;
    a.host = text.left(colon);
    if (a.host.startsWith(QLatin1Char('[')) && a.host.endsWith(QLatin1Char(']')))
        a.host = a.host.mid(1, a.host.size() - 2);
    else if (a.host.contains(QLatin1Char(':')) || a.host.contains(QLatin1Char('[')))
        return fail(QStringLiteral("an IPv6 address goes in brackets"));
    if (a.host.isEmpty())
        return fail(QStringLiteral("no address"));
    for (const QChar c : a.host)
        if (c.isSpace() || c == u'/' || c == u'[' || c == u']')
            return fail(QStringLiteral("not an address"));
    bool ok = false;
    const QString portText = text.mid(colon + 1);
    a.port = portText.toInt(&ok);
    if (!ok || portText.startsWith(QLatin1Char('+')) || a.port < 1 || a.port > 65535)
        return fail(QStringLiteral("the port must be 1 to 65535"));
    return a;
}

std::optional<ResolvedListenAddress> ResolveListenAddress(const ListenAddress& address, QString* error)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* list = nullptr;
    const QByteArray host = address.host.toUtf8();
    const QByteArray port = QByteArray::number(address.port);
    const int rc = ::getaddrinfo(host.constData(), port.constData(), &hints, &list);
    if (rc != 0 || list == nullptr) {
        if (error)
            *error = QStringLiteral("cannot resolve %1: %2").arg(address.host, QString::fromLocal8Bit(::gai_strerror(rc)));
        return std::nullopt;
    }
    ResolvedListenAddress r;
    std::memcpy(&r.address, list->ai_addr, list->ai_addrlen);
    r.length = list->ai_addrlen;
    ::freeaddrinfo(list);
    return r;
}

} // namespace qm
