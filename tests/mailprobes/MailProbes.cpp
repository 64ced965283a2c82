#include "mailprobes/MailProbes.h"

#include <thread>

namespace qm::test {

ProbeRun RunProbe(Protocol protocol, const std::string& host, int port, const Login& login)
{
    return ProbeRun([&](ProbeSocket& p) {
        const auto& [user, password, domain] = login;
        switch (protocol) {
        case Protocol::Http: return p.ProbeHttp(host, port, user, password);
        case Protocol::Pop3: return p.ProbePop3(host, port, user, password, domain);
        case Protocol::Imap4: return p.ProbeImap4(host, port, user, password, domain);
        case Protocol::Smtp: return p.ProbeSmtp(host, port, user, password, domain);
        case Protocol::Esmtp: return p.ProbeEsmtp(host, port, user, password, domain);
        case Protocol::Ftp: return p.ProbeFtp(host, port, user, password);
        case Protocol::Nntp: return p.ProbeNntp(host, port, user, password, domain);
        }
    });
}

ScriptedServer::Script Scripted(Dialogue dialogue)
{
    return [dialogue](ScriptedConnection& conn) {
        std::this_thread::sleep_for(dialogue.greetingDelay);
        conn.send(dialogue.greeting);
        for (std::size_t i = 0; i < dialogue.replies.size(); ++i) {
            const std::string line = conn.receiveUntil("\n");
            if (line.empty() || line.back() != '\n')
                return; // the probe stopped talking
            if (i + 1 == dialogue.replies.size())
                std::this_thread::sleep_for(dialogue.lastReplyDelay);
            conn.send(dialogue.replies[i]);
        }
        if (dialogue.hangUp)
            conn.close();
        else
            conn.receiveAll(std::chrono::milliseconds(5000));
    };
}

} // namespace qm::test
