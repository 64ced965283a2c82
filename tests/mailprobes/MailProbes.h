#pragma once

#include "mailprobes/MailDaemon.h"
#include "probes/ProbeRun.h"

#include <chrono>
#include <string>
#include <vector>

namespace qm::test {

enum class Protocol { Http, Pop3, Imap4, Smtp, Esmtp, Ftp, Nntp };

// The credentials and e-mail domain of a probed host.
struct Login
{
    std::string user = kMailUser;
    std::string password = kMailPassword;
    std::string domain = kMailDomain;
};

// Runs the stream probe of the protocol once on a fresh probe object.
ProbeRun RunProbe(Protocol protocol, const std::string& host, int port, const Login& login = {});

// A scripted line server: the greeting, then one reply for each line the
// probe sends (nothing once they run out), then it waits (bounded) for the
// probe to close, or hangs up at once.
struct Dialogue
{
    std::string greeting;
    std::vector<std::string> replies;
    std::chrono::milliseconds greetingDelay{0};
    std::chrono::milliseconds lastReplyDelay{0};
    bool hangUp = false;
};
ScriptedServer::Script Scripted(Dialogue dialogue);

} // namespace qm::test
