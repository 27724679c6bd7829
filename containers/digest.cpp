#include "containers/digest.h"

#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <bcrypt.h>
#else
#include <nettle/sha2.h>
#endif

namespace containers {

namespace {

constexpr size_t kDigest = 32;

std::string hex(const uint8_t *digest) {
    static const char kDigits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < kDigest; ++i) {
        s += kDigits[digest[i] >> 4];
        s += kDigits[digest[i] & 15];
    }
    return s;
}

// Feeds every byte of `source` to `update`, a block at a time.
template <typename Update>
void each_block(const Source &source, Update update) {
    std::vector<uint8_t> block(65536);
    for (uint64_t at = 0; at < source.size();) {
        const size_t n = source.read_at(at, block.data(), block.size());
        if (n == 0) throw Error(Grade::kMember, "its data ends before its declared length");
        update(block.data(), n);
        at += n;
    }
}

}  // namespace

#ifdef _WIN32
std::string sha256_hex(const Source &source) {
    struct Handles {
        BCRYPT_ALG_HANDLE algorithm = nullptr;
        BCRYPT_HASH_HANDLE hash = nullptr;
        ~Handles() {
            if (hash != nullptr) BCryptDestroyHash(hash);
            if (algorithm != nullptr) BCryptCloseAlgorithmProvider(algorithm, 0);
        }
    } h;
    if (BCryptOpenAlgorithmProvider(&h.algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0 ||
        BCryptCreateHash(h.algorithm, &h.hash, nullptr, 0, nullptr, 0, 0) < 0)
        throw Error(Grade::kMember, "the system offers no SHA-256");
    each_block(source, [&](const uint8_t *data, size_t n) {
        BCryptHashData(h.hash, const_cast<PUCHAR>(data), static_cast<ULONG>(n), 0);
    });
    uint8_t digest[kDigest];
    BCryptFinishHash(h.hash, digest, sizeof digest, 0);
    return hex(digest);
}
#else
std::string sha256_hex(const Source &source) {
    sha256_ctx ctx;
    sha256_init(&ctx);
    each_block(source, [&](const uint8_t *data, size_t n) { sha256_update(&ctx, n, data); });
    uint8_t digest[kDigest];
    sha256_digest(&ctx, sizeof digest, digest);
    return hex(digest);
}
#endif

}  // namespace containers
