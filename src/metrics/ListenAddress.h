#pragma once

#include <QString>

#include <optional>
#include <sys/socket.h>

namespace qm {

// ADDRESS:PORT as the metrics listener takes it: an IPv4 address, an IPv6
// address in brackets ("[::1]:9464") or a host name, and a port 1..65535.
struct ListenAddress
{
    QString host; // without the brackets
    int port = 0;

    QString text() const;
};

// Checks the form only (no look-up); on failure `error` says what is wrong.
std::optional<ListenAddress> ParseListenAddress(const QString& text, QString* error = nullptr);

// A listen address looked up: the first socket address the name gives.
struct ResolvedListenAddress
{
    sockaddr_storage address{};
    socklen_t length = 0;
};

// Looks the host up (a numeric address at once; a name may take the
// resolver's own bounded time, so not on a thread that must stay responsive).
std::optional<ResolvedListenAddress> ResolveListenAddress(const ListenAddress& address, QString* error = nullptr);

} // namespace qm
