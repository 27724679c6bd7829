// Builds MacWrite 2.2 documents from the file layout.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

class Mw22Builder {
public:
    // A text paragraph with trailing blocks of the given lengths.
    Mw22Builder &paragraph(const std::string &text, size_t first_block = 6, size_t second_block = 1) {
        std::string r;
        be16(r, 1);
        be16(r, 0x10);
        be16(r, static_cast<uint16_t>(text.size()));
        r += text;
        records_.push_back({r, first_block, second_block, true});
        return *this;
    }
    // A record of kind 0 (a 32-byte body).
    Mw22Builder &skipped() {
        std::string r(6, '\0');
        r += std::string(32, '\x55');
        records_.push_back({r, 0, 0, false});
        return *this;
    }
    Mw22Builder &count(uint16_t n) {
        count_ = n;
        return *this;
    }
    // Where the records start (even, 6 at the least).
    Mw22Builder &list_position(uint16_t at) {
        list_pos_ = at;
        return *this;
    }
    std::string build() const {
        std::string doc;
        be16(doc, 3);
        be16(doc, list_pos_);
        be16(doc, count_ >= 0 ? static_cast<uint16_t>(count_) : static_cast<uint16_t>(records_.size()));
        doc.resize(list_pos_, '\0');
        for (const Record &r : records_) {
            doc += r.head_and_text;
            if (!r.text) continue;
            if (doc.size() & 1) doc += '\x01';
            be16(doc, static_cast<uint16_t>(r.first));
            doc += std::string(r.first, '\x11');
            be16(doc, static_cast<uint16_t>(r.second));
            doc += std::string(r.second, '\x22');
            if (r.second & 1) doc += '\x23';
        }
        return doc;
    }

private:
    static void be16(std::string &s, uint16_t v) {
        s += static_cast<char>(v >> 8);
        s += static_cast<char>(v & 0xFF);
    }
    struct Record {
        std::string head_and_text;
        size_t first, second;
        bool text;
    };
    std::vector<Record> records_;
    int count_ = -1;
    uint16_t list_pos_ = 0x40;
};

}  // namespace testing_support
