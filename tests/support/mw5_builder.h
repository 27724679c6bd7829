// Builds MacWrite 4.6/5 documents from the file layout, for tests, fuzz seeds
// and the bundled example.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

enum class Area { Main = 0, Header = 1, Footer = 2 };

struct Run {
    int16_t position;
    uint8_t size;
    uint8_t style;
    int16_t font;
};

struct RulerSpec {
    int16_t left_margin = 0;
    int16_t right_margin = 468;
    uint8_t justification = 0;
    int16_t line_spacing = 0;
    std::optional<int16_t> first_line;  // where the first line starts; the left margin when not said
    std::vector<uint16_t> tabs;  // words as stored
    int tab_count = -1;          // -1: tabs.size()
};

class Mw5Builder {
public:
    // A text paragraph; `text` includes its final carriage return.
    Mw5Builder &text(Area area, const std::string &text, std::vector<Run> runs = {}, uint8_t flags = 0);
    // A compressed paragraph (flags gain the compressed bit).
    Mw5Builder &compressed(Area area, const std::string &text, std::vector<Run> runs = {}, uint8_t flags = 0);
    Mw5Builder &ruler(Area area, const RulerSpec &ruler);
    Mw5Builder &picture(Area area, uint16_t data_length, int16_t height = -416);
    // A picture paragraph with its data (rectangle and picture).
    Mw5Builder &picture(Area area, const std::string &data, int16_t height);
    // Raw entry, for damaged documents.
    Mw5Builder &entry(Area area, int16_t height, uint32_t data_word, uint16_t data_length);
    // Overrides the paragraph count stored for an area.
    Mw5Builder &count(Area area, uint16_t n);
    // Places a field (1 page number, 2 date, 3 time) in the header's or
    // footer's window record; unplaced fields keep MacWrite's icon positions.
    Mw5Builder &field(Area area, uint8_t kind, int16_t vertical, int16_t horizontal);

    // The line-height record of the area's last paragraph: its codes (a
    // byte below 0x80 a line of that height, 0x80|n n lines in all).  An
    // area given one gets a line-height array, empty records for the rest.
    Mw5Builder &lines(Area area, const std::string &codes);
    // Every top stored as 0, as programs other than MacWrite save them.
    Mw5Builder &flat_tops() {
        flat_ = true;
        return *this;
    }

    // Bytes laid over the document header at `at` (the settings, the
    // print record), after everything else.
    Mw5Builder &header_bytes(size_t at, const std::string &bytes) {
        header_patches_.emplace_back(at, bytes);
        return *this;
    }
    std::string build() const;
    std::string build_macbinary() const;

    // The nibble stream of `text` (escape for bytes outside the table).
    static std::string compress(const std::string &text);

private:
    struct Entry {
        int16_t height;
        uint8_t flags;
        std::string data;     // placed after the header; empty with raw_word
        bool raw = false;
        uint32_t raw_word = 0;
        uint16_t data_length = 0;
        std::string lines{};  // its line-height record
    };
    std::vector<Entry> areas_[3];
    int count_override_[3] = {-1, -1, -1};
    int16_t fields_[3][3][2] = {};
    std::vector<std::pair<size_t, std::string>> header_patches_;  // area, kind - 1, (vertical, horizontal)
    bool placed_[3][3] = {};
    bool has_lines_[3] = {};
    bool flat_ = false;
};

std::string macbinary_wrap(const std::string &data, const char *type_creator);

// A ruler's 34 bytes, and a paragraph's run list with its length word: both
// generations store them alike.
std::string ruler_bytes(const RulerSpec &ruler);
std::string run_list_bytes(const std::vector<Run> &runs);

}  // namespace testing_support
