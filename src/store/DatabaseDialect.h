#pragma once

#include <QString>

class QSqlDatabase;
class QSqlError;

namespace qm {

// What differs between the two engines behind the results database: the
// SQLite file and a PostgreSQL server. Everything else (HISTORY with its
// nine fields and both indexes, SERVICES, the log viewer's queries) is the
// same SQL on both.
struct DatabaseDialect
{
    const char* driver;
    // Texts may hold a 0 byte (PostgreSQL's text cannot).
    bool textHoldsNul;
    // A server shared by several monitors over the network: rows wait in
    // memory until their batch is committed, so an outage loses none, and
    // each batch adds its services itself (another monitor may have removed
    // them meanwhile).
    bool server;
    // Run first on a new connection; the last one starts the transaction in
    // which the schema is checked (SQLite: the exclusive lock on the file;
    // PostgreSQL: a lock that makes monitors starting together take turns).
    const char* const* setup;
    // Count of tables HISTORY, and of its columns FREQUENCY.
    const char* historyExists;
    const char* frequencyExists;
    const char* createHistory;
    const char* frequencyType; // FREQUENCY added to a table of an old version
    // Columns of the index SERVICE; its entries end in the row key.
    const char* serviceIndex;
    const char* createServices;
    const char* servicesKey; // empty when SERVICES has no key
    const char* createState;
    // SERVICES_UPTO of QUILLMERE_STATE set to the highest INDEX.
    const char* markServices;
    // Adds one service (SQLite; a server's batches add theirs themselves).
    const char* addService;
    // Ends an INSERT ... SELECT into SERVICES: what another monitor added
    // meanwhile is no error.
    const char* skipDuplicates;
    // A row h of HISTORY and a row of SERVICES name the same service (empty
    // parts, stored as NULL, equal too).
    const char* sameService;
    // A row of SERVICES still has rows in HISTORY. On a server each case of
    // NULL parts is its own EXISTS, so the SERVICE index serves every one.
    const char* serviceHasRows;
    // DATESTAMP as the text "YYYY-MM-DD HH:MM:SS.mmm" (UTC).
    const char* stampText;
    // HOST compared byte by byte, so the hosts list in the same order on
    // both engines.
    const char* hostInByteOrder;
    // A server only. Taken by each batch after BEGIN: batches of several
    // monitors run side by side, a schema check waits until none runs.
    const char* batchLock;
    // Upserts the marker 'B:' + monitor id (%1) to the batch number (%2) in
    // the batch's transaction, so a batch whose COMMIT went unanswered is
    // known to be written or not.
    const char* batchMarker;
    // The objects of the schema that exist (HISTORY, its indexes, SERVICES
    // with its key, QUILLMERE_STATE): when all do, the schema check creates
    // nothing and so takes no lock on a table.
    const char* schemaComplete;
};

// How a statement on a server failed: the connection is gone, the server
// cannot take the batch now (a lock or time-out, resources, a read-only
// server), or the rows themselves were refused.
enum class ServerFailure
{
    Connection,
    Transient,
    Rows
};
ServerFailure ClassifyServerError(const QSqlError& error);

const DatabaseDialect& SqliteDialect();
const DatabaseDialect& PostgresDialect();
// The dialect of an open connection (SQLite for any other driver).
const DatabaseDialect& DialectOf(const QSqlDatabase& db);

// The engine's own description of an error, else Qt's.
QString DatabaseErrorText(const QSqlError& error);

} // namespace qm
