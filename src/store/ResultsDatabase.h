#pragma once

#include "engine/EngineServices.h"

#include <QSqlDatabase>
#include <QString>
#include <QTimer>

#include <chrono>
#include <memory>
#include <unordered_set>

class QSqlQuery;

namespace qm {

class OperatorPrompt;
class SettingsStore;

// The results database: one table HISTORY to which every poll result is
// appended, kept open and exclusively locked from start to exit.
//
// The file is an SQLite database reached through Qt Sql: SQLite is embedded
// (no server to run), keeps the whole table in one file that can be copied,
// and its write-ahead log leaves a whole database behind a killed process.
//
// Results are appended in batches: one transaction is committed after
// kBatchRows rows or kBatchInterval, whichever comes first (the interval
// runs on the event loop of the thread that owns the object), and at
// flush() and close(). A killed process loses at most the batch under way.
//
// A second table, SERVICES, holds each distinct (HOST, PROTOCOL, PORT) of
// HISTORY, so the log viewer lists the hosts of a huge table at once. It is
// kept with the rows (added to as new services are recorded, trimmed after
// removals) and rebuilt from HISTORY for files that lack it or got rows from
// elsewhere.
//
// Retention: with keep-days set, rows older than that are removed in slices
// on the owner's event loop, each slice a bounded range of rows sized to take
// about kPruneSliceTarget. The slices run on the recording connection
// because the file is held exclusively by that one connection (a second
// copy of the program must fail to open it), so another thread could only
// share the connection behind a lock that every append would wait on.
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
    // A batch of appends is committed at this many rows or after this long.
    static constexpr int kBatchRows = 1000;
    static constexpr std::chrono::milliseconds kBatchInterval{100};
    // Retention passes run after opening and then this often.
    static constexpr std::chrono::minutes kPruneInterval{60};
    // Time one retention slice aims at (the slice size follows it).
    static constexpr std::chrono::milliseconds kPruneSliceTarget{10};

    explicit ResultsDatabase(OperatorPrompt& prompt);
    ~ResultsDatabase() override;
    ResultsDatabase(const ResultsDatabase&) = delete;
    ResultsDatabase& operator=(const ResultsDatabase&) = delete;

    // Opens the database at start-up: the file named on the command line when
    // given, else "ConfigDatabase"/"DATABASE_FILE"; when that is empty the
    // default file (current directory + "/Quillmere.mdb") is used and its path
    // written back to the store. Retention follows "ConfigDatabase"/
    // "KEEP_DAYS". Returns whether the database is open.
    bool open(SettingsStore& settings, const QString& commandLineFile = {});
    // Opens or creates the database at `path`, creating the table and its
    // indexes when missing and adding FREQUENCY to a table without it.
    bool openFile(const QString& path);
    // Commits what is recorded, then closes the file.
    void close();
    bool isOpen() const;
    // Commits the batch under way. Errors are shown; returns false after one.
    bool flush();
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

    // Retention: keep `days` days of results (0 keeps everything). A pass
    // starts at once and again every kPruneInterval, running in slices on the
    // event loop.
    void setKeepDays(int days);
    int keepDays() const { return m_keepDays; }
    // Starts a pass removing the rows whose DATESTAMP is more than `days`
    // days old (rows recorded after the start are left alone). Then
    // pruneSlice() removes the next slice and returns whether more is left;
    // the event loop drives it when keep-days is set, a caller may drive it
    // itself. Returns false when nothing can be pruned (database not open).
    bool startPrune(int days);
    bool pruneSlice();
    bool pruning() const { return m_prune.active; }
    // Rows removed by the current or last pass.
    qint64 prunedRows() const { return m_prune.deleted; }

    // The open connection, for the log viewer's queries (main thread only).
    QSqlDatabase GetDatabase() const { return m_db; }

    // The default database path: current directory + "/Quillmere.mdb".
    static QString DefaultFileName();

private:
    struct ServiceKey
    {
        QString host;
        QString protocol;
        qint64 port = -1; // -1: no port (NULL)
        bool operator==(const ServiceKey&) const = default;
    };
    struct ServiceKeyHash
    {
        std::size_t operator()(const ServiceKey& k) const noexcept;
    };
    struct PruneState
    {
        bool active = false;
        qint64 next = 0; // lowest INDEX not yet looked at
        qint64 end = 0;  // highest INDEX of the pass
        qint64 sliceRows = 4096;
        qint64 deleted = 0;
        QString cutoff; // DATESTAMP below which rows go
    };

    bool configureConnection();
    bool ensureSchema();
    bool ensureServices();
    bool loadServices();
    bool prepareStatements();
    bool beginBatch();
    void finishPrune();
    bool exec(const QString& statement, QString* error = nullptr);
    void showError(const QString& text);
    void reportRecordError(const QString& description);
    void closeConnection();

    OperatorPrompt& m_prompt;
    QString m_connectionName;
    QSqlDatabase m_db;
    std::unique_ptr<QSqlQuery> m_insert;
    std::unique_ptr<QSqlQuery> m_addService;
    std::unique_ptr<QSqlQuery> m_markServices;
    std::unordered_set<ServiceKey, ServiceKeyHash> m_services;
    bool m_inBatch = false;
    int m_batchRows = 0;
    QTimer m_commitTimer;
    QString m_path;
    QString m_lastRecordError;
    int m_keepDays = 0;
    PruneState m_prune;
    QTimer m_pruneTimer;    // next slice of a pass under way
    QTimer m_retentionTimer; // next pass
};

} // namespace qm
