#include "app/monitor/HostsCommand.h"

#include "app/monitor/CommandLine.h"
#include "app/monitor/HostsCsv.h"
#include "probes/Base64.h"
#include "probes/ProbeSocket.h"
#include "probes/ProtocolTable.h"
#include "store/HostStore.h"
#include "store/SettingsStore.h"

#include <QFile>
#include <QTextStream>

#include <cstdio>

namespace qm::cli {

namespace {

// Collects the resolver's failure report instead of posting it anywhere.
class CapturingSink final : public ResultSink
{
public:
    void reportSuccess(uint32_t, std::unique_ptr<ProbeResult>) override {}
    void reportFailure(uint32_t, std::unique_ptr<ProbeResult> r) override { message = r->message; }
    std::string message;
};

int ListHosts(const SettingsStore& store)
{
    const auto hosts = LoadHosts(store);
    PrintOut(QStringLiteral("#\tHost\tAddress\tProtocol\tPort\tFreq\tEnabled\tNickname"));
    for (std::size_t i = 0; i < hosts.size(); ++i) {
        const HostTexts& h = hosts[i];
        PrintOut(QStringLiteral("%1\t%2\t%3\t%4\t%5\t%6\t%7\t%8")
                     .arg(i)
                     .arg(h[ColHost], h[ColAddress], h[ColProtocol], h[ColPort], h[ColFreq],
                          ColumnNumber(h[ColEnabled]) != 0 ? QStringLiteral("yes") : QStringLiteral("no"),
                          h[ColNickname]));
    }
    return kExitOk;
}

int AddHost(SettingsStore& store, const QStringList& args)
{
    const CommandLine cl = ParseCommandLine(
        args,
        {QStringLiteral("--host"), QStringLiteral("--protocol"), QStringLiteral("--port"), QStringLiteral("--freq"),
         QStringLiteral("--nickname"), QStringLiteral("--user"), QStringLiteral("--password"),
         QStringLiteral("--domain"), QStringLiteral("--query-name"),
         QStringLiteral("--float-errors"), QStringLiteral("--mail-to"),
         QStringLiteral("--mail-server"), QStringLiteral("--sound"), QStringLiteral("--pager")},
        {QStringLiteral("--disabled"), QStringLiteral("--no-notify")});
    if (!cl.error.isEmpty()) {
        PrintError(cl.error);
        return kExitUsage;
    }
    if (!cl.words.isEmpty()) {
        PrintError(QStringLiteral("unexpected argument %1").arg(cl.words.first()));
        return kExitUsage;
    }
    const QString host = cl.value(QStringLiteral("--host")).trimmed();
    if (host.isEmpty()) {
        PrintError(QStringLiteral("hosts add needs --host NAME"));
        return kExitUsage;
    }
    const QString protocol = cl.value(QStringLiteral("--protocol"));
    const ProtocolInfo* info = FindProtocol(protocol.toStdString());
    if (info == nullptr) {
        QStringList names;
        for (const auto& p : ProtocolTable())
            names << QString::fromLatin1(p.name.data(), static_cast<qsizetype>(p.name.size()));
        PrintError(QStringLiteral("unknown protocol \"%1\"; use one of: %2").arg(protocol, names.join(QStringLiteral(", "))));
        return kExitUsage;
    }

    // A DNS entry keeps the name its query asks for in its Domain field.
    if (cl.has(QStringLiteral("--query-name"))) {
        if (protocol != QLatin1String("DNS")) {
            PrintError(QStringLiteral("--query-name is for DNS hosts only"));
            return kExitUsage;
        }
        if (cl.has(QStringLiteral("--domain"))) {
            PrintError(QStringLiteral("a DNS host takes --query-name or --domain, not both"));
            return kExitUsage;
        }
        if (cl.value(QStringLiteral("--query-name")).trimmed().isEmpty()) {
            PrintError(QStringLiteral("--query-name needs a name"));
            return kExitUsage;
        }
    }
    static const QStringList kMailProtocols{QStringLiteral("SMTP"), QStringLiteral("ESMTP"),
                                            QStringLiteral("POP3"), QStringLiteral("IMAP4")};
    if (cl.has(QStringLiteral("--domain")) && kMailProtocols.contains(protocol) &&
        !cl.value(QStringLiteral("--domain")).contains(u'@'))
        PrintWarning(QStringLiteral("warning: the e-mail domain \"%1\" has no \"@\"; it is "
                                  "joined to the user id as it is (write it as @example.org)")
                       .arg(cl.value(QStringLiteral("--domain"))));

    HostTexts row = NewHostFromDefaults(store);
    int port = info->defaultPort;
    if (cl.has(QStringLiteral("--port"))) {
        const auto p = ParseNumber(cl.value(QStringLiteral("--port")), 1, 65535);
        if (!p) {
            PrintError(QStringLiteral("port \"%1\" is not a number from 1 to 65535").arg(cl.value(QStringLiteral("--port"))));
            return kExitUsage;
        }
        port = *p;
    }
    if (cl.has(QStringLiteral("--freq"))) {
        const auto f = ParseNumber(cl.value(QStringLiteral("--freq")), 0, 86400 * 365);
        if (!f) {
            PrintError(QStringLiteral("frequency \"%1\" is not a number of seconds").arg(cl.value(QStringLiteral("--freq"))));
            return kExitUsage;
        }
        row[ColFreq] = QStringLiteral("%1 sec").arg(*f);
    }
    if (cl.has(QStringLiteral("--float-errors"))) {
        const auto n = ParseNumber(cl.value(QStringLiteral("--float-errors")), 0, 10);
        if (!n) {
            PrintError(QStringLiteral("--float-errors takes a down threshold from 0 to 10"));
            return kExitUsage;
        }
        row[ColFloatErrs] = QStringLiteral("1");
        row[ColFloatErrsSens] = QString::number(*n);
    }

    // Like the host wizard, a host whose name does not resolve is not added.
    CapturingSink sink;
    ProbeSocket probe(sink);
    const std::string address = probe.LookupAddressText(host.toStdString());
    if (address.empty()) {
        PrintError(QString::fromStdString(sink.message));
        return kExitUsage;
    }

    row[ColHost] = host;
    row[ColAddress] = QString::fromStdString(address);
    row[ColProtocol] = protocol;
    row[ColPort] = QString::number(port);
    if (cl.has(QStringLiteral("--nickname")))
        row[ColNickname] = cl.value(QStringLiteral("--nickname"));
    if (cl.has(QStringLiteral("--user")))
        row[ColUserId] = cl.value(QStringLiteral("--user"));
    if (cl.has(QStringLiteral("--password")))
        row[ColPassword] = QString::fromStdString(Base64Encode(cl.value(QStringLiteral("--password")).toStdString()));
    if (cl.has(QStringLiteral("--domain")))
        row[ColDomain] = cl.value(QStringLiteral("--domain"));
    if (protocol == QLatin1String("DNS") && !cl.has(QStringLiteral("--domain")))
        // Not the default e-mail domain: a DNS entry would ask for that name.
        row[ColDomain] = cl.value(QStringLiteral("--query-name")).trimmed();
    row[ColEnabled] = cl.has(QStringLiteral("--disabled")) ? QStringLiteral("0") : QStringLiteral("1");

    // Each notification channel named switches itself and notification on.
    const struct
    {
        const char* option;
        HostColumn value;
        HostColumn enable;
    } channels[] = {
        {"--mail-to", ColNotifyMailAddress, ColNotifyMailEnable},
        {"--sound", ColNotifySoundFile, ColNotifySoundEnable},
        {"--pager", ColNotifyPagerSequence, ColNotifyPagerEnable},
    };
    for (const auto& c : channels) {
        const QString option = QLatin1String(c.option);
        if (!cl.has(option))
            continue;
        row[c.value] = cl.value(option);
        row[c.enable] = QStringLiteral("1");
        row[ColNotifyEnable] = QStringLiteral("1");
    }
    if (cl.has(QStringLiteral("--mail-server")))
        row[ColNotifyMailServer] = cl.value(QStringLiteral("--mail-server"));
    if (cl.has(QStringLiteral("--no-notify")))
        row[ColNotifyEnable] = QStringLiteral("0");

    // New hosts go to the top of the list, as the wizard inserts them.
    auto hosts = LoadHosts(store);
    hosts.insert(hosts.begin(), row);
    SaveHosts(store, hosts);
    QString error;
    if (!store.sync(&error)) {
        PrintError(error);
        return kExitFailure;
    }
    PrintOut(QStringLiteral("added %1//%2:%3 (%4)").arg(protocol, host, row[ColPort], row[ColAddress]));
    return kExitOk;
}

int RemoveHost(SettingsStore& store, const QStringList& args)
{
    const CommandLine cl = ParseCommandLine(args, {QStringLiteral("--host")}, {});
    if (!cl.error.isEmpty()) {
        PrintError(cl.error);
        return kExitUsage;
    }
    auto hosts = LoadHosts(store);
    std::vector<HostTexts> kept;
    if (cl.has(QStringLiteral("--host")) && cl.words.isEmpty()) {
        for (const auto& h : hosts)
            if (h[ColHost] != cl.value(QStringLiteral("--host")))
                kept.push_back(h);
    } else if (cl.words.size() == 1 && !cl.has(QStringLiteral("--host"))) {
        const auto index = ParseNumber(cl.words.first(), 0, static_cast<int>(hosts.size()) - 1);
        if (!index) {
            PrintError(QStringLiteral("no host with index \"%1\" (see: hosts list)").arg(cl.words.first()));
            return kExitUsage;
        }
        kept = hosts;
        kept.erase(kept.begin() + *index);
    } else {
        PrintError(QStringLiteral("hosts remove takes an INDEX or --host NAME"));
        return kExitUsage;
    }
    if (kept.size() == hosts.size()) {
        PrintError(QStringLiteral("no host named \"%1\"").arg(cl.value(QStringLiteral("--host"))));
        return kExitUsage;
    }
    SaveHosts(store, kept);
    QString error;
    if (!store.sync(&error)) {
        PrintError(error);
        return kExitFailure;
    }
    PrintOut(QStringLiteral("removed %1 host(s)").arg(hosts.size() - kept.size()));
    return kExitOk;
}

int ImportHosts(SettingsStore& store, const QStringList& args)
{
    if (args.size() != 1) {
        PrintError(QStringLiteral("hosts import takes one FILE"));
        return kExitUsage;
    }
    QFile file(args.first());
    if (!file.open(QIODevice::ReadOnly)) {
        PrintError(QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString()));
        return kExitUsage;
    }
    std::vector<HostTexts> imported;
    QString error;
    if (!HostsFromCsv(store, QString::fromUtf8(file.readAll()), imported, error)) {
        PrintError(QStringLiteral("%1: %2; no host was imported").arg(file.fileName(), error));
        return kExitUsage;
    }
    auto hosts = LoadHosts(store);
    if (hosts.size() + imported.size() > static_cast<std::size_t>(kHostCountLimit)) {
        PrintError(QStringLiteral("%1 hosts and %2 more would pass the limit of %3; no host was imported")
                       .arg(hosts.size())
                       .arg(imported.size())
                       .arg(kHostCountLimit));
        return kExitUsage;
    }
    // The file's hosts go to the top of the list, in the file's order, as
    // "hosts add" puts a new host there; one write of the store for all.
    hosts.insert(hosts.begin(), imported.begin(), imported.end());
    SaveHosts(store, hosts);
    if (!store.sync(&error)) {
        PrintError(error);
        return kExitFailure;
    }
    PrintOut(QStringLiteral("imported %1 host(s)").arg(imported.size()));
    return kExitOk;
}

int ExportHosts(const SettingsStore& store, const QStringList& args)
{
    if (!args.isEmpty()) {
        PrintError(QStringLiteral("unexpected argument %1").arg(args.first()));
        return kExitUsage;
    }
    const QByteArray csv = HostsToCsv(LoadHosts(store)).toUtf8();
    std::fwrite(csv.constData(), 1, static_cast<std::size_t>(csv.size()), stdout);
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
}

} // namespace

int RunHostsCommand(SettingsStore& store, const QStringList& args)
{
    if (args.isEmpty()) {
        PrintError(QStringLiteral("hosts needs one of: list, add, remove, import, export"));
        return kExitUsage;
    }
    const QString verb = args.first();
    const QStringList rest = args.mid(1);
    if (verb == QLatin1String("list"))
        return ListHosts(store);
    if (verb == QLatin1String("add"))
        return AddHost(store, rest);
    if (verb == QLatin1String("remove"))
        return RemoveHost(store, rest);
    if (verb == QLatin1String("import"))
        return ImportHosts(store, rest);
    if (verb == QLatin1String("export"))
        return ExportHosts(store, rest);
    PrintError(QStringLiteral("unknown hosts command \"%1\"; use list, add, remove, import or export").arg(verb));
    return kExitUsage;
}

} // namespace qm::cli
