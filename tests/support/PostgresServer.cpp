#include "support/PostgresServer.h"

#include "support/Command.h"
#include "support/ServerProcess.h"

#include <pwd.h>
#include <unistd.h>

namespace qm::test {

namespace {

const std::string kBin = "/usr/lib/postgresql/15/bin/";

// A command run as the postgres user.
CommandResult AsPostgres(const std::string& command)
{
    return RunCommand("runuser -u postgres -- " + command, 60);
}

} // namespace

PostgresServer::~PostgresServer()
{
    if (!m_dir.empty())
        stop(); // before the folder goes
}

std::string PostgresServer::start()
{
    for (const char* program : {"initdb", "pg_ctl", "psql"})
        if (std::string missing = RequireProgram(kBin + program, "postgresql-15"); !missing.empty())
            return missing;
    if (m_dir.empty()) {
        const passwd* user = ::getpwnam("postgres");
        if (!user)
            return "no user postgres: install the Debian package postgresql-15";
        const std::string& dir = m_scratch.emplace("quillmere-pg").path();
        if (dir.empty() || ::chown(dir.c_str(), user->pw_uid, user->pw_gid) != 0)
            return "cannot make a folder for the cluster";
        m_dir = dir;
        const CommandResult init = AsPostgres(kBin + "initdb -D " + m_dir +
                                              "/data -A trust -U postgres --no-locale -E UTF8 "
                                              "--no-sync");
        if (init.status != 0)
            return "initdb failed: " + init.output;
        m_port = FreeLoopbackPort();
    }
    const CommandResult started =
        AsPostgres(kBin + "pg_ctl -D " + m_dir + "/data -l " + m_dir + "/log -w -t 30 -o \"-p " +
                   std::to_string(m_port) + " -k " + m_dir +
                   " -c listen_addresses=127.0.0.1 -c fsync=off\" start");
    if (started.status != 0)
        return "pg_ctl start failed: " + started.output + ReadFile(m_dir + "/log");
    return {};
}

bool PostgresServer::stop()
{
    return AsPostgres(kBin + "pg_ctl -D " + m_dir + "/data -m fast -w -t 30 stop").status == 0;
}

std::string PostgresServer::createDatabase(const std::string& name)
{
    const CommandResult r =
        RunCommand(kBin + "psql -h 127.0.0.1 -p " + std::to_string(m_port) +
                   " -U postgres -d postgres -c \"CREATE DATABASE " + name + "\"");
    return r.status == 0 ? std::string() : r.output;
}

std::string PostgresServer::url(const std::string& database) const
{
    return "postgresql://postgres@127.0.0.1:" + std::to_string(m_port) + "/" + database;
}

} // namespace qm::test
