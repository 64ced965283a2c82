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

// DATESTAMP holds UTC as "YYYY-MM-DD HH:MM:SS.mmm": fixed width, so text
// order is time order, also across daylight-saving changes; readers show it
// in local time.
QString ResultsDatabase::DateStamp(std::chrono::system_clock::time_point now)
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

const QString& ResultsDatabase::DateStampNow()
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

namespace {

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
    // A Boolean value: SQLite stores it as 1 or 0, PostgreSQL takes no number.
    if (numeric)
        return n != 0;
    if (t == QLatin1String("true") || t == QLatin1String("yes") || t == QLatin1String("on"))
        return true;
    if (t == QLatin1String("false") || t == QLatin1String("no") || t == QLatin1String("off"))
        return false;
    ok = false;
    return QVariant();
}

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
    QObject::connect(&m_commitTimer, &QTimer::timeout, &m_commitTimer,
                     [this] { m_dialect->server ? writePending() : flush(); });
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
    QObject::connect(&m_reconnectTimer, &QTimer::timeout, &m_reconnectTimer,
                     [this] { reconnect(); });
}

ResultsDatabase::~ResultsDatabase()
{
    close();
    // A connection attempt under way ends within its time-out.
    if (m_probe.joinable())
        m_probe.join();
}

QString ResultsDatabase::DefaultFileName()
{
    return QDir(QDir::currentPath()).filePath(QStringLiteral("Quillmere.mdb"));
}

bool ResultsDatabase::open(SettingsStore& settings, const QString& commandLineTarget)
{
    m_keepDays = LoadKeepDays(settings);
    QString error;
    const std::optional<DatabaseTarget> target =
        ResolveDatabaseTarget(settings, commandLineTarget, &error);
    if (!target) {
        showError(QStringLiteral("No results database: %1. Results are not recorded.").arg(error));
        return false;
    }
    if (target->onServer())
        return openServer(*target, true);
    QString path = target->file;
    if (path.isEmpty()) {
        path = DefaultFileName();
        SaveDatabaseFile(settings, path);
    }
    return openFile(path);
}

bool ResultsDatabase::isOpen() const
{
    return m_db.isValid() && m_db.isOpen();
}

void ResultsDatabase::showError(const QString& text)
{
    // A server tried again and again fails the same way each time.
    if (m_connecting) {
        if (text == m_lastConnectError)
            return;
        m_lastConnectError = text;
    }
    m_prompt.inform(OperatorPrompt::Icon::Stop, text.toStdString());
}

bool ResultsDatabase::exec(const QString& statement, QString* error)
{
    QSqlQuery query(m_db);
    if (query.exec(statement))
        return true;
    if (error)
        *error = DatabaseErrorText(query.lastError());
    return false;
}

bool ResultsDatabase::openFile(const QString& path)
{
    close();
    m_dialect = &SqliteDialect();
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

    m_db = QSqlDatabase::addDatabase(DatabaseTarget::kSqlite, m_connectionName);
    m_db.setDatabaseName(m_path);
    // Fail at once on a file another process holds rather than wait for it.
    m_db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=0"));
    if (!m_db.open()) {
        showError(
            QStringLiteral("Cannot open the results database %1: %2. Results are not recorded.")
                .arg(m_path, DatabaseErrorText(m_db.lastError())));
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

void ResultsDatabase::closeConnection()
{
    m_commitTimer.stop();
    m_pruneTimer.stop();
    m_retentionTimer.stop();
    m_prune.active = false;
    m_inBatch = false;
    m_batchRows = 0;
    m_reconnectTimer.stop();
    m_outage = false;
    m_pending.clear();
    m_dropped = 0;
    m_services.clear();
    dropStatements();
    if (m_db.isValid()) {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connectionName);
    }
}

void ResultsDatabase::close()
{
    // A server that went away (or restarted while idle) gets one more
    // chance, bounded by its connection time-out.
    m_closing = true;
    if (!flush() && reconnectNow())
        flush();
    m_closing = false;
    if (m_dialect->server && isOpen())
        exec(QStringLiteral("DELETE FROM QUILLMERE_STATE WHERE NAME = 'B:%1'").arg(m_monitorId));
    // What a server could not take by now is lost: say so.
    m_writeErrors += m_pending.size();
    if (!m_pending.empty() || m_dropped > 0)
        showError(QStringLiteral("%1 results could not be written to the results database %2 "
                                 "and are lost.")
                      .arg(static_cast<qint64>(m_pending.size()) + m_dropped)
                      .arg(m_path));
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
    if (m_dialect->server) {
        while (!m_pending.empty())
            if (!writePending())
                return false;
        return true;
    }
    if (!m_inBatch)
        return true;
    m_commitTimer.stop();
    const int batchRows = m_batchRows;
    m_inBatch = false;
    m_batchRows = 0;
    QString error;
    if (m_markServices->exec() && exec(QStringLiteral("COMMIT"), &error))
        return true;
    if (error.isEmpty())
        error = DatabaseErrorText(m_markServices->lastError());
    // What the failed commit held is lost: the in-memory services go back to
    // what the file holds.
    exec(QStringLiteral("ROLLBACK"));
    loadServices();
    reportRecordError(error, batchRows);
    return false;
}

void ResultsDatabase::reportRecordError(const QString& description, qint64 lostRows)
{
    m_writeErrors += static_cast<uint64_t>(lostRows);
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
    // A server takes results while open or waiting for it; a file once its
    // statements are prepared.
    if (m_dialect->server ? !recording() : !m_insert)
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

    auto text = [this](const QString& t, int width) {
        if (m_dialect->textHoldsNul || !t.contains(QChar(0)))
            return CutText(t, width);
        return CutText(QString(t).replace(QChar(0), QChar(QChar::ReplacementCharacter)), width);
    };
    PendingRow row;
    row.key = ServiceKey{text(host, kHostWidth), text(protocol, kProtocolWidth),
                         portValue.isNull() ? -1 : portValue.toLongLong()};
    row.values = {TextValue(row.key.host), TextValue(row.key.protocol), portValue, frequencyValue,
                  timeValue,  TextValue(text(message, kMessageWidth)), failureValue,
                  DateStampNow()};
    if (m_dialect->server) {
        queueRow(std::move(row));
        return true;
    }
    QString error;
    if (!beginBatch())
        return true; // shown; the result's other handling goes on
    if (!insertRow(row, &error) || !addService(row.key, &error)) {
        reportRecordError(error);
        return true; // shown; the result's other handling goes on
    }
    m_lastRecordError.clear();
    if (++m_batchRows >= kBatchRows)
        flush();
    return true;
}

bool ResultsDatabase::insertRow(const PendingRow& row, QString* error)
{
    for (int i = 0; i < static_cast<int>(row.values.size()); ++i)
        m_insert->bindValue(i, row.values[static_cast<std::size_t>(i)]);
    if (m_insert->exec())
        return true;
    *error = DatabaseErrorText(m_insert->lastError());
    return false;
}

bool ResultsDatabase::addService(const ServiceKey& key, QString* error)
{
    if (m_services.contains(key))
        return true;
    m_addService->bindValue(0, TextValue(key.host));
    m_addService->bindValue(1, TextValue(key.protocol));
    m_addService->bindValue(2, key.port < 0 ? QVariant() : QVariant(key.port));
    if (!m_addService->exec()) {
        *error = DatabaseErrorText(m_addService->lastError());
        return false;
    }
    m_services.insert(key);
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
        showError(DatabaseErrorText(query.lastError()));
    const int deleted = ok ? query.numRowsAffected() : 0;
    QString error;
    if (ok && !(exec(QStringLiteral("DELETE FROM SERVICES"), &error) &&
                exec(QString::fromLatin1(m_dialect->markServices), &error)))
        showError(error);
    loadServices();
    m_prompt.inform(OperatorPrompt::Icon::Plain,
                    QString::asprintf("%d Records Deleted", deleted).toStdString());
    return ok ? deleted : -1;
}

} // namespace qm
