#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace qm {

class CancelToken;

// The per-worker copy of a host's settings, shared by the main thread and the
// host's worker. Every field is read and written under the record's lock, one
// field at a time.
class HostSession
{
public:
    HostSession();
    virtual ~HostSession() = default;
    HostSession(const HostSession&) = delete;
    HostSession& operator=(const HostSession&) = delete;

    std::string address() const;
    std::string protocol() const;
    std::string userId() const;
    std::string password() const;
    std::string domain() const;
    int port() const;
    int frequency() const;
    uint32_t threadId() const;
    bool stopRequested() const;

    void setAddress(const std::string& v);
    void setProtocol(const std::string& v);
    void setUserId(const std::string& v);
    void setPassword(const std::string& v);
    void setDomain(const std::string& v);
    void setPort(int v);
    void setFrequency(int v);
    void setThreadId(uint32_t v);
    void setStopRequested(bool v);

    // The seven setters in order address, protocol, port, frequency, user id,
    // password, domain; each takes the lock on its own.
    void SetAll(const std::string& address, const std::string& protocol, int port, int frequency,
                const std::string& userId, const std::string& password, const std::string& domain);

    // The stop of the monitoring run the worker belongs to: it ends the
    // worker's network waits at once. May be null.
    std::shared_ptr<const CancelToken> cancelToken() const;
    void setCancelToken(std::shared_ptr<const CancelToken> token);

private:
    template <typename T> T get(const T& field) const
    {
        std::lock_guard lock(m_lock);
        return field;
    }
    template <typename T> void set(T& field, const T& value)
    {
        std::lock_guard lock(m_lock);
        field = value;
    }

    uint32_t m_threadId = 0;
    bool m_stopRequested = false;
    mutable std::mutex m_lock;
    std::string m_address;
    std::string m_protocol;
    std::string m_userId;
    std::string m_password;
    std::string m_domain;
    int m_port = 0;
    int m_frequency = 0;
    std::shared_ptr<const CancelToken> m_cancelToken;
};

} // namespace qm
