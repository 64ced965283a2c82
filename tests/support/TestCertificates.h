#pragma once

#include <memory>
#include <string>

namespace qm::test {

// A certificate authority made on the spot, which issues server certificates
// with any validity period. Certificates and keys are written as PEM files.
class TestCertificates
{
public:
    explicit TestCertificates(const std::string& name);
    ~TestCertificates();
    TestCertificates(const TestCertificates&) = delete;
    TestCertificates& operator=(const TestCertificates&) = delete;

    // Empty when the authority was made; otherwise what failed.
    const std::string& error() const { return m_error; }
    // The authority's own certificate, for a trust store.
    bool writeAuthority(const std::string& certPath) const;
    // A server certificate for the subject alternative names (OpenSSL form:
    // "DNS:localhost,IP:127.0.0.1"), valid from and until the given number of
    // seconds from now, with its key.
    bool issue(const std::string& certPath, const std::string& keyPath, const std::string& altNames,
               long validFromSeconds, long validUntilSeconds);

private:
    struct Keys;
    std::unique_ptr<Keys> m_keys;
    std::string m_error;
    long m_serial = 1;
};

} // namespace qm::test
