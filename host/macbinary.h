// MacBinary II: the 128-byte header that carries a Macintosh file's name,
// type, creator and forks through systems that know only data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kavrel::macbinary {

inline constexpr long kHeaderSize = 128;

// Recognition sees the first 4096 bytes of a file, or all of a shorter one.
inline constexpr size_t kRecognitionHead = 4096;
inline constexpr uint64_t kUnknownLength = UINT64_MAX;

// 128 when `head`, the first `head_length` bytes of a file of `file_length`
// bytes, is a MacBinary header of a file whose type and creator read
// `type_creator` (8 characters, e.g. "WORDMACA"), else 0.  The type and
// creator alone are not enough: a document's own bytes can spell them, so the
// header's fixed zeros, its name length and its data fork must agree too.
long data_offset(const uint8_t *head, size_t head_length, uint64_t file_length, const char *type_creator);

// The same for recognition, which has only the first bytes: a head shorter
// than kRecognitionHead is the whole file.
long data_offset_in_head(const uint8_t *head, size_t length, const char *type_creator);

// 128 when `head` is the start of a MacBinary copy cut short: a sound header
// naming `type_creator` whose data fork runs past the end of the file.
long cut_data_offset(const uint8_t *head, size_t head_length, uint64_t file_length, const char *type_creator);

// Where a document starts in a file that may carry a MacBinary header, whole
// or cut short: 128 when such a header names the document's type and
// `document_at` (given the bytes after the header) agrees that a document
// begins there, else 0.  A bare document's own bytes can form a sound header
// that spells the type, so only what follows the header settles it.
using DocumentTest = bool (*)(const uint8_t *doc, size_t length);
long document_offset(const uint8_t *head, size_t head_length, uint64_t file_length, const char *type_creator,
                     DocumentTest document_at);

// What a MacBinary header says of the file it carries.
struct Fields {
    std::string name;            // Mac OS Roman, as stored
    std::string type, creator;   // four characters each
    uint32_t created = 0, modified = 0;  // Macintosh clock
    uint32_t data_length = 0, resource_length = 0;
};
Fields fields(const uint8_t *header);

// The CRC-16/XMODEM of the first 124 bytes that MacBinary II stores at 124.
uint16_t header_crc(const uint8_t *header);

// Seconds since 1904-01-01, the Macintosh clock, for a Unix time.
uint32_t mac_time(long long unix_seconds);

// A MacBinary II header for a data fork of `data_length` bytes, created and
// modified at `time` (Macintosh clock).
std::vector<uint8_t> make_header(const std::string &name, const char *type, const char *creator,
                                 uint32_t data_length, uint32_t time);

}  // namespace kavrel::macbinary
