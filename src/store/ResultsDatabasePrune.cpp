// Retention of the results database: rows older than the kept days are
// removed in bounded slices of the row key.

#include "store/ResultsDatabase.h"

#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>

namespace qm {

void ResultsDatabase::setKeepDays(int days)
{
    m_keepDays = std::max(0, days);
    m_retentionTimer.stop();
    m_pruneTimer.stop();
    m_prune.active = false;
    if (m_keepDays == 0 || !recording())
        return;
    m_retentionTimer.start(kPruneInterval);
    if (startPrune(m_keepDays))
        m_pruneTimer.start();
}

bool ResultsDatabase::startPrune(int days)
{
    m_prune = PruneState{};
    // A file whose statements could not be prepared takes no results.
    if (!isOpen() || (!m_dialect->server && !m_insert) || days <= 0)
        return false;
    flush();
    if (!isOpen())
        return false;
    // min() and max() together would read the whole table; apart, each is
    // one seek.
    qint64 bounds[2] = {0, -1};
    const char* const statements[2] = {"SELECT min(\"INDEX\") FROM HISTORY",
                                       "SELECT max(\"INDEX\") FROM HISTORY"};
    for (int i = 0; i < 2; ++i) {
        QSqlQuery q(m_db);
        q.setForwardOnly(true);
        if (!q.exec(QString::fromLatin1(statements[i]))) {
            showError(DatabaseErrorText(q.lastError()));
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
    if (!isOpen()) {
        m_prune.active = false;
        return false;
    }
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
        showError(DatabaseErrorText(q.lastError()));
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
    if (!exec(QStringLiteral("DELETE FROM SERVICES WHERE NOT (%1)")
                  .arg(QLatin1String(m_dialect->serviceHasRows)),
              &error))
        showError(error);
    loadServices();
}

} // namespace qm
