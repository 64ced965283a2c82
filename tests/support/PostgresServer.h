#pragma once

#include "support/ScratchDir.h"

#include <optional>
#include <string>

namespace qm::test {

// A PostgreSQL 15 server of a test: a cluster of its own in a temporary
// folder owned by the postgres user (initdb and pg_ctl refuse to run as
// root), listening on 127.0.0.1 at a free port and on a socket in that
// folder only. Trust authentication for the user "postgres". Stopped and
// removed when destroyed.
class PostgresServer
{
public:
    PostgresServer() = default;
    ~PostgresServer();
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    // Creates the cluster on the first call, then starts the server and
    // waits until it takes connections. Empty on success, else why not
    // (naming the Debian package when a program is missing).
    std::string start();
    // Fast shutdown, waiting until the server is gone.
    bool stop();
    // Creates a database; empty on success, else psql's output.
    std::string createDatabase(const std::string& name);

    int port() const { return m_port; }
    // postgresql://postgres@127.0.0.1:PORT/name
    std::string url(const std::string& database) const;

private:
    std::optional<ScratchDir> m_scratch; // made by the first start()
    std::string m_dir;
    int m_port = 0;
};

} // namespace qm::test
