#include "store/DatabaseTarget.h"

#include "probes/Base64.h"
#include "store/ConfigSections.h"
#include "store/SettingsStore.h"

#include <QUrl>

namespace qm {

namespace {
const QString kSection = QStringLiteral("ConfigDatabase");
} // namespace

QString DatabaseTarget::displayName() const
{
    if (!onServer())
        return file;
    QUrl url;
    url.setScheme(QStringLiteral("postgresql"));
    url.setUserName(user);
    url.setHost(host);
    url.setPort(port);
    url.setPath(QLatin1Char('/') + name);
    return url.toString();
}

DatabaseTarget LoadDatabaseTarget(const SettingsStore& store)
{
    DatabaseTarget t;
    if (store.readString(kSection, QStringLiteral("DRIVER")).trimmed().toUpper() ==
        DatabaseTarget::kPostgres)
        t.driver = DatabaseTarget::kPostgres;
    t.file = LoadDatabaseFile(store);
    t.host = store.readString(kSection, QStringLiteral("HOST"));
    t.port = store.readInt(kSection, QStringLiteral("PORT"), DatabaseTarget::kDefaultPort);
    if (t.port <= 0 || t.port > 65535)
        t.port = DatabaseTarget::kDefaultPort;
    t.name = store.readString(kSection, QStringLiteral("NAME"));
    t.user = store.readString(kSection, QStringLiteral("USER"));
    t.password = QString::fromStdString(
        Base64Decode(store.readString(kSection, QStringLiteral("PASSWORD")).toStdString()));
    return t;
}

void SaveDatabaseServer(SettingsStore& store, const DatabaseTarget& t)
{
    store.writeString(kSection, QStringLiteral("DRIVER"), t.driver);
    store.writeString(kSection, QStringLiteral("HOST"), t.host);
    store.writeInt(kSection, QStringLiteral("PORT"), t.port);
    store.writeString(kSection, QStringLiteral("NAME"), t.name);
    store.writeString(kSection, QStringLiteral("USER"), t.user);
    store.writeString(kSection, QStringLiteral("PASSWORD"),
                      QString::fromStdString(Base64Encode(t.password.toStdString())));
}

bool IsDatabaseUrl(const QString& text)
{
    return text.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive) ||
           text.startsWith(QLatin1String("postgres://"), Qt::CaseInsensitive);
}

std::optional<DatabaseTarget> ParseDatabaseUrl(const QString& text, QString* error)
{
    auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return std::nullopt;
    };
    const QUrl url(text, QUrl::StrictMode);
    if (!IsDatabaseUrl(text) || !url.isValid())
        return fail(QStringLiteral("%1 is not a database URL of the form "
                                   "postgresql://user@host:port/name")
                        .arg(text));
    if (!url.password().isEmpty() || url.userInfo().contains(QLatin1Char(':')))
        return fail(QStringLiteral("the database URL must not hold a password: store it in the "
                                   "settings (\"ConfigDatabase\"/\"PASSWORD\") or give it in "
                                   "PGPASSWORD"));
    DatabaseTarget t;
    t.driver = DatabaseTarget::kPostgres;
    t.host = url.host();
    t.port = url.port(DatabaseTarget::kDefaultPort);
    t.user = url.userName();
    t.name = url.path().mid(1);
    if (t.host.isEmpty() || t.name.isEmpty() || t.name.contains(QLatin1Char('/')) ||
        url.hasQuery() || url.hasFragment())
        return fail(QStringLiteral("%1 is not a database URL of the form "
                                   "postgresql://user@host:port/name")
                        .arg(text));
    return t;
}

std::optional<DatabaseTarget> ResolveDatabaseTarget(const SettingsStore& store,
                                                    const QString& commandLine, QString* error)
{
    DatabaseTarget stored = LoadDatabaseTarget(store);
    if (commandLine.isEmpty())
        return stored;
    if (!IsDatabaseUrl(commandLine)) {
        DatabaseTarget file;
        file.file = commandLine;
        return file;
    }
    std::optional<DatabaseTarget> target = ParseDatabaseUrl(commandLine, error);
    if (target)
        target->password = stored.password;
    return target;
}

} // namespace qm
