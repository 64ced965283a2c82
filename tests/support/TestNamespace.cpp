#include "support/TestNamespace.h"

#include "support/Command.h"
#include "support/ServerProcess.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sched.h>
#include <thread>
#include <unistd.h>

namespace qm::test {

namespace {
constexpr const char* kIp = "/usr/sbin/ip";
constexpr const char* kPrefix = "qm-probes-";

// The ip tool's exit status (-1 when it did not exit normally).
int RunIp(const std::string& args)
{
    return RunCommand(std::string(kIp) + " " + args, 30).status;
}

// Namespaces left behind by test processes that died before cleaning up.
void RemoveStaleNamespaces()
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/var/run/netns", error)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with(kPrefix))
            continue;
        const pid_t owner = static_cast<pid_t>(std::atoi(name.c_str() + std::strlen(kPrefix)));
        if (owner > 0 && ::kill(owner, 0) != 0 && errno == ESRCH)
            RunIp("netns del " + name);
    }
}
} // namespace

TestNamespace::TestNamespace()
{
    static std::atomic<int> counter{0};
    m_name = kPrefix + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    if (const std::string missing = RequireProgram(kIp, "iproute2"); !missing.empty()) {
        m_error = missing;
        return;
    }
    RemoveStaleNamespaces();
    if (RunIp("netns add " + m_name) != 0) {
        m_error = "ip netns add " + m_name + " failed (needs CAP_SYS_ADMIN)";
        return;
    }
    m_created = true;
    if (RunIp("-n " + m_name + " link set lo up") != 0)
        m_error = "cannot bring lo up in " + m_name;
    else if (RunIp("-n " + m_name + " route add 10.77.0.0/16 dev lo") != 0)
        m_error = "cannot add the silent route in " + m_name;
}

TestNamespace::~TestNamespace()
{
    if (m_created)
        RunIp("netns del " + m_name);
}

std::string TestNamespace::runHere(const std::function<void()>& fn) const
{
    if (!m_error.empty())
        return m_error;
    const int home = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    const std::string path = "/var/run/netns/" + m_name;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    std::string failure;
    if (home < 0 || fd < 0) {
        failure = "cannot open " + (home < 0 ? std::string("this thread's namespace") : path) + ": " +
                  std::strerror(errno);
    } else if (::setns(fd, CLONE_NEWNET) != 0) {
        // Only this thread moves into the namespace, and back afterwards.
        failure = "setns into " + m_name + " failed: " + std::strerror(errno);
    } else {
        fn();
        ::setns(home, CLONE_NEWNET);
    }
    for (const int open : {home, fd})
        if (open >= 0)
            ::close(open);
    return failure;
}

std::string TestNamespace::run(const std::function<void()>& fn) const
{
    std::string failure;
    std::thread worker([&] { failure = runHere(fn); });
    worker.join();
    return failure;
}

} // namespace qm::test
