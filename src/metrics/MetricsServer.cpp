#include "metrics/MetricsServer.h"

#include "metrics/MetricsRegistry.h"
#include "metrics/MetricsText.h"

#include <cerrno>
#include <cstring>
#include <microhttpd.h>

namespace qm {

namespace {

MHD_Result Reply(MHD_Connection* connection, unsigned status, const QByteArray& body, const char* type)
{
    MHD_Response* response = MHD_create_response_from_buffer(static_cast<size_t>(body.size()),
                                                             const_cast<char*>(body.constData()),
                                                             MHD_RESPMEM_MUST_COPY);
    if (response == nullptr)
        return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type);
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
        return Reply(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "Method Not Allowed\n", kText);
    if (std::strcmp(url, "/metrics") != 0)
        return Reply(connection, MHD_HTTP_NOT_FOUND, "Not Found\n", kText);
    return Reply(connection, MHD_HTTP_OK, RenderMetrics(registry->snapshot()), kMetricsContentType);
}

} // namespace

MetricsServer::MetricsServer(const MetricsRegistry& registry) : m_registry(registry) {}

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
    errno = 0;
    m_daemon = MHD_start_daemon(flags, 0, nullptr, nullptr, &Handle, const_cast<MetricsRegistry*>(&m_registry),
                                MHD_OPTION_SOCK_ADDR, reinterpret_cast<const sockaddr*>(&address.address),
                                MHD_OPTION_CONNECTION_TIMEOUT, kIdleTimeoutSeconds,
                                MHD_OPTION_CONNECTION_LIMIT, kMaxConnections, MHD_OPTION_END);
    if (m_daemon == nullptr && error)
        *error = errno != 0 ? QString::fromLocal8Bit(std::strerror(errno))
                            : QStringLiteral("the HTTP server did not start");
    return m_daemon != nullptr;
}

void MetricsServer::stop()
{
    if (m_daemon != nullptr)
        MHD_stop_daemon(m_daemon);
    m_daemon = nullptr;
}

int MetricsServer::port() const
{
    if (m_daemon == nullptr)
        return 0;
    const MHD_DaemonInfo* info = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_BIND_PORT);
    return info != nullptr ? info->port : 0;
}

} // namespace qm
