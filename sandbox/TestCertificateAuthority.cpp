#include "TestCertificateAuthority.h"

#include <array>
#include <functional>
#include <stdexcept>
#include <string_view>
#include <utility>

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include "base/FilePrimitives.h"

namespace orvek::sandbox {

namespace {

constexpr long kOneDay = 24L * 60 * 60;
// A few minutes into the past, so a clock a little behind the server's still accepts it.
constexpr long kClockSlack = 5L * 60;

template <typename T, void (*Free)(T*)> struct Deleter {
    void operator()(T* pointer) const noexcept { Free(pointer); }
};
using KeyContext = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX, &EVP_PKEY_CTX_free>>;
using Extension = std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION, &X509_EXTENSION_free>>;
using Bignum = std::unique_ptr<BIGNUM, Deleter<BIGNUM, &BN_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO, &BIO_free_all>>;
using OwnedCertificate = std::unique_ptr<X509, Deleter<X509, &X509_free>>;

[[noreturn]] void fail(std::string_view step) {
    std::array<char, 256> reason{};
    ERR_error_string_n(ERR_get_error(), reason.data(), reason.size());
    ERR_clear_error();
    throw std::runtime_error("OpenSSL: " + std::string(step) + ": " + reason.data());
}

void check(int result, std::string_view step) {
    if (result <= 0)
        fail(step);
}

template <typename T> T* check(T* pointer, std::string_view step) {
    if (pointer == nullptr)
        fail(step);
    return pointer;
}

EVP_PKEY* newKey() {
    // P-256 through the generic key API, which OpenSSL 1.1.1 and 3 both offer.
    const KeyContext context(check(EVP_PKEY_CTX_new_id(EVP_PKEY_EC, nullptr), "key context"));
    check(EVP_PKEY_keygen_init(context.get()), "key generation");
    check(EVP_PKEY_CTX_set_ec_paramgen_curve_nid(context.get(), NID_X9_62_prime256v1), "key curve");
    EVP_PKEY* key = nullptr;
    check(EVP_PKEY_keygen(context.get(), &key), "key generation");
    return key;
}

void addExtension(X509* certificate, X509* issuer, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    const Extension extension(
        check(X509V3_EXT_nconf_nid(nullptr, &context, nid, value), "certificate extension"));
    check(X509_add_ext(certificate, extension.get(), -1), "certificate extension");
}

// Every field but the signature and the issuer-dependent extensions.
X509* newCertificate(EVP_PKEY* key, const char* commonName) {
    OwnedCertificate certificate(check(X509_new(), "certificate"));
    check(X509_set_version(certificate.get(), 2), "certificate version");
    // A random serial keeps two authorities made in one second apart in a client's cache.
    std::array<unsigned char, 16> serialBytes{};
    check(RAND_bytes(serialBytes.data(), static_cast<int>(serialBytes.size())), "serial");
    serialBytes[0] &= 0x7F;
    const Bignum serial(check(
        BN_bin2bn(serialBytes.data(), static_cast<int>(serialBytes.size()), nullptr), "serial"));
    check(BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(certificate.get())) != nullptr,
          "serial");
    check(X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -kClockSlack) != nullptr,
          "validity");
    check(X509_gmtime_adj(X509_getm_notAfter(certificate.get()), kOneDay) != nullptr, "validity");
    X509_NAME* name = X509_get_subject_name(certificate.get());
    check(X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                                     reinterpret_cast<const unsigned char*>("Orvek sandbox"), -1,
                                     -1, 0),
          "subject");
    check(X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                     reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0),
          "subject");
    check(X509_set_pubkey(certificate.get(), key), "public key");
    return certificate.release();
}

std::string pem(const std::function<int(BIO*)>& write) {
    const Bio bio(check(BIO_new(BIO_s_mem()), "memory buffer"));
    check(write(bio.get()), "PEM encoding");
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return {data, static_cast<std::size_t>(size)};
}

} // namespace

TestCertificateAuthority::TestCertificateAuthority() {
    m_caKey.reset(newKey());
    m_ca.reset(newCertificate(m_caKey.get(), "Orvek sandbox test authority"));
    check(X509_set_issuer_name(m_ca.get(), X509_get_subject_name(m_ca.get())), "issuer");
    addExtension(m_ca.get(), m_ca.get(), NID_basic_constraints, "critical,CA:TRUE");
    addExtension(m_ca.get(), m_ca.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
    addExtension(m_ca.get(), m_ca.get(), NID_subject_key_identifier, "hash");
    check(X509_sign(m_ca.get(), m_caKey.get(), EVP_sha256()), "signing the authority");

    m_serverKey.reset(newKey());
    m_server.reset(newCertificate(m_serverKey.get(), "localhost"));
    check(X509_set_issuer_name(m_server.get(), X509_get_subject_name(m_ca.get())), "issuer");
    addExtension(m_server.get(), m_ca.get(), NID_basic_constraints, "critical,CA:FALSE");
    addExtension(m_server.get(), m_ca.get(), NID_key_usage, "critical,digitalSignature");
    addExtension(m_server.get(), m_ca.get(), NID_ext_key_usage, "serverAuth");
    addExtension(m_server.get(), m_ca.get(), NID_subject_alt_name,
                 "DNS:localhost,DNS:api.orvek.test,IP:127.0.0.1");
    addExtension(m_server.get(), m_ca.get(), NID_subject_key_identifier, "hash");
    addExtension(m_server.get(), m_ca.get(), NID_authority_key_identifier, "keyid:always");
    check(X509_sign(m_server.get(), m_caKey.get(), EVP_sha256()), "signing the server");
}

CertificateFiles TestCertificateAuthority::writeTo(const std::filesystem::path& folder) const {
    CertificateFiles files{folder / "ca.pem", folder / "server.pem", folder / "server-key.pem"};
    base::create(files.caCertificate, caCertificatePem());
    base::create(files.serverCertificate, serverCertificatePem());
    base::create(files.serverKey, serverKeyPem());
    return files;
}

std::string TestCertificateAuthority::caCertificatePem() const {
    return pem([this](BIO* bio) { return PEM_write_bio_X509(bio, m_ca.get()); });
}

std::string TestCertificateAuthority::serverCertificatePem() const {
    return pem([this](BIO* bio) { return PEM_write_bio_X509(bio, m_server.get()); });
}

std::string TestCertificateAuthority::serverKeyPem() const {
    return pem([this](BIO* bio) {
        return PEM_write_bio_PrivateKey(bio, m_serverKey.get(), nullptr, nullptr, 0, nullptr,
                                        nullptr);
    });
}

} // namespace orvek::sandbox
