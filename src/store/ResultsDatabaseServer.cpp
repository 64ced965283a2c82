// The results database on a PostgreSQL server: rows wait in memory until
// their batch is committed, and an outage of the server loses none of them.

#include "store/ResultsDatabase.h"

#include "platform/OperatorPrompt.h"

#include <QRandomGenerator>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QThread>

#include <algorithm>
#include <tuple>

namespace qm {

namespace {

enum ProbeState
{
    kProbing = 0,
    kReachable = 1,
    kUnreachable = 2
};

// Every wait on the server is bounded: the connection attempt by its
// time-out, a dead peer by keep-alives and by the time unacknowledged data
// may stay unsent.
void ApplyTarget(QSqlDatabase& db, const DatabaseTarget& target)
{
    db.setHostName(target.host);
    db.setPort(target.port);
    db.setDatabaseName(target.name);
    db.setUserName(target.user);
    if (!target.password.isEmpty())
        db.setPassword(target.password);
    db.setConnectOptions(
        QStringLiteral("connect_timeout=%1;keepalives=1;keepalives_idle=10;"
                       "keepalives_interval=5;keepalives_count=3;tcp_user_timeout=20000;"
                       "application_name=quillmere")
            .arg(ResultsDatabase::kConnectTimeoutSeconds));
}

// One connection attempt on a thread of its own, with a connection of its own.
void ProbeServer(DatabaseTarget target, QString name, std::atomic<int>* state)
{
    bool reachable = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(DatabaseTarget::kPostgres, name);
        ApplyTarget(db, target);
        reachable = db.open();
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    state->store(reachable ? kReachable : kUnreachable);
}

// The values as SQL literals, e.g. "('a', NULL, 80)".
QString Literals(const QSqlDriver& driver, std::initializer_list<QVariant> values)
{
    QString text = QStringLiteral("(");
    for (const QVariant& value : values) {
        QSqlField field(QString(), value.metaType());
        field.setValue(value);
        if (text.size() > 1)
            text += u',';
        text += driver.formatValue(field);
    }
    return text + u')';
}

} // namespace

bool ResultsDatabase::openServer(const DatabaseTarget& target, bool keepTrying)
{
    close();
    m_dialect = &PostgresDialect();
    m_target = target;
    m_path = target.displayName();
    m_lastRecordError.clear();
    m_lastConnectError.clear();
    if (m_monitorId.isEmpty())
        m_monitorId = QString::number(QRandomGenerator::system()->generate64(), 16);
    m_db = QSqlDatabase::addDatabase(DatabaseTarget::kPostgres, m_connectionName);
    if (!m_db.isValid()) {
        showError(QStringLiteral("Cannot open the results database %1: the PostgreSQL driver of "
                                 "Qt is not installed (Debian package libqt6sql6-psql). Results "
                                 "are not recorded.")
                      .arg(m_path));
        closeConnection();
        return false;
    }
    ApplyTarget(m_db, target);
    QString error;
    if (!connectServer(&error)) {
        if (!keepTrying) {
            // A failed check of the tables showed its own error.
            if (!error.isEmpty())
                showError(QStringLiteral("Cannot open the results database %1: %2. Results are "
                                         "not recorded.")
                              .arg(m_path, error));
            closeConnection();
            return false;
        }
        startOutage(error.isEmpty() ? QStringLiteral("its tables cannot be checked") : error);
    }
    if (m_keepDays > 0)
        setKeepDays(m_keepDays);
    return isOpen();
}

bool ResultsDatabase::connectServer(QString* error)
{
    error->clear();
    if (!m_db.open()) {
        *error = DatabaseErrorText(m_db.lastError());
        return false;
    }
    // These show their own errors, each one once while they repeat. Batches
    // are literal statements, so nothing is prepared on a server.
    m_connecting = true;
    const bool ok = configureConnection() && ensureSchema();
    m_connecting = false;
    if (ok)
        return true;
    m_db.close();
    return false;
}

void ResultsDatabase::queueRow(PendingRow&& row)
{
    // The bound holds while nothing can be written; once written again the
    // backlog shrinks by a batch per turn of the event loop.
    if (m_outage && static_cast<qsizetype>(m_pending.size()) >= m_bufferLimit) {
        ++m_dropped;
        ++m_writeErrors;
        return;
    }
    m_pending.push_back(std::move(row));
    if (m_outage)
        return;
    const bool full = static_cast<qsizetype>(m_pending.size()) >= kBatchRows;
    // Batches are written from the timer only, never inside the caller.
    if (m_commitTimer.thread() != QThread::currentThread()) {
        if (full)
            writePending();
    } else if (full && m_commitTimer.remainingTime() != 0) {
        m_commitTimer.start(0);
    } else if (!m_commitTimer.isActive()) {
        m_commitTimer.start(kBatchInterval);
    }
}

bool ResultsDatabase::writePending()
{
    m_commitTimer.stop();
    if (m_pending.empty())
        return true;
    if (!isOpen())
        return false; // an outage: the reconnection writes them
    QString error;
    if (!writeBatch(std::min<std::size_t>(m_pending.size(), kBatchRows), &error)) {
        startOutage(error);
        return false;
    }
    // The rest in the next turn of the event loop, so a long backlog does
    // not hold up the results coming in.
    if (!m_pending.empty() && m_commitTimer.thread() == QThread::currentThread())
        m_commitTimer.start(0);
    return true;
}

bool ResultsDatabase::writeBatch(std::size_t rows, QString* error)
{
    std::optional<ServerFailure> failure = execBatch(rows, false, error);
    if (failure == ServerFailure::Rows)
        failure = execBatch(rows, true, error);
    if (failure == ServerFailure::Rows) {
        // Refused even without its rows (e.g. no right to the marker): the
        // batch is lost, not tried again for ever.
        reportRecordError(*error, static_cast<qint64>(rows));
        failure.reset();
    }
    if (failure)
        return false;
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(rows));
    return true;
}

std::optional<ServerFailure> ResultsDatabase::execBatch(std::size_t rows, bool oneByOne,
                                                        QString* error)
{
    const QSqlDriver& driver = *m_db.driver();
    QSqlError failure;
    auto run = [this, &failure](const QString& statement) {
        QSqlQuery query(m_db);
        if (query.exec(statement))
            return true;
        failure = query.lastError();
        return false;
    };
    auto services = [&](const std::vector<const ServiceKey*>& keys) {
        QString text = QStringLiteral("INSERT INTO SERVICES (HOST, PROTOCOL, PORT) VALUES ");
        for (const ServiceKey* k : keys)
            text += Literals(driver, {k->host.isEmpty() ? QVariant() : QVariant(k->host),
                                      k->protocol.isEmpty() ? QVariant() : QVariant(k->protocol),
                                      k->port < 0 ? QVariant() : QVariant(k->port)}) +
                    u',';
        text.chop(1);
        return run(text + QLatin1String(m_dialect->skipDuplicates));
    };
    auto history = [&](std::size_t first, std::size_t count) {
        QString text = QStringLiteral("INSERT INTO HISTORY (HOST, PROTOCOL, PORT, FREQUENCY, TIME, "
                                      "MESSAGE, FAILURE, DATESTAMP) VALUES ");
        for (std::size_t i = first; i < first + count; ++i) {
            const auto& v = m_pending[i].values;
            text += Literals(driver, {v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]}) + u',';
        }
        text.chop(1);
        return run(text);
    };

    ++m_batchNumber;
    m_unsureRows = rows;
    bool ok = run(QStringLiteral("BEGIN")) && run(QString::fromLatin1(m_dialect->batchLock));
    QStringList refused; // the errors of rows left out
    if (ok && !oneByOne) {
        // Services in one order for every monitor, so two batches that add
        // the same ones wait for each other instead of deadlocking.
        std::vector<const ServiceKey*> keys;
        for (std::size_t i = 0; i < rows; ++i)
            keys.push_back(&m_pending[i].key);
        auto order = [](const ServiceKey* a, const ServiceKey* b) {
            return std::tie(a->host, a->protocol, a->port) <
                   std::tie(b->host, b->protocol, b->port);
        };
        std::sort(keys.begin(), keys.end(), order);
        keys.erase(std::unique(keys.begin(), keys.end(),
                               [](const ServiceKey* a, const ServiceKey* b) { return *a == *b; }),
                   keys.end());
        ok = services(keys) && history(0, rows);
    }
    for (std::size_t i = 0; ok && oneByOne && i < rows; ++i) {
        ok = run(QStringLiteral("SAVEPOINT quillmere_row"));
        if (ok && services({&m_pending[i].key}) && history(i, 1)) {
            ok = run(QStringLiteral("RELEASE SAVEPOINT quillmere_row"));
        } else if (ok && ClassifyServerError(failure) == ServerFailure::Rows) {
            // The first line: the details name the row, the error is the same.
            refused << DatabaseErrorText(failure).section(u'\n', 0, 0);
            ok = run(QStringLiteral("ROLLBACK TO SAVEPOINT quillmere_row"));
        } else {
            ok = false;
        }
    }
    ok = ok &&
         run(QString::fromLatin1(m_dialect->batchMarker).arg(m_monitorId).arg(m_batchNumber)) &&
         run(QStringLiteral("COMMIT"));
    if (ok) {
        m_unsureRows = 0;
        if (refused.empty())
            m_lastRecordError.clear();
        for (const QString& text : refused)
            reportRecordError(text);
        return std::nullopt;
    }
    *error = DatabaseErrorText(failure);
    const ServerFailure kind = ClassifyServerError(failure);
    if (kind != ServerFailure::Connection) {
        // Rolled back for sure: nothing of the batch was written.
        run(QStringLiteral("ROLLBACK"));
        m_unsureRows = 0;
    }
    return kind;
}

bool ResultsDatabase::settleUnsureBatch()
{
    if (m_unsureRows == 0)
        return true;
    QSqlQuery q(m_db);
    if (!q.exec(QStringLiteral("SELECT VALUE FROM QUILLMERE_STATE WHERE NAME = 'B:%1'")
                    .arg(m_monitorId)))
        return false;
    if (q.next() && q.value(0).toLongLong() == m_batchNumber)
        m_pending.erase(m_pending.begin(),
                        m_pending.begin() + static_cast<std::ptrdiff_t>(
                                                std::min(m_unsureRows, m_pending.size())));
    m_unsureRows = 0;
    return true;
}

void ResultsDatabase::startOutage(const QString& error)
{
    m_commitTimer.stop();
    m_pruneTimer.stop();
    m_prune.active = false;
    dropStatements();
    m_db.close();
    if (!m_outage && !m_closing)
        m_prompt.inform(OperatorPrompt::Icon::Stop,
                        QStringLiteral("Results cannot be written to the results database %1: %2. "
                                       "They are kept in memory (at most %3) and written when "
                                       "the database can be reached again.")
                            .arg(m_path, error)
                            .arg(m_bufferLimit)
                            .toStdString());
    m_outage = true;
    if (!m_closing)
        m_reconnectTimer.start(kReconnectInterval);
}

void ResultsDatabase::reconnect()
{
    if (m_probe.joinable()) {
        const int state = m_probeState.load();
        if (state == kProbing)
            return;
        m_probe.join();
        QString error;
        if (state == kReachable && connectServer(&error)) {
            // Resumed once a batch is written again: until then the outage
            // goes on without another message.
            const std::size_t kept = m_pending.size();
            if (settleUnsureBatch() &&
                (m_pending.empty() ||
                 writeBatch(std::min<std::size_t>(m_pending.size(), kBatchRows), &error))) {
                m_reconnectTimer.stop();
                m_outage = false;
                QString text = QStringLiteral("Recording to the results database %1 resumed: the "
                                              "%2 results kept in memory are written now.")
                                   .arg(m_path)
                                   .arg(kept);
                if (m_dropped > 0)
                    text += QStringLiteral(" %1 results were lost: memory holds at most %2.")
                                .arg(m_dropped)
                                .arg(m_bufferLimit);
                m_dropped = 0;
                m_prompt.inform(OperatorPrompt::Icon::Information, text.toStdString());
                if (m_commitTimer.thread() == QThread::currentThread())
                    m_commitTimer.start(0);
                else
                    flush();
                return;
            }
            startOutage(error);
        }
    }
    // An earlier probe is joined by now (above or in reconnectNow()) and the
    // destructor joins this one, so no thread writes the state after it.
    m_probeState.store(kProbing);
    m_probe = std::thread(ProbeServer, m_target, m_connectionName + QStringLiteral("-probe"),
                          &m_probeState);
}

bool ResultsDatabase::reconnectNow()
{
    if (!m_db.isValid() || !m_dialect->server)
        return false;
    if (m_probe.joinable())
        m_probe.join(); // within its connection time-out
    QString error;
    if (!connectServer(&error))
        return false;
    if (!settleUnsureBatch()) {
        startOutage(error);
        return false;
    }
    m_reconnectTimer.stop();
    m_outage = false;
    return true;
}

} // namespace qm
