// The results database on a PostgreSQL server: rows wait in memory until
// their batch is committed, and an outage of the server loses none of them.

#include "store/ResultsDatabase.h"

#include "platform/OperatorPrompt.h"

#include <QSqlError>
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
void ProbeServer(DatabaseTarget target, QString name, std::shared_ptr<std::atomic<int>> state)
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

} // namespace

bool ResultsDatabase::openServer(const DatabaseTarget& target, bool keepTrying)
{
    close();
    m_dialect = &PostgresDialect();
    m_target = target;
    m_path = target.displayName();
    m_lastRecordError.clear();
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
        if (!keepTrying || error.isEmpty()) {
            if (!error.isEmpty())
                showError(QStringLiteral("Cannot open the results database %1: %2. Results are "
                                         "not recorded.")
                              .arg(m_path, error));
            closeConnection();
            return false;
        }
        startOutage(error);
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
    // These show their own errors.
    if (configureConnection() && ensureSchema() && prepareStatements())
        return true;
    dropStatements();
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
    if (static_cast<qsizetype>(m_pending.size()) >= kBatchRows)
        writePending();
    else if (!m_commitTimer.isActive() && m_commitTimer.thread() == QThread::currentThread())
        m_commitTimer.start(kBatchInterval);
}

bool ResultsDatabase::writePending()
{
    m_commitTimer.stop();
    if (m_pending.empty())
        return true;
    if (!isOpen() || !m_insert)
        return false; // an outage: the reconnection writes them
    const auto rows = std::min<std::size_t>(m_pending.size(), kBatchRows);

    // Each batch adds its own services, in one order for every monitor, so
    // two batches that add the same ones wait for each other instead of
    // deadlocking.
    std::vector<const ServiceKey*> keys;
    for (std::size_t i = 0; i < rows; ++i)
        keys.push_back(&m_pending[i].key);
    auto order = [](const ServiceKey* a, const ServiceKey* b) {
        return std::tie(a->host, a->protocol, a->port) < std::tie(b->host, b->protocol, b->port);
    };
    std::sort(keys.begin(), keys.end(), order);
    m_services.clear();

    QString error;
    bool ok = exec(QStringLiteral("BEGIN"), &error);
    for (std::size_t i = 0; ok && i < keys.size(); ++i)
        ok = addService(*keys[i], &error);
    for (std::size_t i = 0; ok && i < rows; ++i)
        ok = insertRow(m_pending[i], &error);
    if (ok && !m_markServices->exec()) {
        error = DatabaseErrorText(m_markServices->lastError());
        ok = false;
    }
    ok = ok && exec(QStringLiteral("COMMIT"), &error);
    if (!ok) {
        if (isOpen())
            exec(QStringLiteral("ROLLBACK"));
        startOutage(error);
        return false;
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(rows));
    // The rest in the next turn of the event loop, so a long backlog does
    // not hold up the results coming in.
    if (!m_pending.empty() && m_commitTimer.thread() == QThread::currentThread())
        m_commitTimer.start(0);
    return true;
}

void ResultsDatabase::startOutage(const QString& error)
{
    m_commitTimer.stop();
    m_pruneTimer.stop();
    m_prune.active = false;
    {
        // The driver warns on standard error for each prepared statement it
        // cannot free on the lost connection; the operator is told below.
        static QtMessageHandler s_previous = nullptr;
        s_previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext& context, const QString& text) {
                if (!text.startsWith(QLatin1String("Unable to free statement")))
                    s_previous(type, context, text);
            });
        dropStatements();
        qInstallMessageHandler(s_previous);
    }
    m_db.close();
    if (!m_outage) {
        m_outage = true;
        m_prompt.inform(OperatorPrompt::Icon::Stop,
                        QStringLiteral("Results cannot be written to the results database %1: %2. "
                                       "They are kept in memory (at most %3) and written when "
                                       "the database can be reached again.")
                            .arg(m_path, error)
                            .arg(m_bufferLimit)
                            .toStdString());
    }
    m_reconnectTimer.start(kReconnectInterval);
}

void ResultsDatabase::reconnect()
{
    if (m_probe.joinable()) {
        const int state = m_probeState->load();
        if (state == kProbing)
            return;
        m_probe.join();
        QString error;
        if (state == kReachable && connectServer(&error)) {
            m_reconnectTimer.stop();
            m_outage = false;
            QString text = QStringLiteral("Recording to the results database %1 resumed: the %2 "
                                          "results kept in memory are written now.")
                               .arg(m_path)
                               .arg(m_pending.size());
            if (m_dropped > 0)
                text += QStringLiteral(" %1 results were lost: memory holds at most %2.")
                            .arg(m_dropped)
                            .arg(m_bufferLimit);
            m_dropped = 0;
            m_prompt.inform(OperatorPrompt::Icon::Information, text.toStdString());
            if (m_commitTimer.thread() == QThread::currentThread())
                m_commitTimer.start(0);
            else
                writePending();
            return;
        }
    }
    m_probeState = std::make_shared<std::atomic<int>>(kProbing);
    m_probe = std::thread(ProbeServer, m_target, m_connectionName + QStringLiteral("-probe"),
                          m_probeState);
}

} // namespace qm
