#pragma once

#include "support/ScriptedServer.h"

#include <functional>
#include <string>
#include <sys/socket.h>
#include <vector>

namespace qm::test {

// The replies of a mail server that takes the message.
inline std::vector<std::string> SmtpAccepting(const std::string& greeting = "220 mx\r\n",
                                              const std::string& dataReply = "354 go\r\n")
{
    return {greeting, "250 ok\r\n", "250 ok\r\n", "250 ok\r\n", dataReply, "250 queued\r\n", "221 bye\r\n"};
}

// A mail server that sends the first reply as its greeting and each further
// one after a command, the message after DATA counting as one command.
// `before` runs first on every connection.
inline ScriptedServer::Script ScriptedSmtp(std::vector<std::string> replies, std::function<void()> before = {})
{
    return [replies = std::move(replies), before = std::move(before)](ScriptedConnection& c) {
        if (before)
            before();
        std::string end = "\r\n";
        for (std::size_t i = 0; i < replies.size(); ++i) {
            if (i > 0) {
                const std::string command = c.receiveUntil(end);
                if (command.empty())
                    return;
                end = command == "DATA\r\n" ? "\r\n.\r\n" : "\r\n";
            }
            c.send(replies[i]);
        }
    };
}

// A mail server that greets, reads HELO and resets the connection: the client
// is past its connect for sure, and reading the reply to HELO fails.
inline void ResetAfterHelo(ScriptedConnection& c)
{
    c.send("220 mx\r\n");
    c.receiveUntil("\r\n");
    const linger hard{1, 0};
    ::setsockopt(c.fd(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    c.close();
}

} // namespace qm::test
