#pragma once

#include <QString>

#include <optional>

namespace qm {

class SettingsStore;

// Where the results database lives: an SQLite file (the default), or a
// database on a PostgreSQL server that several monitors may share.
struct DatabaseTarget
{
    static inline const QString kSqlite = QStringLiteral("QSQLITE");
    static inline const QString kPostgres = QStringLiteral("QPSQL");
    static constexpr int kDefaultPort = 5432;

    QString driver = kSqlite;
    QString file; // SQLite: the file; empty for the configured or default one
    QString host;
    int port = kDefaultPort;
    QString name;
    QString user;
    QString password; // empty: the client library's own (PGPASSWORD, ~/.pgpass)

    bool onServer() const { return driver == kPostgres; }
    // "postgresql://user@host:port/name" (never the password), or the file.
    QString displayName() const;
};

// "ConfigDatabase": "DRIVER" (QSQLITE when unset or unknown), "HOST",
// "PORT", "NAME", "USER" and "PASSWORD" (stored Base64 like the other stored
// passwords); the file comes from "DATABASE_FILE".
DatabaseTarget LoadDatabaseTarget(const SettingsStore& store);
// Writes the driver and the server values (not the file).
void SaveDatabaseServer(SettingsStore& store, const DatabaseTarget& target);

// Whether a command-line database names a server ("postgresql://...").
bool IsDatabaseUrl(const QString& text);
// postgresql://[user@]host[:port]/name (also postgres://). A URL holding a
// password is refused: a command line is visible to every user of the
// machine. `error` tells what is wrong.
std::optional<DatabaseTarget> ParseDatabaseUrl(const QString& url, QString* error);

// The database a program uses: the file or URL given on its command line,
// else the settings. A URL takes its password from the settings (or, when
// none is stored, from PGPASSWORD). Nothing, with `error` set, for a bad URL.
std::optional<DatabaseTarget> ResolveDatabaseTarget(const SettingsStore& store,
                                                    const QString& commandLine, QString* error);

} // namespace qm
