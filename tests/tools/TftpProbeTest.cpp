// The TFTP probe against tftpd-hpa on a loopback port, and against scripted
// peers that stay silent or answer from elsewhere.
#include "probes/ProbeRun.h"
#include "support/ScratchDir.h"
#include "support/ServerProcess.h"
#include "support/UdpScriptedServer.h"
#include "tools/ServiceProbes.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <poll.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace qm;
using namespace qm::test;
using namespace std::chrono_literals;

namespace {

// One datagram within 5 s, and its sender; empty when none came.
std::string Receive(int fd, sockaddr_in* from)
{
    pollfd p{fd, POLLIN, 0};
    char buf[2048];
    socklen_t length = sizeof(sockaddr_in);
    const ssize_t n = ::poll(&p, 1, 5000) == 1
                          ? ::recvfrom(fd, buf, sizeof(buf), 0, reinterpret_cast<sockaddr*>(from), &length)
                          : -1;
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

} // namespace

TEST(ToolsTftpd, DataAndErrorAnswersBothMeanTheServerIsUp)
{
    ASSERT_EQ(RequireProgram("/usr/sbin/in.tftpd", "tftpd-hpa"), "");
    const ScratchDir dir("qm-tools-tftp");
    WriteFile(dir / "served", std::string(600, 'q'));
    WriteFile(dir / "secret", "not for you");
    // Files that are not readable by everyone are refused (the server sends
    // the system's error text under code 0).
    ::chmod((dir / "served").c_str(), 0644);
    ::chmod((dir / "secret").c_str(), 0600);
    const int port = FreeLoopbackPort(true);
    ServerProcess server;
    server.start({"/usr/sbin/in.tftpd", "-L", "-a", "127.0.0.1:" + std::to_string(port), "-s", dir.path()},
                 dir / "tftpd.log");
    ASSERT_TRUE(WaitForUdpPort(port, 10s)) << server.log();

    const std::pair<std::string, std::string> cases[] = {
        {"served", "ok: TFTP: DATA block 1, 512 bytes"},
        {"missing", "ok: TFTP: ERROR 1 File not found"},
        {"secret", "ok: TFTP: ERROR 0 Permission denied"},
        // The entry names no file: the default one is asked for.
        {"", "ok: TFTP: ERROR 1 File not found"},
    };
    for (const auto& [file, expected] : cases) {
        const ProbeRun run([&](ProbeSocket& p) { ProbeTftp(p, "127.0.0.1", port, file); });
        EXPECT_EQ(run.texts, Texts{expected}) << file;
    }
}

TEST(ToolsTftp, SilenceAndAnswersFromElsewhere)
{
    const TftpTiming quick{300, 2};
    // A silent server hears the request twice, then the probe gives up.
    UdpScriptedServer silent([](const std::string&) { return std::nullopt; });
    const auto started = std::chrono::steady_clock::now();
    const ProbeRun quiet([&](ProbeSocket& p) { ProbeTftp(p, "127.0.0.1", silent.port(), "", quick); });
    EXPECT_EQ(quiet.texts, Texts{"fail: Timed out"});
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
    const std::string request("\0\1quillmere-probe\0octet\0", 24);
    EXPECT_EQ(silent.requests(), (std::vector<std::string>{request, request}));

    // The request is answered first from another host, which does not count,
    // then from another port of the server's host, which does; the probe ends
    // that transfer.
    int serverPort = 0, transferPort = 0;
    const int server = BindLoopback(SOCK_DGRAM, &serverPort);
    const int transfer = BindLoopback(SOCK_DGRAM, &transferPort);
    std::string ended;
    std::thread peer([&] {
        sockaddr_in probe{};
        if (Receive(server, &probe) != std::string("\0\1boot.img\0octet\0", 17))
            return;
        SendLoopbackDatagram(ntohs(probe.sin_port), std::string("\0\5\0\1File not found\0", 19), "127.0.0.2");
        const std::string data("\0\3\0\1abc", 7);
        ::sendto(transfer, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&probe), sizeof(probe));
        ended = Receive(transfer, &probe);
    });
    const ProbeRun answered([&](ProbeSocket& p) { ProbeTftp(p, "127.0.0.1", serverPort, "boot.img", quick); });
    peer.join();
    ::close(server);
    ::close(transfer);
    EXPECT_EQ(answered.texts, Texts{"ok: TFTP: DATA block 1, 3 bytes"});
    EXPECT_EQ(ended, std::string("\0\5\0\0probe done\0", 15));
}
