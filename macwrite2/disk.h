// MacWrite II as the application writes it to disk.  The first block opens
// with 00 2E 00 2E, the print record and the document's page setup; the
// document chain (block 3) holds the font-name table, the character records
// (10 bytes), the paragraph records (202 bytes) and a directory of pages
// whose 76-byte frame records name the text zones: headers and footers on
// pages 0 and 1, the main text as page 2's first frame, notes after it.  A
// text zone's chain holds its text length, its block list, character and
// paragraph runs of 6 bytes, 8-byte tokens (fields, notes, pictures) and
// the records of its pictures.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "macwrite2/context.h"

namespace macwrite2::disk {

inline constexpr uint8_t kSignature[4] = {0x00, 0x2E, 0x00, 0x2E};

// The first block's page setup.
inline constexpr int kFlagsAt = 0x7E;
inline constexpr uint8_t kTitlePageFlag = 0x04;
inline constexpr int kPageCountAt = 0x94;
inline constexpr int kDimensionsAt = 0x96;   // six 16.16 values: height, width, top, bottom, left, right
inline constexpr int kColumnsAt = 0xAE;
inline constexpr int kColumnGapAt = 0xB0;
inline constexpr int kHeaderBytes = 0xB4;

// Records of the document chain.
inline constexpr int kNamedStyleSize = 42;
inline constexpr int kCharRecordSize = 10;
inline constexpr int kParaRecordSize = 202;
inline constexpr int kTabCount = 20;
inline constexpr int kTabSize = 8;
inline constexpr int kPageHeaderSize = 12;
inline constexpr int kFrameSize = 76;

// Text zones.
inline constexpr int kRunSize = 6;
inline constexpr int kTokenSize = 8;
inline constexpr int kPictureRecordSize = 62;

struct CharFormat {
    int font = 0;          // Mac font number in the stream
    int32_t size = 12;     // points
    uint16_t style = 0;    // style bits as stored
    uint8_t colour = 1;    // 0 white, 1 black, 2 red, 3 green, 4 blue, 5 cyan, 6 magenta, 7 yellow
};

struct Tab {
    uint8_t kind = 0;      // 0 left, 1 centre, 2 right, 3 decimal
    int32_t position = 0;  // twips from the paragraph's left indent
};

struct ParaRecord {
    uint16_t justification = 0;
    int32_t left = 0, first = 0, right = 0;   // twips
    int32_t line = 0;                         // exact twips, or 0
    int32_t interline = 8;                    // 8 single, 12 one and a half, 16 double
    int32_t before = 0, after = 0;            // twips
    std::vector<Tab> tabs;
};

enum class Role : uint8_t { Body = 0, Header = 1, Footer = 2, Note = 3 };

struct Frame {
    Role role = Role::Body;
    uint8_t pages = 0;     // 0 all, 1 left, 2 right
    int first_block = 0;   // the zone's chain; 0 for none
};

struct Document {
    std::map<int, std::string> font_names;   // by the document's own font id
    std::vector<CharFormat> chars;
    std::vector<ParaRecord> paras;
    std::vector<std::vector<Frame>> pages;   // the directory
    KavrelPage page{};
    int columns = 1;
    int column_gap = 0;                      // twips
    int page_count = 1;                      // the directory has a page of frames for each
    bool directory_cut = false;              // fewer pages, or a page cut short
};

// Whether the document's first bytes are those of the on-disk layout.
bool has_signature(const uint8_t *doc, size_t length);

// Reads the document chain's tables and directory; false when they do not
// hold together at the on-disk record sizes.
bool read_document_chain(Cursor &chain, Document &doc);

// The page setup of the first block (bytes 0 to kHeaderBytes).
void read_page_setup(const uint8_t *head, Document &doc);

// The whole import of a document in the on-disk layout.
int32_t import(ImportContext &ctx, const uint8_t *head);

}  // namespace macwrite2::disk
