// The results database's tables: the connection's setup, HISTORY with its
// indexes, SERVICES, and the statements that append to them.

#include "store/ResultsDatabase.h"

#include "platform/OperatorPrompt.h"

#include <QSqlError>
#include <QSqlQuery>

namespace qm {

namespace {

bool IsLocked(const QSqlError& error)
{
    // SQLITE_BUSY (5) and SQLITE_LOCKED (6).
    const QString code = error.nativeErrorCode();
    return code == QLatin1String("5") || code == QLatin1String("6") ||
           error.text().contains(QLatin1String("locked"), Qt::CaseInsensitive);
}

} // namespace

bool ResultsDatabase::configureConnection()
{
    for (const char* const* statement = m_dialect->setup; *statement; ++statement) {
        QSqlQuery query(m_db);
        if (query.exec(QString::fromLatin1(*statement)))
            continue;
        const QSqlError error = query.lastError();
        if (!m_dialect->server && IsLocked(error))
            showError(
                QStringLiteral("The results database %1 is in use by another running copy of "
                               "Quillmere. This copy runs without a results database: its results "
                               "are not recorded.")
                    .arg(m_path));
        else
            showError(
                QStringLiteral("Cannot open the results database %1: %2. Results are not recorded.")
                    .arg(m_path, DatabaseErrorText(error)));
        return false;
    }
    return true;
}

bool ResultsDatabase::ensureSchema()
{
    QString error;
    auto count = [this, &error](const char* statement) {
        QSqlQuery query(m_db);
        query.setForwardOnly(true);
        if (query.exec(QString::fromLatin1(statement)) && query.next())
            return query.value(0).toInt();
        error = DatabaseErrorText(query.lastError());
        return -1;
    };
    const int tables = count(m_dialect->historyExists);
    if (tables < 0) {
        showError(QStringLiteral("Cannot read the tables of %1: %2").arg(m_path, error));
        exec(QStringLiteral("ROLLBACK"));
        return false;
    }
    const bool haveTable = tables > 0;
    // On a server whose objects all exist nothing is created: CREATE ... IF
    // NOT EXISTS would still lock the tables (and need to own them).
    m_schemaComplete = m_dialect->server && haveTable && count(m_dialect->schemaComplete) > 0;
    bool ok = true;
    if (!haveTable) {
        if (!exec(QString::fromLatin1(m_dialect->createHistory), &error)) {
            showError(
                QStringLiteral("Cannot create the table HISTORY in %1: %2").arg(m_path, error));
            ok = false;
        }
    } else if (count(m_dialect->frequencyExists) == 0) {
        // Tables of older versions have no FREQUENCY; their rows read NULL there.
        if (!exec(QStringLiteral("ALTER TABLE HISTORY ADD COLUMN FREQUENCY %1")
                      .arg(QLatin1String(m_dialect->frequencyType)),
                  &error))
            showError(QStringLiteral("Cannot add the field FREQUENCY to HISTORY in %1: %2")
                          .arg(m_path, error));
    }
    if (ok && m_schemaComplete) {
        ok = ensureServices() && loadServices();
    } else if (ok) {
        // "INDEX" is the row key itself; the named index keeps the table's
        // documented layout. SERVICE serves the log viewer's per-service query.
        if (!exec(QStringLiteral(
                      "CREATE UNIQUE INDEX IF NOT EXISTS \"INDEX\" ON HISTORY (\"INDEX\")"),
                  &error))
            showError(QStringLiteral("Cannot create the index INDEX in %1: %2").arg(m_path, error));
        if (!exec(QStringLiteral("CREATE INDEX IF NOT EXISTS SERVICE ON HISTORY %1")
                      .arg(QLatin1String(m_dialect->serviceIndex)),
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
    const QString key = QString::fromLatin1(m_dialect->servicesKey);
    if (!m_schemaComplete &&
        (!exec(QString::fromLatin1(m_dialect->createServices), &error) ||
         (!key.isEmpty() && !exec(key, &error)) ||
         !exec(QString::fromLatin1(m_dialect->createState), &error))) {
        showError(QStringLiteral("Cannot create the table SERVICES in %1: %2").arg(m_path, error));
        return false;
    }
    // On a server every batch adds its own services: a SERVICES that was
    // there is whole, and reading the rows recorded since would make the
    // other monitors' batches wait.
    if (m_dialect->server && m_schemaComplete)
        return true;
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
    const QString skip = QString::fromLatin1(m_dialect->skipDuplicates);
    bool ok = true;
    if (last < 0) {
        ok = exec(QStringLiteral("DELETE FROM SERVICES"), &error);
    } else if (upto < 0) {
        ok = exec(QStringLiteral("DELETE FROM SERVICES"), &error) &&
             exec(QStringLiteral("INSERT INTO SERVICES SELECT DISTINCT HOST, PROTOCOL, PORT "
                                 "FROM HISTORY") +
                      skip,
                  &error);
    } else if (last > upto) {
        ok = exec(QStringLiteral("INSERT INTO SERVICES SELECT DISTINCT HOST, PROTOCOL, PORT "
                                 "FROM HISTORY h WHERE h.\"INDEX\" > %1 AND NOT EXISTS "
                                 "(SELECT 1 FROM SERVICES WHERE %2)")
                          .arg(upto)
                          .arg(QLatin1String(m_dialect->sameService)) +
                      skip,
                  &error);
    }
    if (ok)
        ok = exec(QString::fromLatin1(m_dialect->markServices), &error);
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
                      .arg(m_path, DatabaseErrorText(q.lastError())));
        return false;
    }
    while (q.next())
        m_services.insert(ServiceKey{q.value(0).toString(), q.value(1).toString(),
                                     q.value(2).isNull() ? -1 : q.value(2).toLongLong()});
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
        {m_addService.get(), m_dialect->addService},
        {m_markServices.get(), m_dialect->markServices},
    };
    for (const auto& [query, text] : statements) {
        query->setForwardOnly(true);
        if (!query->prepare(QString::fromLatin1(text))) {
            showError(QStringLiteral("The table HISTORY of %1 cannot take results: %2. Results "
                                     "are not recorded.")
                          .arg(m_path, DatabaseErrorText(query->lastError())));
            return false;
        }
    }
    return true;
}

void ResultsDatabase::dropStatements()
{
    m_insert.reset();
    m_addService.reset();
    m_markServices.reset();
}

} // namespace qm
