#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include <openssl/evp.h>
#include <openssl/x509.h>

namespace orvek::sandbox {

/// Where `TestCertificateAuthority::writeTo` put its files.
struct CertificateFiles {
    std::filesystem::path caCertificate;     // ca.pem
    std::filesystem::path serverCertificate; // server.pem
    std::filesystem::path serverKey;         // server-key.pem
};

/// A throwaway certificate authority, made in memory for one test or sandbox run, and a server
/// certificate it signed for "localhost", the sandbox's API host "api.orvek.test" and 127.0.0.1.
/// Both are valid for one day from now.
class TestCertificateAuthority {
public:
    /// Throws std::runtime_error naming the OpenSSL step that failed.
    TestCertificateAuthority();

    /// Creates ca.pem, server.pem and server-key.pem (each mode 0600, none replaced) in an
    /// existing folder. Throws PlatformError when a file cannot be created or written.
    [[nodiscard]] CertificateFiles writeTo(const std::filesystem::path& folder) const;

    [[nodiscard]] std::string caCertificatePem() const;
    [[nodiscard]] std::string serverCertificatePem() const;
    [[nodiscard]] std::string serverKeyPem() const;

private:
    struct KeyDeleter {
        void operator()(EVP_PKEY* key) const noexcept { EVP_PKEY_free(key); }
    };
    struct CertificateDeleter {
        void operator()(X509* certificate) const noexcept { X509_free(certificate); }
    };
    using Key = std::unique_ptr<EVP_PKEY, KeyDeleter>;
    using Certificate = std::unique_ptr<X509, CertificateDeleter>;

    Key m_caKey;
    Certificate m_ca;
    Key m_serverKey;
    Certificate m_server;
};

} // namespace orvek::sandbox
