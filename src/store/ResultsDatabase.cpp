#include "store/ResultsDatabase.h"

#include "platform/OperatorPrompt.h"
#include "store/SettingsStore.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

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
QString DateStampNow()
{
    using namespace std::chrono;
    const auto now = system_clock::now();
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

// NULL for an empty text, else the text cut to the field width without
// splitting a surrogate pair.
QVariant TextField(const QString& text, int width)
{
    if (text.isEmpty())
        return QVariant();
    if (text.size() <= width)
        return text;
    int cut = width;
    if (text.at(cut - 1).isHighSurrogate())
        --cut;
    return text.left(cut);
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

} // namespace

ResultsDatabase::ResultsDatabase(OperatorPrompt& prompt) : m_prompt(prompt)
{
    static std::atomic<int> s_count{0};
    m_connectionName = QStringLiteral("quillmere-results-%1").arg(++s_count);
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
    return openFile(path);
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

    m_insert = std::make_unique<QSqlQuery>(m_db);
    m_insert->setForwardOnly(true);
    if (!m_insert->prepare(QStringLiteral("INSERT INTO HISTORY (HOST, PROTOCOL, PORT, FREQUENCY, "
                                          "TIME, MESSAGE, FAILURE, DATESTAMP) "
                                          "VALUES (?, ?, ?, ?, ?, ?, ?, ?)"))) {
        showError(QStringLiteral(
                      "The table HISTORY of %1 cannot take results: %2. Results are not recorded.")
                      .arg(m_path, ErrorText(m_insert->lastError())));
        m_insert.reset();
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
    // files) and a log of up to 16 MB between checkpoints (each of which
    // syncs) keep appends in the tens of thousands a second.
    static const char* const kSetup[] = {
        "PRAGMA page_size=1024",     "PRAGMA locking_mode=EXCLUSIVE",   "PRAGMA journal_mode=WAL",
        "PRAGMA synchronous=NORMAL", "PRAGMA wal_autocheckpoint=16000", "BEGIN EXCLUSIVE",
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
    }
    if (!exec(QStringLiteral("COMMIT"), &error)) {
        showError(QStringLiteral("Cannot write the results database %1: %2").arg(m_path, error));
        exec(QStringLiteral("ROLLBACK"));
        return false;
    }
    return ok;
}

void ResultsDatabase::closeConnection()
{
    m_insert.reset();
    if (m_db.isValid()) {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connectionName);
    }
}

void ResultsDatabase::close()
{
    closeConnection();
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

    m_insert->bindValue(0, TextField(host, kHostWidth));
    m_insert->bindValue(1, TextField(protocol, kProtocolWidth));
    m_insert->bindValue(2, portValue);
    m_insert->bindValue(3, frequencyValue);
    m_insert->bindValue(4, timeValue);
    m_insert->bindValue(5, TextField(message, kMessageWidth));
    m_insert->bindValue(6, failureValue);
    m_insert->bindValue(7, DateStampNow());
    if (!m_insert->exec()) {
        reportRecordError(ErrorText(m_insert->lastError()));
        return true; // shown; the result's other handling goes on
    }
    m_lastRecordError.clear();
    return true;
}

int ResultsDatabase::ClearHistory()
{
    if (!isOpen()) {
        showError(QStringLiteral("The results database %1 is not open.").arg(m_path));
        return -1;
    }
    // An error is shown and the count is told all the same (0 then).
    QSqlQuery query(m_db);
    const bool ok = query.exec(QStringLiteral("DELETE FROM HISTORY"));
    if (!ok)
        showError(ErrorText(query.lastError()));
    const int deleted = ok ? query.numRowsAffected() : 0;
    m_prompt.inform(OperatorPrompt::Icon::Plain,
                    QString::asprintf("%d Records Deleted", deleted).toStdString());
    return ok ? deleted : -1;
}

} // namespace qm
