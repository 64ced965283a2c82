#include "store/ResultsDatabase.h"

#include "platform/OperatorPrompt.h"
#include "store/ConfigSections.h"
#include "store/SettingsStore.h"

#include <QDir>
#include <QHash>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QThread>
#include <QVariant>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <limits>

namespace qm {

namespace {

const QString kSection = QStringLiteral("ConfigDatabase");
const QString kFileValue = QStringLiteral("DATABASE_FILE");

// DATESTAMP holds UTC as "YYYY-MM-DD HH:MM:SS.mmm": fixed width, so text
// order is time order, also across daylight-saving changes; readers show it
// in local time.
QString DateStamp(std::chrono::system_clock::time_point now)
{
    using namespace std::chrono;
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d.%03d", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(millis));
    return QString::fromLatin1(buffer);
}

// The stamp of the current millisecond; results that come within the same
// millisecond share one text.
const QString& DateStampNow()
{
    thread_local std::chrono::milliseconds lastMs{-1};
    thread_local QString last;
    const auto now = std::chrono::system_clock::now();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch());
    if (ms != lastMs) {
        lastMs = ms;
        last = DateStamp(now);
    }
    return last;
}

// The text cut to the field width without splitting a surrogate pair.
QString CutText(const QString& text, int width)
{
    if (text.size() <= width)
        return text;
    int cut = width;
    if (text.at(cut - 1).isHighSurrogate())
        --cut;
    return text.left(cut);
}

// NULL for an empty text, else the text.
QVariant TextValue(const QString& text)
{
    return text.isEmpty() ? QVariant() : QVariant(text);
}

// NULL for an empty text; a decimal number within [low, high]; otherwise an
// invalid conversion.
QVariant NumberField(const QString& text, qint64 low, qint64 high, bool& ok)
{
    ok = true;
    if (text.isEmpty())
        return QVariant();
    const qint64 value = text.trimmed().toLongLong(&ok);
    if (!ok || value < low || value > high) {
        ok = false;
        return QVariant();
    }
    return value;
}

QVariant BooleanField(const QString& text, bool& ok)
{
    ok = true;
    if (text.isEmpty())
        return QVariant();
    const QString t = text.trimmed().toLower();
    bool numeric = false;
    const qint64 n = t.toLongLong(&numeric);
    if (numeric)
        return n != 0 ? 1 : 0;
    if (t == QLatin1String("true") || t == QLatin1String("yes") || t == QLatin1String("on"))
        return 1;
    if (t == QLatin1String("false") || t == QLatin1String("no") || t == QLatin1String("off"))
        return 0;
    ok = false;
    return QVariant();
}

bool IsLocked(const QSqlError& error)
{
    // SQLITE_BUSY (5) and SQLITE_LOCKED (6).
    const QString code = error.nativeErrorCode();
    return code == QLatin1String("5") || code == QLatin1String("6") ||
           error.text().contains(QLatin1String("locked"), Qt::CaseInsensitive);
}

QString ErrorText(const QSqlError& error)
{
    QString text = error.databaseText();
    if (text.isEmpty())
        text = error.text();
    return text.isEmpty() ? QStringLiteral("unknown database error") : text;
}

const char* const kCreateTable = "CREATE TABLE HISTORY ("
                                 "\"INDEX\" INTEGER PRIMARY KEY AUTOINCREMENT, "
                                 "HOST VARCHAR(96) CHECK (length(HOST) <= 96), "
                                 "PROTOCOL VARCHAR(12) CHECK (length(PROTOCOL) <= 12), "
                                 "PORT SMALLINT, "
                                 "FREQUENCY SMALLINT, "
                                 "TIME INTEGER, "
                                 "MESSAGE VARCHAR(255) CHECK (length(MESSAGE) <= 255), "
                                 "FAILURE BOOLEAN CHECK (FAILURE IN (0, 1)), "
                                 "DATESTAMP DATETIME)";

const char* const kCreateServices = "CREATE TABLE IF NOT EXISTS SERVICES ("
                                    "HOST VARCHAR(96), PROTOCOL VARCHAR(12), PORT SMALLINT)";
// SERVICES_UPTO: the highest INDEX whose service SERVICES is known to hold.
const char* const kCreateState = "CREATE TABLE IF NOT EXISTS QUILLMERE_STATE ("
                                 "NAME VARCHAR(32) PRIMARY KEY, VALUE INTEGER)";
const char* const kMarkServices =
    "REPLACE INTO QUILLMERE_STATE (NAME, VALUE) "
    "VALUES ('SERVICES_UPTO', (SELECT max(\"INDEX\") FROM HISTORY))";

} // namespace

std::size_t ResultsDatabase::ServiceKeyHash::operator()(const ServiceKey& k) const noexcept
{
    return qHash(k.host) ^ (qHash(k.protocol) * 31u) ^ (static_cast<std::size_t>(k.port) * 131u);
}

ResultsDatabase::ResultsDatabase(OperatorPrompt& prompt) : m_prompt(prompt)
{
    static std::atomic<int> s_count{0};
    m_connectionName = QStringLiteral("quillmere-results-%1").arg(++s_count);
    m_commitTimer.setSingleShot(true);
    m_commitTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_commitTimer, &QTimer::timeout, &m_commitTimer, [this] { flush(); });
    // Pauses between slices leave the event loop room for the results.
    m_pruneTimer.setInterval(5);
    QObject::connect(&m_pruneTimer, &QTimer::timeout, &m_pruneTimer, [this] {
        if (!pruneSlice())
            m_pruneTimer.stop();
    });
    QObject::connect(&m_retentionTimer, &QTimer::timeout, &m_retentionTimer, [this] {
        if (!m_prune.active && startPrune(m_keepDays))
            m_pruneTimer.start();
    });
}

ResultsDatabase::~ResultsDatabase()
{
    close();
}

QString ResultsDatabase::DefaultFileName()
{
    return QDir(QDir::currentPath()).filePath(QStringLiteral("Quillmere.mdb"));
}

bool ResultsDatabase::open(SettingsStore& settings, const QString& commandLineFile)
{
    QString path = commandLineFile;
    if (path.isEmpty()) {
        path = settings.readString(kSection, kFileValue);
        if (path.isEmpty()) {
            path = DefaultFileName();
            settings.writeString(kSection, kFileValue, path);
        }
    }
    m_keepDays = LoadKeepDays(settings);
    return openFile(path);
}

void ResultsDatabase::setKeepDays(int days)
{
    m_keepDays = std::max(0, days);
    m_retentionTimer.stop();
    m_pruneTimer.stop();
    m_prune.active = false;
    if (m_keepDays == 0 || !isOpen())
        return;
    m_retentionTimer.start(kPruneInterval);
    if (startPrune(m_keepDays))
        m_pruneTimer.start();
}

bool ResultsDatabase::isOpen() const
{
    return m_db.isValid() && m_db.isOpen();
}

void ResultsDatabase::showError(const QString& text)
{
    m_prompt.inform(OperatorPrompt::Icon::Stop, text.toStdString());
}

bool ResultsDatabase::exec(const QString& statement, QString* error)
{
    QSqlQuery query(m_db);
    if (query.exec(statement))
        return true;
    if (error)
        *error = ErrorText(query.lastError());
    return false;
}

bool ResultsDatabase::openFile(const QString& path)
{
    close();
    m_path = QFileInfo(path).absoluteFilePath();
    m_lastRecordError.clear();

    const QFileInfo info(m_path);
    if (!info.absoluteDir().exists()) {
        showError(
            QStringLiteral("Cannot open the results database %1: the folder %2 does not exist. "
                           "Results are not recorded.")
                .arg(m_path, info.absolutePath()));
        return false;
    }

    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    m_db.setDatabaseName(m_path);
    // Fail at once on a file another process holds rather than wait for it.
    m_db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=0"));
    if (!m_db.open()) {
        showError(
            QStringLiteral("Cannot open the results database %1: %2. Results are not recorded.")
                .arg(m_path, ErrorText(m_db.lastError())));
        closeConnection();
        return false;
    }
    if (!configureConnection() || !ensureSchema()) {
        closeConnection();
        return false;
    }

    if (!prepareStatements()) {
        m_insert.reset();
        return true;
    }
    if (m_keepDays > 0)
        setKeepDays(m_keepDays);
    return true;
}

bool ResultsDatabase::prepareStatements()
{
    m_insert = std::make_unique<QSqlQuery>(m_db);
    m_addService = std::make_unique<QSqlQuery>(m_db);
    m_markServices = std::make_unique<QSqlQuery>(m_db);
    const std::pair<QSqlQuery*, const char*> statements[] = {
        {m_insert.get(), "INSERT INTO HISTORY (HOST, PROTOCOL, PORT, FREQUENCY, TIME, MESSAGE, "
                         "FAILURE, DATESTAMP) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"},
        {m_addService.get(), "INSERT INTO SERVICES (HOST, PROTOCOL, PORT) VALUES (?, ?, ?)"},
        {m_markServices.get(), kMarkServices},
    };
    for (const auto& [query, text] : statements) {
        query->setForwardOnly(true);
        if (!query->prepare(QString::fromLatin1(text))) {
            showError(QStringLiteral("The table HISTORY of %1 cannot take results: %2. Results "
                                     "are not recorded.")
                          .arg(m_path, ErrorText(query->lastError())));
            return false;
        }
    }
    return true;
}

bool ResultsDatabase::configureConnection()
{
    // The lock is taken by the first statement that touches the file and, in
    // exclusive locking mode, kept until the connection closes: a second
    // running copy fails here and leaves the file alone. Write-ahead logging
    // with synchronous=NORMAL makes each append a cheap commit that survives
    // a killed process; only a power cut may lose the last few.
    //
    // Every commit writes whole pages to the log, so small pages (for new
    // files) keep the log small; a checkpoint (which syncs) every 4 MB of log
    // keeps each one short, as it runs inside the commit that crosses it.
    // A page cache of 32 MB keeps the SERVICE index of a large table at hand
    // for the log viewer's per-service reads.
    static const char* const kSetup[] = {
        "PRAGMA page_size=1024",     "PRAGMA locking_mode=EXCLUSIVE",   "PRAGMA journal_mode=WAL",
        "PRAGMA synchronous=NORMAL", "PRAGMA wal_autocheckpoint=4000", "PRAGMA cache_size=-32768",
        "BEGIN EXCLUSIVE",
    };
    for (const char* statement : kSetup) {
        QSqlQuery query(m_db);
        if (query.exec(QString::fromLatin1(statement)))
            continue;
        const QSqlError error = query.lastError();
        if (IsLocked(error))
            showError(
                QStringLiteral("The results database %1 is in use by another running copy of "
                               "Quillmere. This copy runs without a results database: its results "
                               "are not recorded.")
                    .arg(m_path));
        else
            showError(
                QStringLiteral("Cannot open the results database %1: %2. Results are not recorded.")
                    .arg(m_path, ErrorText(error)));
        return false;
    }
    return true;
}

bool ResultsDatabase::ensureSchema()
{
    QString error;
    QSqlQuery query(m_db);
    if (!query.exec(QStringLiteral(
            "SELECT name FROM sqlite_master WHERE type = 'table' AND name = 'HISTORY'"))) {
        showError(QStringLiteral("Cannot read the tables of %1: %2")
                      .arg(m_path, ErrorText(query.lastError())));
        exec(QStringLiteral("ROLLBACK"));
        return false;
    }
    const bool haveTable = query.next();
    query.finish();

    bool ok = true;
    if (!haveTable) {
        if (!exec(QString::fromLatin1(kCreateTable), &error)) {
            showError(
                QStringLiteral("Cannot create the table HISTORY in %1: %2").arg(m_path, error));
            ok = false;
        }
    } else {
        bool haveFrequency = false;
        QSqlQuery columns(m_db);
        if (columns.exec(QStringLiteral("PRAGMA table_info(HISTORY)"))) {
            while (columns.next())
                haveFrequency |= columns.value(1).toString().compare(QLatin1String("FREQUENCY"),
                                                                     Qt::CaseInsensitive) == 0;
        }
        columns.finish();
        // Tables of older versions have no FREQUENCY; their rows read NULL there.
        if (!haveFrequency &&
            !exec(QStringLiteral("ALTER TABLE HISTORY ADD COLUMN FREQUENCY SMALLINT"), &error))
            showError(QStringLiteral("Cannot add the field FREQUENCY to HISTORY in %1: %2")
                          .arg(m_path, error));
    }
    if (ok) {
        // "INDEX" is the row key itself; the named index keeps the table's
        // documented layout. SERVICE serves the log viewer's per-service query.
        if (!exec(QStringLiteral(
                      "CREATE UNIQUE INDEX IF NOT EXISTS \"INDEX\" ON HISTORY (\"INDEX\")"),
                  &error))
            showError(QStringLiteral("Cannot create the index INDEX in %1: %2").arg(m_path, error));
        if (!exec(QStringLiteral(
                      "CREATE INDEX IF NOT EXISTS SERVICE ON HISTORY (HOST, PROTOCOL, PORT)"),
                  &error))
            showError(
                QStringLiteral("Cannot create the index SERVICE in %1: %2").arg(m_path, error));
        ok = ensureServices() && loadServices();
    }
    if (!exec(QStringLiteral("COMMIT"), &error)) {
        showError(QStringLiteral("Cannot write the results database %1: %2").arg(m_path, error));
        exec(QStringLiteral("ROLLBACK"));
        return false;
    }
    return ok;
}

bool ResultsDatabase::ensureServices()
{
    QString error;
    if (!exec(QString::fromLatin1(kCreateServices), &error) ||
        !exec(QString::fromLatin1(kCreateState), &error)) {
        showError(QStringLiteral("Cannot create the table SERVICES in %1: %2").arg(m_path, error));
        return false;
    }
    // Rows above SERVICES_UPTO came from a copy of the program without
    // SERVICES, or the table is new: add their services. A file with no
    // SERVICES_UPTO is read whole, through the covering SERVICE index.
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    qint64 upto = -1, last = -1;
    if (q.exec(QStringLiteral("SELECT VALUE FROM QUILLMERE_STATE WHERE NAME = 'SERVICES_UPTO'")) &&
        q.next() && !q.value(0).isNull())
        upto = q.value(0).toLongLong();
    q.finish();
    if (q.exec(QStringLiteral("SELECT max(\"INDEX\") FROM HISTORY")) && q.next() &&
        !q.value(0).isNull())
        last = q.value(0).toLongLong();
    q.finish();
    bool ok = true;
    if (last < 0) {
        ok = exec(QStringLiteral("DELETE FROM SERVICES"), &error);
    } else if (upto < 0) {
        ok = exec(QStringLiteral("DELETE FROM SERVICES"), &error) &&
             exec(QStringLiteral("INSERT INTO SERVICES SELECT DISTINCT HOST, PROTOCOL, PORT "
                                 "FROM HISTORY"),
                  &error);
    } else if (last > upto) {
        ok = exec(QStringLiteral("INSERT INTO SERVICES SELECT DISTINCT HOST, PROTOCOL, PORT "
                                 "FROM HISTORY h WHERE h.\"INDEX\" > %1 AND NOT EXISTS "
                                 "(SELECT 1 FROM SERVICES s WHERE s.HOST IS h.HOST AND "
                                 "s.PROTOCOL IS h.PROTOCOL AND s.PORT IS h.PORT)")
                      .arg(upto),
                  &error);
    }
    if (ok)
        ok = exec(QString::fromLatin1(kMarkServices), &error);
    if (!ok)
        showError(QStringLiteral("Cannot fill the table SERVICES in %1: %2").arg(m_path, error));
    return ok;
}

bool ResultsDatabase::loadServices()
{
    m_services.clear();
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT HOST, PROTOCOL, PORT FROM SERVICES"))) {
        showError(QStringLiteral("Cannot read the table SERVICES of %1: %2")
                      .arg(m_path, ErrorText(q.lastError())));
        return false;
    }
    while (q.next())
        m_services.insert(ServiceKey{q.value(0).toString(), q.value(1).toString(),
                                     q.value(2).isNull() ? -1 : q.value(2).toLongLong()});
    return true;
}

void ResultsDatabase::closeConnection()
{
    m_commitTimer.stop();
    m_pruneTimer.stop();
    m_retentionTimer.stop();
    m_prune.active = false;
    m_inBatch = false;
    m_batchRows = 0;
    m_services.clear();
    m_insert.reset();
    m_addService.reset();
    m_markServices.reset();
    if (m_db.isValid()) {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connectionName);
    }
}

void ResultsDatabase::close()
{
    flush();
    closeConnection();
}

bool ResultsDatabase::beginBatch()
{
    if (m_inBatch)
        return true;
    QString error;
    if (!exec(QStringLiteral("BEGIN"), &error)) {
        reportRecordError(error);
        return false;
    }
    m_inBatch = true;
    m_batchRows = 0;
    if (m_commitTimer.thread() == QThread::currentThread())
        m_commitTimer.start(kBatchInterval);
    return true;
}

bool ResultsDatabase::flush()
{
    if (!m_inBatch)
        return true;
    m_commitTimer.stop();
    m_inBatch = false;
    m_batchRows = 0;
    QString error;
    if (m_markServices->exec() && exec(QStringLiteral("COMMIT"), &error))
        return true;
    if (error.isEmpty())
        error = ErrorText(m_markServices->lastError());
    // What the failed commit held is lost: the in-memory services go back to
    // what the file holds.
    exec(QStringLiteral("ROLLBACK"));
    loadServices();
    reportRecordError(error);
    return false;
}

void ResultsDatabase::reportRecordError(const QString& description)
{
    // The same failure on every result would bury the operator in boxes.
    if (description == m_lastRecordError)
        return;
    m_lastRecordError = description;
    m_prompt.inform(OperatorPrompt::Icon::Stop, "RecordResults");
    showError(description);
}

bool ResultsDatabase::RecordResults(const QString& host, const QString& protocol,
                                    const QString& port, const QString& frequency,
                                    const QString& time, const QString& message,
                                    const QString& failure)
{
    if (!m_insert)
        return false;

    constexpr qint64 kIntMin = std::numeric_limits<qint32>::min();
    constexpr qint64 kIntMax = std::numeric_limits<qint32>::max();
    bool portOk = false, frequencyOk = false, timeOk = false, failureOk = false;
    const QVariant portValue = NumberField(port, 0, 65535, portOk);
    const QVariant frequencyValue = NumberField(frequency, kIntMin, kIntMax, frequencyOk);
    const QVariant timeValue = NumberField(time, kIntMin, kIntMax, timeOk);
    const QVariant failureValue = BooleanField(failure, failureOk);
    const char* badField = !portOk        ? "PORT"
                           : !frequencyOk ? "FREQUENCY"
                           : !timeOk      ? "TIME"
                           : !failureOk   ? "FAILURE"
                                          : nullptr;
    if (badField) {
        const QString& text = !portOk ? port : !frequencyOk ? frequency : !timeOk ? time : failure;
        reportRecordError(
            QStringLiteral("Data type conversion error: the field %1 cannot hold \"%2\".")
                .arg(QLatin1String(badField), text));
        return true; // shown; the result's other handling goes on
    }

    if (!beginBatch())
        return true; // shown; the result's other handling goes on
    ServiceKey key{CutText(host, kHostWidth), CutText(protocol, kProtocolWidth),
                   portValue.isNull() ? -1 : portValue.toLongLong()};
    const QVariant hostValue = TextValue(key.host);
    const QVariant protocolValue = TextValue(key.protocol);
    m_insert->bindValue(0, hostValue);
    m_insert->bindValue(1, protocolValue);
    m_insert->bindValue(2, portValue);
    m_insert->bindValue(3, frequencyValue);
    m_insert->bindValue(4, timeValue);
    m_insert->bindValue(5, TextValue(CutText(message, kMessageWidth)));
    m_insert->bindValue(6, failureValue);
    m_insert->bindValue(7, DateStampNow());
    if (!m_insert->exec()) {
        reportRecordError(ErrorText(m_insert->lastError()));
        return true; // shown; the result's other handling goes on
    }
    if (!m_services.contains(key)) {
        m_addService->bindValue(0, hostValue);
        m_addService->bindValue(1, protocolValue);
        m_addService->bindValue(2, portValue);
        if (!m_addService->exec()) {
            reportRecordError(ErrorText(m_addService->lastError()));
            return true;
        }
        m_services.insert(std::move(key));
    }
    m_lastRecordError.clear();
    if (++m_batchRows >= kBatchRows)
        flush();
    return true;
}

int ResultsDatabase::ClearHistory()
{
    if (!isOpen()) {
        showError(QStringLiteral("The results database %1 is not open.").arg(m_path));
        return -1;
    }
    // An error is shown and the count is told all the same (0 then).
    flush();
    QSqlQuery query(m_db);
    const bool ok = query.exec(QStringLiteral("DELETE FROM HISTORY"));
    if (!ok)
        showError(ErrorText(query.lastError()));
    const int deleted = ok ? query.numRowsAffected() : 0;
    QString error;
    if (ok && !(exec(QStringLiteral("DELETE FROM SERVICES"), &error) &&
                exec(QString::fromLatin1(kMarkServices), &error)))
        showError(error);
    loadServices();
    m_prompt.inform(OperatorPrompt::Icon::Plain,
                    QString::asprintf("%d Records Deleted", deleted).toStdString());
    return ok ? deleted : -1;
}

bool ResultsDatabase::startPrune(int days)
{
    m_prune = PruneState{};
    if (!isOpen() || !m_insert || days <= 0)
        return false;
    flush();
    // min() and max() together would read the whole table; apart, each is
    // one seek.
    qint64 bounds[2] = {0, -1};
    const char* const statements[2] = {"SELECT min(\"INDEX\") FROM HISTORY",
                                       "SELECT max(\"INDEX\") FROM HISTORY"};
    for (int i = 0; i < 2; ++i) {
        QSqlQuery q(m_db);
        q.setForwardOnly(true);
        if (!q.exec(QString::fromLatin1(statements[i]))) {
            showError(ErrorText(q.lastError()));
            return false;
        }
        if (!q.next() || q.value(0).isNull())
            return false; // no rows
        bounds[i] = q.value(0).toLongLong();
    }
    m_prune.active = true;
    m_prune.next = bounds[0];
    m_prune.end = bounds[1];
    m_prune.cutoff = DateStamp(std::chrono::system_clock::now() - std::chrono::hours(24) * days);
    return true;
}

bool ResultsDatabase::pruneSlice()
{
    if (!m_prune.active)
        return false;
    const auto start = std::chrono::steady_clock::now();
    flush();
    // A range of the row key is one short walk of the table, whatever the
    // dates in it; rows are compared one by one, so rows recorded while the
    // clock was set back are judged by their own DATESTAMP.
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("DELETE FROM HISTORY WHERE \"INDEX\" >= ? AND \"INDEX\" < ? "
                             "AND DATESTAMP < ?"));
    q.addBindValue(m_prune.next);
    q.addBindValue(m_prune.next + m_prune.sliceRows);
    q.addBindValue(m_prune.cutoff);
    if (!q.exec()) {
        m_prune.active = false;
        showError(ErrorText(q.lastError()));
        return false;
    }
    m_prune.deleted += std::max(0, q.numRowsAffected());
    m_prune.next += m_prune.sliceRows;
    if (m_prune.next > m_prune.end)
        finishPrune();

    const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start);
    // The next slice is sized to take about the target time.
    if (took > kPruneSliceTarget * 3 / 2)
        m_prune.sliceRows = std::max<qint64>(256, m_prune.sliceRows / 2);
    else if (took < kPruneSliceTarget / 2)
        m_prune.sliceRows = std::min<qint64>(1 << 20, m_prune.sliceRows * 2);
    return m_prune.active;
}

void ResultsDatabase::finishPrune()
{
    m_prune.active = false;
    if (m_prune.deleted == 0)
        return;
    // Services whose last rows went are no longer listed; one index seek each.
    QString error;
    if (!exec(QStringLiteral("DELETE FROM SERVICES WHERE NOT EXISTS (SELECT 1 FROM HISTORY h "
                             "WHERE h.HOST IS SERVICES.HOST AND h.PROTOCOL IS SERVICES.PROTOCOL "
                             "AND h.PORT IS SERVICES.PORT)"),
              &error))
        showError(error);
    loadServices();
}

} // namespace qm
