// AppleSingle and AppleDouble files (versions 1 and 2) built from their
// published layout: a header, entry descriptors, then the entries.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

class AppleBuilder {
public:
    enum Kind : uint32_t { kSingle = 0x00051600, kDouble = 0x00051607 };
    AppleBuilder(Kind kind, int version) : kind_(kind), version_(version) {}

    AppleBuilder &entry(uint32_t id, std::string bytes) {
        entries_.emplace_back(id, std::move(bytes));
        return *this;
    }
    AppleBuilder &data(const std::string &fork) { return entry(1, fork); }
    AppleBuilder &resource(const std::string &fork) { return entry(2, fork); }
    AppleBuilder &name(const std::string &mac_roman) { return entry(3, mac_roman); }
    AppleBuilder &finder(const std::string &type, const std::string &creator, uint16_t flags = 0) {
        std::string info = type + creator;
        info += static_cast<char>(flags >> 8);
        info += static_cast<char>(flags & 0xFF);
        info.resize(32, '\0');
        return entry(9, info);
    }
    // Version 2: seconds from 2000-01-01 UTC; version 1: the Macintosh clock.
    AppleBuilder &dates(uint32_t created, uint32_t modified) {
        std::string d = be32(created) + be32(modified) + be32(0) + be32(version_ == 2 ? 0x80000000u : 0);
        return entry(version_ == 2 ? 8 : 7, d);
    }

    std::string build() const {
        std::string out = be32(kind_) + be32(version_ == 2 ? 0x00020000 : 0x00010000);
        out += version_ == 2 ? std::string(16, '\0') : std::string("Macintosh       ");
        out += static_cast<char>(entries_.size() >> 8);
        out += static_cast<char>(entries_.size() & 0xFF);
        uint32_t offset = static_cast<uint32_t>(26 + 12 * entries_.size());
        std::string body;
        for (const auto &[id, bytes] : entries_) {
            out += be32(id) + be32(offset + static_cast<uint32_t>(body.size())) + be32(static_cast<uint32_t>(bytes.size()));
            body += bytes;
        }
        return out + body;
    }

    static std::string be32(uint32_t v) {
        return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
    }

private:
    Kind kind_;
    int version_;
    std::vector<std::pair<uint32_t, std::string>> entries_;
};

}  // namespace testing_support
