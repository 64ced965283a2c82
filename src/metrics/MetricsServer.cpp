#include "metrics/MetricsServer.h"

#include "metrics/MetricsRegistry.h"
#include "metrics/MetricsText.h"

#include <cerrno>
#include <cstring>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {

namespace {

MHD_Result Reply(MHD_Connection* connection, unsigned status, const QByteArray& body, const char* type,
                 const char* allow = nullptr)
{
    MHD_Response* response = MHD_create_response_from_buffer(static_cast<size_t>(body.size()),
                                                             const_cast<char*>(body.constData()),
                                                             MHD_RESPMEM_MUST_COPY);
    if (response == nullptr)
        return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type);
    if (allow != nullptr)
        MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, allow);
    const MHD_Result queued = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return queued;
}

MHD_Result Handle(void* cls, MHD_Connection* connection, const char* url, const char* method,
                  const char*, const char*, size_t*, void**)
{
    const auto* registry = static_cast<const MetricsRegistry*>(cls);
    constexpr char kText[] = "text/plain; charset=utf-8";
    if (std::strcmp(method, MHD_HTTP_METHOD_GET) != 0 && std::strcmp(method, MHD_HTTP_METHOD_HEAD) != 0)
        return Reply(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "Method Not Allowed\n", kText, "GET, HEAD");
    if (std::strcmp(url, "/metrics") != 0)
        return Reply(connection, MHD_HTTP_NOT_FOUND, "Not Found\n", kText);
    return Reply(connection, MHD_HTTP_OK, RenderMetrics(registry->snapshot()), kMetricsContentType);
}

// A listening socket on the address (SO_REUSEADDR; an IPv6 socket for IPv6
// only), or -1 with `error` naming the cause.
int ListenSocket(const ResolvedListenAddress& address, QString* error)
{
    const int fd = ::socket(address.address.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        *error = qt_error_string(errno);
        return -1;
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (address.address.ss_family == AF_INET6)
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address.address), address.length) != 0
        || ::listen(fd, SOMAXCONN) != 0) {
        *error = qt_error_string(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

MetricsServer::MetricsServer(const MetricsRegistry& registry) : m_registry(registry)
{
}

MetricsServer::~MetricsServer()
{
    stop();
}

bool MetricsServer::listen(const ResolvedListenAddress& address, QString* error)
{
    stop();
    QString problem;
    const int fd = ListenSocket(address, &problem);
    if (fd >= 0) {
        struct stat before = {};
        ::fstat(fd, &before);
        unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_AUTO;
        if (address.address.ss_family == AF_INET6)
            flags |= MHD_USE_IPv6;
        // The daemon owns the socket from here and closes it when stopped.
        m_daemon = MHD_start_daemon(flags, 0, nullptr, nullptr, &Handle, const_cast<MetricsRegistry*>(&m_registry),
                                    MHD_OPTION_LISTEN_SOCKET, fd, MHD_OPTION_CONNECTION_TIMEOUT, kIdleTimeoutSeconds,
                                    MHD_OPTION_CONNECTION_LIMIT, kMaxConnections, MHD_OPTION_END);
        if (m_daemon == nullptr) {
            // The library closes the socket on some of its failures only: it
            // is closed here when the descriptor is still that socket.
            struct stat after = {};
            if (::fstat(fd, &after) == 0 && after.st_dev == before.st_dev && after.st_ino == before.st_ino)
                ::close(fd);
            problem = QStringLiteral("the HTTP server did not start");
        }
    }
    if (m_daemon == nullptr && error)
        *error = problem;
    return m_daemon != nullptr;
}

void MetricsServer::stop()
{
    if (m_daemon != nullptr)
        MHD_stop_daemon(m_daemon);
    m_daemon = nullptr;
}

} // namespace qm
