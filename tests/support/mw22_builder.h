// Builds MacWrite 2.2 documents from the file layout: the 20-byte header,
// a blank printer record, three window records, an 8-byte entry per
// paragraph, then the records of the main text, the header and the footer.
#pragma once

#include <string>
#include <vector>

#include "tests/support/mw5_builder.h"

namespace testing_support {

class Mw22Builder {
public:
    // A main-text paragraph whose trailing blocks hold filler of the given
    // lengths (6 bytes of filler read as one run that never applies).
    Mw22Builder &paragraph(const std::string &text, size_t first_block = 6, size_t second_block = 1) {
        records_[0].push_back({false, text, std::string(first_block, '\x11'), std::string(second_block, '\x22')});
        return *this;
    }
    // A paragraph with its format runs and one line height.
    Mw22Builder &text(Area area, const std::string &text, const std::vector<Run> &runs = {}) {
        records_[static_cast<int>(area)].push_back({false, text, run_list_bytes(runs).substr(2), "\x10"});
        return *this;
    }
    // A first trailing block of raw bytes, for damaged run lists.
    Mw22Builder &text_with_block(Area area, const std::string &text, const std::string &first_block) {
        records_[static_cast<int>(area)].push_back({false, text, first_block, "\x10"});
        return *this;
    }
    Mw22Builder &ruler(Area area, const RulerSpec &ruler = {}) {
        records_[static_cast<int>(area)].push_back({true, ruler_bytes(ruler), "", ""});
        return *this;
    }
    // Places a field (1 page number, 2 date, 3 time) in a window record.
    Mw22Builder &field(Area area, uint8_t kind, int16_t vertical, int16_t horizontal) {
        fields_[static_cast<int>(area)][kind - 1] = {vertical, horizontal};
        return *this;
    }
    // Overrides the main text's paragraph count.
    Mw22Builder &count(uint16_t n) {
        count_ = n;
        return *this;
    }
    // Starts the records at `at` (even, 6 at the least) right after the
    // version, list position and main count: no windows, no entries.
    Mw22Builder &list_position(uint16_t at) {
        list_pos_ = at;
        return *this;
    }

    std::string build() const {
        size_t total = 0;
        for (const auto &area : records_) total += area.size();
        const size_t list_pos = list_pos_ > 0 ? list_pos_ : kEntriesAt + 8 * total;
        std::string doc;
        be16(doc, 3);
        be16(doc, static_cast<uint16_t>(list_pos));
        be16(doc, count_ >= 0 ? static_cast<uint16_t>(count_) : static_cast<uint16_t>(records_[0].size()));
        if (list_pos_ > 0) {
            doc.resize(list_pos, '\0');
            for (const auto &area : records_)
                for (const Record &r : area) add_record(doc, r);
            return doc;
        }
        be16(doc, static_cast<uint16_t>(records_[1].size()));
        be16(doc, static_cast<uint16_t>(records_[2].size()));
        doc.resize(18, '\0');
        be16(doc, 1);                  // first page number
        doc.resize(140, '\0');         // and a blank printer record
        for (int area : {2, 1, 0}) {   // windows: footer, header, main
            std::string window(12, '\0');
            for (const auto &[vertical, horizontal] : fields_[area]) {
                be16(window, static_cast<uint16_t>(vertical));
                be16(window, static_cast<uint16_t>(horizontal));
            }
            window.resize(34, '\0');
            doc += window;
        }
        for (const auto &area : records_) {
            int16_t top = 0;
            for (const Record &r : area) {
                const int16_t height = r.ruler ? 0 : 16;
                be16(doc, static_cast<uint16_t>(height));
                be16(doc, static_cast<uint16_t>(top));
                doc += std::string(4, '\0');
                top = static_cast<int16_t>(top + height);
            }
        }
        for (const auto &area : records_)
            for (const Record &r : area) add_record(doc, r);
        return doc;
    }

private:
    static constexpr size_t kEntriesAt = 242;
    struct Record {
        bool ruler;
        std::string body;      // a ruler's 34 bytes, or the text
        std::string first, second;
    };
    static void be16(std::string &s, uint16_t v) {
        s += static_cast<char>(v >> 8);
        s += static_cast<char>(v & 0xFF);
    }
    // Kind, the length of what follows, then the ruler, or the text with its
    // pad to an even offset and its two blocks.
    static void add_record(std::string &doc, const Record &r) {
        const size_t start = doc.size();
        be16(doc, r.ruler ? 0 : 1);
        be16(doc, 0);
        if (r.ruler) {
            doc += r.body;
        } else {
            be16(doc, static_cast<uint16_t>(r.body.size()));
            doc += r.body;
            if (doc.size() & 1) doc += '\x01';
            be16(doc, static_cast<uint16_t>(r.first.size()));
            doc += r.first;
            be16(doc, static_cast<uint16_t>(r.second.size()));
            doc += r.second;
            if (r.second.size() & 1) doc += '\x23';
        }
        const size_t length = doc.size() - start - 4;
        doc[start + 2] = static_cast<char>(length >> 8);
        doc[start + 3] = static_cast<char>(length & 0xFF);
    }
    std::vector<Record> records_[3];
    std::pair<int16_t, int16_t> fields_[3][3] = {{{-14, 30}, {-14, 236}, {-14, 442}},
                                                 {{-14, 30}, {-14, 236}, {-14, 442}},
                                                 {{-14, 30}, {-14, 236}, {-14, 442}}};
    int count_ = -1;
    uint16_t list_pos_ = 0;
};

}  // namespace testing_support
