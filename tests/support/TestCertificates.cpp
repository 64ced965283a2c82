#include "support/TestCertificates.h"

#include <cstdio>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

namespace qm::test {

namespace {
using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Cert = std::unique_ptr<X509, decltype(&X509_free)>;

bool AddExtension(X509* cert, X509* issuer, int nid, const char* value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    const bool ok = ext != nullptr && X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

// An unsigned certificate for the key, named CN=commonName.
Cert NewCertificate(EVP_PKEY* key, const std::string& commonName, long serial, long from,
                    long until)
{
    Cert cert(X509_new(), X509_free);
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), from);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), until);
    X509_set_pubkey(cert.get(), key);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(cert.get()), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1,
                               0);
    return cert;
}

bool WritePem(const std::string& path, X509* cert, EVP_PKEY* key)
{
    FILE* f = std::fopen(path.c_str(), "w");
    if (f == nullptr)
        return false;
    const bool ok = cert != nullptr
                        ? PEM_write_X509(f, cert) == 1
                        : PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    return std::fclose(f) == 0 && ok;
}
} // namespace

struct TestCertificates::Keys
{
    Key authorityKey{nullptr, EVP_PKEY_free};
    Cert authority{nullptr, X509_free};
    Key serverKey{nullptr, EVP_PKEY_free}; // shared by every certificate issued
};

TestCertificates::TestCertificates(const std::string& name) : m_keys(std::make_unique<Keys>())
{
    m_keys->authorityKey.reset(EVP_EC_gen("P-256"));
    m_keys->serverKey.reset(EVP_EC_gen("P-256"));
    if (!m_keys->authorityKey || !m_keys->serverKey) {
        m_error = "no key could be made";
        return;
    }
    Cert ca = NewCertificate(m_keys->authorityKey.get(), name, m_serial++, -86400L, 3650L * 86400);
    X509_set_issuer_name(ca.get(), X509_get_subject_name(ca.get()));
    if (!AddExtension(ca.get(), ca.get(), NID_basic_constraints, "critical,CA:TRUE") ||
        !AddExtension(ca.get(), ca.get(), NID_key_usage, "critical,keyCertSign,cRLSign") ||
        X509_sign(ca.get(), m_keys->authorityKey.get(), EVP_sha256()) == 0) {
        m_error = "the authority certificate could not be made";
        return;
    }
    m_keys->authority = std::move(ca);
}

TestCertificates::~TestCertificates() = default;

bool TestCertificates::writeAuthority(const std::string& certPath) const
{
    return m_keys->authority && WritePem(certPath, m_keys->authority.get(), nullptr);
}

bool TestCertificates::issue(const std::string& certPath, const std::string& keyPath,
                             const std::string& altNames, long validFromSeconds,
                             long validUntilSeconds)
{
    if (!m_keys->authority)
        return false;
    X509* ca = m_keys->authority.get();
    Cert cert = NewCertificate(m_keys->serverKey.get(), "server", m_serial++, validFromSeconds,
                               validUntilSeconds);
    X509_set_issuer_name(cert.get(), X509_get_subject_name(ca));
    return AddExtension(cert.get(), ca, NID_basic_constraints, "CA:FALSE") &&
           AddExtension(cert.get(), ca, NID_ext_key_usage, "serverAuth") &&
           AddExtension(cert.get(), ca, NID_subject_alt_name, altNames.c_str()) &&
           X509_sign(cert.get(), m_keys->authorityKey.get(), EVP_sha256()) != 0 &&
           WritePem(certPath, cert.get(), nullptr) &&
           WritePem(keyPath, nullptr, m_keys->serverKey.get());
}

} // namespace qm::test
