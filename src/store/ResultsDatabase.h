#pragma once

#include "engine/EngineServices.h"
#include "store/DatabaseDialect.h"
#include "store/DatabaseTarget.h"

#include <QSqlDatabase>
#include <QString>
#include <QTimer>
#include <QVariant>

#include <array>
#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <optional>
#include <thread>
#include <unordered_set>

class QSqlQuery;

namespace qm {

class OperatorPrompt;
class SettingsStore;

// The results database: one table HISTORY to which every poll result is
// appended.
//
// By default it is an SQLite file reached through Qt Sql, kept open and
// exclusively locked from start to exit: SQLite is embedded (no server to
// run), keeps the whole table in one file that can be copied, and its
// write-ahead log leaves a whole database behind a killed process. It can
// instead be a database on a PostgreSQL server, which several monitors share
// on purpose; DatabaseDialect holds what differs between the two.
//
// Results are appended in batches: one transaction is committed after
// kBatchRows rows or kBatchInterval, whichever comes first (the interval
// runs on the event loop of the thread that owns the object), and at
// flush() and close(). A killed process loses at most the batch under way.
//
// On a server the rows of a batch stay in memory until it is committed; a
// batch is one multi-row INSERT, written from the commit timer (still on the
// owner's thread, which waits for the server's answers). Rows the server
// refuses (a rule of the table, say) are left out, counted and told; the rest
// of their batch is written. When a batch cannot be written at all (the
// server went away, a lock or time-out), the operator is told once, the rows
// stay in memory (at most bufferLimit(), the rest counted), and the
// connection is tried again every kReconnectInterval: first from a thread of
// its own, so a server that does not answer never holds up the owner's
// thread, then, once that worked, for real. Once a batch is written again the
// operator is told how many results were kept (and lost) and the rest are
// written, a batch per turn of the event loop. Each batch also sets a marker
// row of this monitor, so one whose COMMIT went unanswered is not written
// twice.
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
    // Results kept in memory while a server cannot take them: about 50 MB
    // at worst (a full message each), and more than an hour of results of a
    // few hundred services polled every ten seconds or so.
    static constexpr qsizetype kBufferRows = 100000;
    // How often a server that went away is tried again, and how long one
    // connection attempt may take (the first one, at start-up, runs on the
    // owner's thread).
    static constexpr std::chrono::seconds kReconnectInterval{2};
    static constexpr int kConnectTimeoutSeconds = 5;

    explicit ResultsDatabase(OperatorPrompt& prompt);
    ~ResultsDatabase() override;
    ResultsDatabase(const ResultsDatabase&) = delete;
    ResultsDatabase& operator=(const ResultsDatabase&) = delete;

    // Opens the database at start-up: the file or postgresql:// URL named on
    // the command line when given, else the configured one (see
    // ResolveDatabaseTarget); for a file, when "ConfigDatabase"/
    // "DATABASE_FILE" is empty the default file (current directory +
    // "/Quillmere.mdb") is used and its path written back to the store. A
    // server that cannot be reached is tried again (see recording()).
    // Retention follows "ConfigDatabase"/"KEEP_DAYS". Returns whether the
    // database is open.
    bool open(SettingsStore& settings, const QString& commandLineTarget = {});
    // Opens or creates the database at `path`, creating the table and its
    // indexes when missing and adding FREQUENCY to a table without it.
    bool openFile(const QString& path);
    // Connects to the database on a PostgreSQL server and makes sure of its
    // tables as openFile() does. A failure is shown; with keepTrying the
    // results are kept in memory meanwhile and the server tried again.
    bool openServer(const DatabaseTarget& target, bool keepTrying = false);
    // Commits what is recorded (a server that went away is tried once more),
    // then closes the file or connection; results a server could not take
    // by then are told as lost and counted in writeErrors().
    void close();
    bool isOpen() const;
    // Open, or waiting for its server to come back: results are taken.
    bool recording() const { return isOpen() || m_outage; }
    // Results in memory not yet committed (a server only), and those refused
    // since the last outage began because the memory held its bound.
    qsizetype bufferedRows() const { return static_cast<qsizetype>(m_pending.size()); }
    qint64 droppedRows() const { return m_dropped; }
    uint64_t writeErrors() const override { return m_writeErrors; }
    qsizetype bufferLimit() const { return m_bufferLimit; }
    void setBufferLimit(qsizetype rows) { m_bufferLimit = std::max<qsizetype>(1, rows); }
    // Commits the batch under way (on a server, every result in memory).
    // Errors are shown; returns false after one.
    bool flush();
    // Absolute path of the file opened last (also after a failed open); for
    // a server its URL without the password.
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
    // DATESTAMP of a time: UTC as "YYYY-MM-DD HH:MM:SS.mmm".
    static QString DateStamp(std::chrono::system_clock::time_point time);
    // The stamp of the current millisecond; results that come within the
    // same millisecond share one text.
    static const QString& DateStampNow();

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

    // A result ready to be written: the eight values of the insert.
    struct PendingRow
    {
        std::array<QVariant, 8> values;
        ServiceKey key;
    };

    bool configureConnection();
    bool connectServer(QString* error);
    bool insertRow(const PendingRow& row, QString* error);
    bool addService(const ServiceKey& key, QString* error);
    void queueRow(PendingRow&& row);
    bool writePending();
    // Writes the first `rows` results in memory in one transaction; when the
    // server refuses rows, again one by one, leaving out (and telling) those
    // refused. Returns false when the batch must wait (`error` says why).
    bool writeBatch(std::size_t rows, QString* error);
    // One transaction of the batch: empty when committed, else how it failed.
    std::optional<ServerFailure> execBatch(std::size_t rows, bool oneByOne, QString* error);
    // After a reconnection: drops the batch whose COMMIT went unanswered
    // when its marker shows it was written.
    bool settleUnsureBatch();
    void startOutage(const QString& error);
    void reconnect();
    // Tries the server once more, at once, within its connection time-out.
    bool reconnectNow();
    void dropStatements();
    bool ensureSchema();
    bool ensureServices();
    bool loadServices();
    bool prepareStatements();
    bool beginBatch();
    void finishPrune();
    bool exec(const QString& statement, QString* error = nullptr);
    void showError(const QString& text);
    // Shows a failure to write results; `lostRows` rows were not written.
    void reportRecordError(const QString& description, qint64 lostRows = 1);
    void closeConnection();

    OperatorPrompt& m_prompt;
    const DatabaseDialect* m_dialect = &SqliteDialect();
    DatabaseTarget m_target;
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

    std::deque<PendingRow> m_pending;
    qsizetype m_bufferLimit = kBufferRows;
    qint64 m_dropped = 0;
    uint64_t m_writeErrors = 0; // results not written, since opening
    bool m_outage = false;
    bool m_closing = false;
    bool m_schemaComplete = false; // a server's objects all existed
    bool m_connecting = false; // errors of the schema check shown once
    QString m_lastConnectError;
    QString m_monitorId;         // names this monitor's batch marker
    qint64 m_batchNumber = 0;    // of the last batch tried
    std::size_t m_unsureRows = 0; // rows of a batch whose COMMIT went unanswered
    QTimer m_reconnectTimer;
    // The connection attempt off the owner's thread: 0 under way, 1 the
    // server answered, 2 it did not.
    std::thread m_probe;
    std::atomic<int> m_probeState{0};
};

} // namespace qm
