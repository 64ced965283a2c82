// Feeds arbitrary bytes as a server's replies to the line dialogues: each
// whole reply ("NNN-" lines up to the one that ends it) is read from a
// socket the way the mail, news and file transfer probes read it, and
// judged against a reply code.
#include "probes/ProbeConversation.h"
#include "probes/ProbeSocket.h"

#include <cstdint>
#include <sys/socket.h>
#include <unistd.h>

namespace {
class FuzzProbe : public qm::ProbeSocket
{
public:
    using ProbeSocket::ProbeSocket;
    using ProbeSocket::adoptSocket;
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // More than a socket pair buffers would block the write.
    if (size > 60000)
        return 0;
    static qm::DiscardingSink sink;
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        return 0;
    if (size > 0 && ::write(pair[1], data, size) != static_cast<ssize_t>(size)) {
        ::close(pair[0]);
        ::close(pair[1]);
        return 0;
    }
    ::close(pair[1]); // the server hangs up after its bytes
    FuzzProbe probe(sink);
    probe.adoptSocket(pair[0]);
    for (int replies = 0; replies < 8; ++replies) {
        const std::string reply = qm::ProbeConversation::ReadWholeReply(probe, replies % 2 ? '\r' : '\n');
        (void)qm::ProbeConversation::Accepted(reply, "250");
        if (reply.empty())
            break;
    }
    probe.CloseSocket();
    return 0;
}
