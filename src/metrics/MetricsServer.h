#pragma once

#include "metrics/ListenAddress.h"

#include <QString>

struct MHD_Daemon;

namespace qm {

class MetricsRegistry;

// Serves GET /metrics from the registry over HTTP (libmicrohttpd, on its own
// thread, so a busy main thread never stalls a scrape). Any other path gets
// 404, any other method 405 with an Allow header. Connections idle for
// kIdleTimeoutSeconds are closed; at most kMaxConnections are open at once.
// The listening socket is made here, so a failure to listen is told with
// its cause through listen()'s error; the library logs nothing.
class MetricsServer
{
public:
    static constexpr unsigned kIdleTimeoutSeconds = 10;
    static constexpr unsigned kMaxConnections = 32;

    explicit MetricsServer(const MetricsRegistry& registry);
    ~MetricsServer();
    MetricsServer(const MetricsServer&) = delete;
    MetricsServer& operator=(const MetricsServer&) = delete;

    // Starts listening (stopping a previous listener first); on failure
    // `error` says why (e.g. "Address already in use").
    bool listen(const ResolvedListenAddress& address, QString* error = nullptr);
    void stop();

private:
    const MetricsRegistry& m_registry;
    MHD_Daemon* m_daemon = nullptr;
};

} // namespace qm
