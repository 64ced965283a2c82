#include "engine/HostSession.h"

namespace qm {

HostSession::HostSession()
{
    setStopRequested(false);
}

std::string HostSession::address() const { return get(m_address); }
std::string HostSession::protocol() const { return get(m_protocol); }
std::string HostSession::userId() const { return get(m_userId); }
std::string HostSession::password() const { return get(m_password); }
std::string HostSession::domain() const { return get(m_domain); }
int HostSession::port() const { return get(m_port); }
int HostSession::frequency() const { return get(m_frequency); }
uint32_t HostSession::threadId() const { return get(m_threadId); }
bool HostSession::stopRequested() const { return get(m_stopRequested); }

void HostSession::setAddress(const std::string& v) { set(m_address, v); }
void HostSession::setProtocol(const std::string& v) { set(m_protocol, v); }
void HostSession::setUserId(const std::string& v) { set(m_userId, v); }
void HostSession::setPassword(const std::string& v) { set(m_password, v); }
void HostSession::setDomain(const std::string& v) { set(m_domain, v); }
void HostSession::setPort(int v) { set(m_port, v); }
void HostSession::setFrequency(int v) { set(m_frequency, v); }
void HostSession::setThreadId(uint32_t v) { set(m_threadId, v); }
void HostSession::setStopRequested(bool v) { set(m_stopRequested, v); }
std::shared_ptr<const CancelToken> HostSession::cancelToken() const { return get(m_cancelToken); }
void HostSession::setCancelToken(std::shared_ptr<const CancelToken> token) { set(m_cancelToken, token); }

void HostSession::SetAll(const std::string& address, const std::string& protocol, int port, int frequency,
                         const std::string& userId, const std::string& password, const std::string& domain)
{
    setAddress(address);
    setProtocol(protocol);
    setPort(port);
    setFrequency(frequency);
    setUserId(userId);
    setPassword(password);
    setDomain(domain);
}

} // namespace qm
