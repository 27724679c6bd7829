// StuffIt's compression methods, one file each: streaming decoders over a
// compressed fork.  Each keeps a fixed amount of state (a window, a
// dictionary, one sorting block), so a fork of any size decodes in bounded
// memory; the caller stops asking at the size the archive declares.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "containers/container.h"

namespace containers::sit {

// The bytes of one compressed fork, read in order through a buffer.
class ByteInput {
public:
    ByteInput(std::shared_ptr<const Source> source, uint64_t offset, uint64_t length);
    // The next byte, or -1 at the end of the fork.
    int next() {
        if (pos_ == buffer_.size() && !refill()) return -1;
        return buffer_[pos_++];
    }
    // All the buffered bytes not yet read (refilled first when none are
    // left), read at once: for decoders that hand their input to a library
    // as it comes.  Empty at the end of the fork.
    std::span<const uint8_t> take() {
        if (pos_ == buffer_.size() && !refill()) return {};
        const std::span<const uint8_t> run(buffer_.data() + pos_, buffer_.size() - pos_);
        pos_ = buffer_.size();
        return run;
    }

private:
    bool refill();
    std::shared_ptr<const Source> source_;
    uint64_t offset_, remaining_;
    std::vector<uint8_t> buffer_;
    size_t pos_ = 0;
};

// Bits least significant first, as methods 2 and 13 pack them.  Reading past
// the end gives zero bits for a few bytes (a stream's last code may end
// inside its last byte), then the fork is declared cut short.
class BitsLsb {
public:
    explicit BitsLsb(ByteInput input) : input_(std::move(input)) {}
    uint32_t read(int count);  // count <= 24
    // True when `count` more bits exist before the end of the fork.
    bool available(int count);
    void skip(uint64_t count);

private:
    void fill(int count);
    ByteInput input_;
    uint64_t bits_ = 0;
    int held_ = 0;
    int past_end_ = 0;
    bool ended_ = false;
};

class Decoder {
public:
    virtual ~Decoder() = default;
    // Up to `n` decoded bytes into `out`; 0 once the stream has ended.
    // Throws Error (kMember) when the stream is damaged.
    virtual size_t read(uint8_t *out, size_t n) = 0;
    // Called once the declared size has been produced: a method that carries
    // its own check (Arsenic's CRC-32) verifies it here.
    virtual void finish() {}
};

std::unique_ptr<Decoder> stored_decoder(ByteInput input);   // method 0
std::unique_ptr<Decoder> rle90_decoder(ByteInput input);    // method 1
std::unique_ptr<Decoder> lzw_decoder(ByteInput input);      // method 2
std::unique_ptr<Decoder> lzh_decoder(ByteInput input);      // method 13
// `expected` is the decoded size the archive declares: a sorting block never
// holds more than 5/4 of it, so a damaged stream cannot claim memory beyond.
std::unique_ptr<Decoder> arsenic_decoder(ByteInput input, uint64_t expected = UINT64_MAX);  // method 15

// The CRC-16 that StuffIt stores for headers and forks (polynomial 0x8005,
// bits reflected, no initial or final inversion).
uint16_t crc16(uint16_t crc, const uint8_t *data, size_t n);

[[noreturn]] void damaged(const char *method, const char *what);

}  // namespace containers::sit
