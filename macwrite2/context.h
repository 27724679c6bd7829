// Working state of one MacWrite II import, owned by the call.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "host/conversion.h"
#include "macwrite2/layout.h"
#include "macwrite2/recover.h"

namespace macwrite2 {

// A byte string read front to back; reads past its end come back short.
class Cursor {
public:
    explicit Cursor(std::string bytes) : bytes_(std::move(bytes)) {}
    // Copies up to n bytes; returns how many there were.
    size_t read(void *out, size_t n);
    void skip(long long n);
    bool read_be16(int16_t &v);
    bool read_be32(int32_t &v);
    std::string take(long long n);   // the next n bytes (fewer at the end)
    size_t position() const { return pos_; }
    void seek(size_t pos) { pos_ = pos; }

private:
    std::string bytes_;
    size_t pos_ = 0;
};

struct ImportContext : kavrel::ImportState {
    int32_t note_count = 0;
    int32_t chars_on_line = 0;
    std::vector<CharAttributes> char_styles;
    std::vector<ParaFormat> para_formats;
    ChainDamage damage;
    // Blocks that a chain or a text area of the document has taken, by
    // number (1-based); sized by start_blocks.
    std::vector<bool> used_blocks;

    long block_count() const { return (file_length - mac_binary_offset + kBlockSize - 1) / kBlockSize; }
    void use_block(long n) {
        if (n >= 1 && static_cast<size_t>(n) < used_blocks.size()) used_blocks[static_cast<size_t>(n)] = true;
    }
    bool block_used(long n) const { return n >= 1 && static_cast<size_t>(n) < used_blocks.size() && used_blocks[static_cast<size_t>(n)]; }
};

// The chain that begins at `first_block`, its blocks' data in link order.  It
// ends at a link of 0, at a block outside the file, at a block met a second
// time, or at a block run that counts fewer than two blocks.  Its length is
// taken from the read budget.
std::string copy_block_chain(ImportContext &ctx, long first_block);

// Places a stored style word's bits (bold 0, italic 1, underline 2, outline
// 3, shadow 4, superscript 5 and 8, subscript 6, strikeout 9, all capitals
// 10, small capitals 11, word underline 12, double underline 13) in an
// entry laid out like CharAttributes.
void place_style_word(CharAttributes &e, uint16_t w);

// Style tables, read from the document chain; runs applied through the host.
void read_char_styles(Cursor &chain, std::vector<CharAttributes> &table, int32_t count);
void read_para_formats(Cursor &chain, std::vector<ParaFormat> &table, int32_t count);
int32_t apply_char_run(ImportContext &ctx, Cursor &runs);
int32_t apply_para_run(ImportContext &ctx, Cursor &runs);

// Writes one text area whose chain begins at `first_block`, up to the end of
// the read budget.
void emit_text_area(ImportContext &ctx, long first_block);

// A chain read without counting it as damage when it breaks: `ended` says
// whether it ends with a link of 0.  `mark`: its blocks are the document's
// (used_blocks).
struct ChainBytes {
    std::string data;
    bool ended = false;
};
ChainBytes read_block_chain(ImportContext &ctx, long first_block, bool mark);

// Calls `found` for each block from `first` on that no chain of the document
// has taken and that `holds` accepts, in block order.  What `holds` reads is
// taken from a search budget of its own, so that the search of a file full
// of decoys ends soon and leaves the document's own budget whole.
void search_unused_blocks(ImportContext &ctx, long first, const std::function<bool(long)> &holds,
                          const std::function<void(long)> &found);

// After a damaged directory or chain: writes the text areas whose chains no
// chain of the document reaches any more, found by their first block's
// structure, in block order.
void emit_lost_areas(ImportContext &ctx);

// After the areas found: the text of blocks that no area takes, whose bytes
// are text up to the zeros that fill a text block, taken as the
// document's; blocks that follow one another in the file make one string.
std::vector<std::string> find_lost_text(ImportContext &ctx);

// Writes text found outside any area in the plain style, as a paragraph of
// its own.
void emit_found_text(ImportContext &ctx, const std::string &text);

// Whether block n is in the file and holds nothing but zeros.
bool block_of_zeros(ImportContext &ctx, long n);

// Rebuilds the output so that each note call carries its note's text.
void relink_notes(ImportContext &ctx);

}  // namespace macwrite2
