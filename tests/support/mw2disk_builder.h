// Builds MacWrite II documents as the application stores them on disk: the
// signature and print record, the document header (page size, margins,
// title page, columns), a document chain with the font-name table, the
// character records (10 bytes), the paragraph records (202 bytes) and the
// directory of pages and frames (76-byte records), and text zones with their
// block lists, 6-byte run entries, 8-byte tokens and picture records.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

struct DiskCharStyle {
    int16_t font_id = 20;      // through the font-name table
    double points = 12;        // stored times 4
    uint16_t style = 0;        // style bits as stored
    uint8_t colour = 1;        // 0 white, 1 black, 2 red, ... 7 yellow
};

struct DiskTab {
    uint8_t kind = 0;          // 0 left, 1 centre, 2 right, 3 decimal
    uint8_t leader = ' ';
    double points = 0;         // from the left margin
    uint8_t decimal = '.';
};

struct DiskParaFormat {
    uint16_t justification = 0;   // bits 0-1; 0x40 keep with next, 0x80 keep together
    double left = 0, first = 0, right = 0;   // points
    double line = 0, before = 0, after = 0;  // value, in the unit below
    int32_t line_unit = 0, before_unit = 0, after_unit = 0;  // 0 points, -1 lines
    std::vector<DiskTab> tabs;
};

struct DiskRun {
    int16_t index;
    uint32_t length;
};

// A token of a zone: its kind as stored (2 page number, 3 note text, 4
// picture, 5 note call, 0x17 date, 0x1A time) at a character of the text,
// which holds the kind's own byte.
struct DiskToken {
    uint8_t kind;
    uint32_t at;
    std::string picture;   // a picture token's QuickDraw picture
    int16_t top = 0, left = 0, bottom = 0, right = 0;
};

struct DiskZone {
    std::string text;
    std::vector<DiskRun> char_runs, para_runs;
    std::vector<DiskToken> tokens;
    size_t chars_per_block = 200;
};

// A frame of the directory: which zone it shows (-1: none) and its role.
enum class DiskRole : uint8_t { Body = 0, Header = 1, Footer = 2, Note = 3 };
enum class DiskPages : uint8_t { All = 0, Left = 1, Right = 2 };

class Mw2DiskBuilder {
public:
    Mw2DiskBuilder();
    void font(int16_t id, const std::string &name);
    int char_style(const DiskCharStyle &s);
    int para_format(const DiskParaFormat &p);
    int zone(const DiskZone &z);
    // The main text, shown by page 2's first frame.
    void main(int zone) { main_ = zone; }
    void header(int zone, DiskPages pages = DiskPages::All) { frames_.push_back({zone, DiskRole::Header, pages}); }
    void footer(int zone, DiskPages pages = DiskPages::All) { frames_.push_back({zone, DiskRole::Footer, pages}); }
    void note(int zone) { frames_.push_back({zone, DiskRole::Note, DiskPages::All}); }
    // Page size and margins in points.
    void page(double height, double width, double top, double bottom, double left, double right);
    void title_page(bool on) { title_page_ = on; }
    void columns(int16_t count, double gap) {
        columns_ = count;
        column_gap_ = gap;
    }
    // Chains longer than a block go on with block runs rather than links.
    void block_runs(bool on) { block_runs_ = on; }

    std::string build() const;

    struct Frame {
        int zone;
        DiskRole role;
        DiskPages pages;
    };

private:
    std::vector<std::pair<int16_t, std::string>> fonts_;
    std::vector<std::string> char_styles_, para_formats_;
    std::vector<DiskZone> zones_;
    std::vector<Frame> frames_;
    int main_ = -1;
    double page_[6] = {792, 612, 72, 72, 72, 72};
    bool title_page_ = false;
    int16_t columns_ = 1;
    double column_gap_ = 12;
    bool block_runs_ = false;
};

// A document with every feature: fonts by name, styles, colours, tabs of
// every kind, indents, spacing, two headers, a footer, notes, fields, a
// picture, line breaks, optional hyphens, a title page and two columns.
Mw2DiskBuilder full_disk_document();

// Six pages of paragraphs with indents, a hanging indent, 1½ spacing and
// space around them, a header, and margins of 54, 72, 108 and 90 points.
Mw2DiskBuilder long_disk_document();

}  // namespace testing_support
