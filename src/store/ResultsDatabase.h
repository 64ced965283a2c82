#pragma once

#include "engine/EngineServices.h"

#include <QSqlDatabase>
#include <QString>

#include <memory>

class QSqlQuery;

namespace qm {

class OperatorPrompt;
class SettingsStore;

// The results database: one table HISTORY to which every poll result is
// appended, kept open and exclusively locked from start to exit.
//
// The file is an SQLite database reached through Qt Sql: SQLite is embedded
// (no server to run), keeps the whole table in one file that can be copied,
// and its write-ahead log lets thousands of single-row commits a second go
// through while a killed process leaves a whole database behind.
//
// Errors go to the operator (stop icon) and never end the program; when the
// file cannot be opened the program runs on without a results database.
class ResultsDatabase final : public ResultRecorder
{
public:
    // Field widths of the text columns, in characters. SQLite does not
    // enforce declared widths, so longer texts are cut here (and the table's
    // CHECK constraints keep other writers to them).
    static constexpr int kHostWidth = 96;
    static constexpr int kProtocolWidth = 12;
    static constexpr int kMessageWidth = 255;
    // TIME of a result that got no response.
    static constexpr int kNoResponseTime = 2147483647;

    explicit ResultsDatabase(OperatorPrompt& prompt);
    ~ResultsDatabase() override;
    ResultsDatabase(const ResultsDatabase&) = delete;
    ResultsDatabase& operator=(const ResultsDatabase&) = delete;

    // Opens the database at start-up: the file named on the command line when
    // given, else "ConfigDatabase"/"DATABASE_FILE"; when that is empty the
    // default file (current directory + "/Quillmere.mdb") is used and its path
    // written back to the store. Returns whether the database is open.
    bool open(SettingsStore& settings, const QString& commandLineFile = {});
    // Opens or creates the database at `path`, creating the table and its
    // indexes when missing and adding FREQUENCY to a table without it.
    bool openFile(const QString& path);
    void close();
    bool isOpen() const;
    // Absolute path of the file opened last (also after a failed open).
    QString fileName() const { return m_path; }

    // Appends one result. Empty texts leave their fields NULL; PORT, FREQUENCY
    // and TIME must be decimal numbers, FAILURE "0"/"1" (or true/false).
    // A failure to write the row is shown to the operator (a repeat of the
    // same failure only after a result was recorded in between) and the
    // caller goes on. Returns false only when there is no usable table at
    // all, which ends the caller's handling of the result.
    bool RecordResults(const QString& host, const QString& protocol, const QString& port,
                       const QString& frequency, const QString& time, const QString& message,
                       const QString& failure) override;

    // Deletes every row and tells the operator "%d Records Deleted". Returns
    // the number of rows deleted, or -1 after an error (shown). The INDEX
    // counter is not reset.
    int ClearHistory();

    // The open connection, for the log viewer's queries (main thread only).
    QSqlDatabase GetDatabase() const { return m_db; }

    // The default database path: current directory + "/Quillmere.mdb".
    static QString DefaultFileName();

private:
    bool configureConnection();
    bool ensureSchema();
    bool exec(const QString& statement, QString* error = nullptr);
    void showError(const QString& text);
    void reportRecordError(const QString& description);
    void closeConnection();

    OperatorPrompt& m_prompt;
    QString m_connectionName;
    QSqlDatabase m_db;
    std::unique_ptr<QSqlQuery> m_insert;
    QString m_path;
    QString m_lastRecordError;
};

} // namespace qm
