#include "metrics/MetricsServer.h"

#include "metrics/MetricsRegistry.h"
#include "metrics/MetricsText.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <microhttpd.h>
#include <mutex>
#include <netinet/in.h>
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

// Binds and listens on the address as the library does (SO_REUSEADDR; an
// IPv6 socket for IPv6 only), then lets go: after the library failed, this
// tells why with an errno of our own call. Empty when it can listen there.
QString ListenProblem(const ResolvedListenAddress& address)
{
    const int fd = ::socket(address.address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return qt_error_string(errno);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (address.address.ss_family == AF_INET6)
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    QString problem;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address.address), address.length) != 0
        || ::listen(fd, 1) != 0)
        problem = qt_error_string(errno);
    ::close(fd);
    return problem;
}

} // namespace

// The library's messages while it starts (the last one is kept); later ones,
// about single connections, are dropped.
struct MetricsServer::StartLog
{
    std::mutex lock;
    bool open = false;
    QString last;

    static void Write(void* cls, const char* format, va_list args)
    {
        auto* log = static_cast<StartLog*>(cls);
        char text[512];
        std::vsnprintf(text, sizeof text, format, args);
        std::lock_guard guard(log->lock);
        if (log->open)
            log->last = QString::fromLocal8Bit(text).trimmed();
    }
};

MetricsServer::MetricsServer(const MetricsRegistry& registry)
    : m_registry(registry), m_log(std::make_unique<StartLog>())
{
}

MetricsServer::~MetricsServer()
{
    stop();
}

bool MetricsServer::listen(const ResolvedListenAddress& address, QString* error)
{
    stop();
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_AUTO | MHD_USE_ERROR_LOG;
    if (address.address.ss_family == AF_INET6)
        flags |= MHD_USE_IPv6;
    {
        std::lock_guard guard(m_log->lock);
        m_log->open = true;
        m_log->last.clear();
    }
    m_daemon = MHD_start_daemon(flags, 0, nullptr, nullptr, &Handle, const_cast<MetricsRegistry*>(&m_registry),
                                MHD_OPTION_EXTERNAL_LOGGER, &StartLog::Write, m_log.get(),
                                MHD_OPTION_SOCK_ADDR, reinterpret_cast<const sockaddr*>(&address.address),
                                MHD_OPTION_CONNECTION_TIMEOUT, kIdleTimeoutSeconds,
                                MHD_OPTION_CONNECTION_LIMIT, kMaxConnections, MHD_OPTION_END);
    QString logged;
    {
        std::lock_guard guard(m_log->lock);
        m_log->open = false;
        logged = m_log->last;
    }
    if (m_daemon == nullptr && error) {
        // The library's bind message names port 0 when given an address:
        // our own attempt gives the cause; its message only when that works.
        *error = ListenProblem(address);
        if (error->isEmpty())
            *error = logged.isEmpty() ? QStringLiteral("the HTTP server did not start") : logged;
    }
    return m_daemon != nullptr;
}

void MetricsServer::stop()
{
    if (m_daemon != nullptr)
        MHD_stop_daemon(m_daemon);
    m_daemon = nullptr;
}

} // namespace qm
