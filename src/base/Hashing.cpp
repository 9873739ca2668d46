#include "base/Hashing.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <memory>
#include <new>
#include <vector>

#include <openssl/evp.h>

#include "base/FilePrimitives.h"
#include "base/PlatformError.h"
#include "base/UniqueFd.h"

namespace orvek::base {

namespace {

// Large reads keep the digest, not the system calls, the cost of hashing a disk image.
constexpr std::size_t kHashChunk = 1'048'576;

} // namespace

std::string hexDigest(const unsigned char* digest, std::size_t length) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(length * 2);
    for (std::size_t i = 0; i < length; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 0x0F];
    }
    return hex;
}

std::string hash(std::string_view bytes) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1)
        throw std::bad_alloc();
    return hexDigest(digest.data(), length);
}

std::string hashFile(const std::filesystem::path& path) {
    struct stat attributes {};
    const auto file = openForReading(path, attributes);
    if (S_ISDIR(attributes.st_mode))
        throw PlatformError(EISDIR, "прочитать файл", path);
    // Devices and pipes have no end a hash could wait for.
    if (!S_ISREG(attributes.st_mode))
        throw PlatformError(EINVAL, "прочитать файл", path);
    return hashOpenFile(file.get(), path).sha256;
}

FileDigest hashOpenFile(int descriptor, const std::filesystem::path& path) {
#if defined(POSIX_FADV_SEQUENTIAL)
    // Only a hint for a larger read-ahead; the hash is the same without it.
    (void)::posix_fadvise(descriptor, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif

    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                          &EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        throw std::bad_alloc();
    std::vector<unsigned char> buffer(kHashChunk);
    std::uint64_t size = 0;
    for (;;) {
        const auto count = ::read(descriptor, buffer.data(), buffer.size());
        if (count < 0) {
            if (errno == EINTR)
                continue;
            throwLastError("прочитать файл", path);
        }
        if (count == 0)
            break;
        if (EVP_DigestUpdate(context.get(), buffer.data(), static_cast<std::size_t>(count)) != 1)
            throw std::bad_alloc();
        size += static_cast<std::uint64_t>(count);
    }
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1)
        throw std::bad_alloc();
    return {hexDigest(digest.data(), length), size};
}

bool isSha256Text(std::string_view text) noexcept {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

} // namespace orvek::base
