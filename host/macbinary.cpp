#include "host/macbinary.h"

#include <cstring>

#include "host/bytes.h"

namespace kavrel::macbinary {

long data_offset(const uint8_t *head, size_t head_length, uint64_t file_length, const char *type_creator) {
    constexpr size_t kNameLengthAt = 1, kTypeAt = 65, kZeroAt = 74, kZero2At = 82, kDataLengthAt = 83;
    constexpr uint8_t kMaxName = 63;
    if (head_length < kHeaderSize || file_length < kHeaderSize) return 0;
    if (head[0] != 0 || head[kZeroAt] != 0 || head[kZero2At] != 0) return 0;
    if (head[kNameLengthAt] < 1 || head[kNameLengthAt] > kMaxName) return 0;
    if (be32(head + kDataLengthAt) > file_length - kHeaderSize) return 0;
    return std::memcmp(head + kTypeAt, type_creator, 8) == 0 ? kHeaderSize : 0;
}

long data_offset_in_head(const uint8_t *head, size_t length, const char *type_creator) {
    return data_offset(head, length, length < kRecognitionHead ? length : kUnknownLength, type_creator);
}

long cut_data_offset(const uint8_t *head, size_t head_length, uint64_t file_length, const char *type_creator) {
    constexpr size_t kNameLengthAt = 1, kTypeAt = 65, kZeroAt = 74, kZero2At = 82, kDataLengthAt = 83;
    if (head_length < kHeaderSize || head[0] != 0 || head[kZeroAt] != 0 || head[kZero2At] != 0) return 0;
    if (head[kNameLengthAt] < 1 || head[kNameLengthAt] > 63) return 0;
    if (file_length < kHeaderSize || be32(head + kDataLengthAt) <= file_length - kHeaderSize) return 0;
    return std::memcmp(head + kTypeAt, type_creator, 8) == 0 ? kHeaderSize : 0;
}

long document_offset(const uint8_t *head, size_t head_length, uint64_t file_length, const char *type_creator,
                     DocumentTest document_at) {
    long offset = data_offset(head, head_length, file_length, type_creator);
    if (offset == 0) offset = cut_data_offset(head, head_length, file_length, type_creator);
    if (offset == 0 || head_length < static_cast<size_t>(offset)) return 0;
    return document_at(head + offset, head_length - static_cast<size_t>(offset)) ? offset : 0;
}

Fields fields(const uint8_t *header) {
    Fields f;
    const size_t name_length = header[1] < 63 ? header[1] : 63;
    f.name.assign(reinterpret_cast<const char *>(header + 2), name_length);
    f.type.assign(reinterpret_cast<const char *>(header + 65), 4);
    f.creator.assign(reinterpret_cast<const char *>(header + 69), 4);
    f.data_length = be32(header + 83);
    f.resource_length = be32(header + 87);
    f.created = be32(header + 91);
    f.modified = be32(header + 95);
    return f;
}

uint16_t header_crc(const uint8_t *header) {
    uint16_t crc = 0;
    for (size_t i = 0; i < 124; ++i) {
        crc ^= static_cast<uint16_t>(header[i] << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

uint32_t mac_time(long long unix_seconds) {
    constexpr long long kMacEpochToUnix = 2082844800;  // 1904-01-01 to 1970-01-01
    return static_cast<uint32_t>(unix_seconds + kMacEpochToUnix);
}

std::vector<uint8_t> make_header(const std::string &name, const char *type, const char *creator,
                                 uint32_t data_length, uint32_t time) {
    std::vector<uint8_t> h(kHeaderSize, 0);
    const size_t n = name.size() < 63 ? name.size() : 63;
    h[1] = static_cast<uint8_t>(n);
    std::memcpy(&h[2], name.data(), n);
    std::memcpy(&h[65], type, 4);
    std::memcpy(&h[69], creator, 4);
    put_be32(&h[83], data_length);
    put_be32(&h[91], time);  // created
    put_be32(&h[95], time);  // modified
    h[122] = 129;  // written by MacBinary II
    h[123] = 129;  // readable by MacBinary II
    put_be16(&h[124], header_crc(h.data()));
    return h;
}

}  // namespace kavrel::macbinary
