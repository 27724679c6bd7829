// Builds MacWrite II documents from the file layout: blocks, chains (with
// ordinary links or block runs), the document chain with its style tables and
// directory, and text areas with their block lists and run lists.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace testing_support {

struct Mw2Run {
    int16_t index;
    int32_t length;
};

struct Mw2Area {
    std::string text;                  // bytes as they stand in the blocks
    std::vector<Mw2Run> char_runs, para_runs;
    size_t chars_per_block = 200;      // how the text is cut into blocks
    int group = 0;                     // directory group of the area
    int16_t stored_first_block = 0;    // non-zero: the record names this block instead (damage)
    int records = 1;                   // directory records that name the area (crafted: more)
};

class BlockFile;

enum class ChainLinks { Forward, Backward, BlockRuns };

class Mw2Builder {
public:
    // A character style: font number, size in points, style word.
    int char_style(uint16_t font, int16_t points, uint16_t style_word = 0);
    // A paragraph format: 0 left, 1 centred, 2 right, 3 justified.
    int para_format(int16_t justification = 0);
    Mw2Builder &area(const Mw2Area &a);
    // Records that carry no text: a flagged one, and one without a chain.
    Mw2Builder &empty_records(int group);
    Mw2Builder &links(ChainLinks how);
    // Lays every chain before the text blocks, with ordinary links: a
    // document of more than 32767 blocks then keeps its links readable.
    Mw2Builder &chains_before_text();
    // Closes every group with a record of kind 3 (and 2 bytes) instead of
    // opening the next one with a kind-2 word.
    Mw2Builder &groups_closed_by_kind3();
    // Stored measures that disagree with the tables (for damaged documents).
    Mw2Builder &char_style_measure(int32_t m);
    Mw2Builder &para_format_measure(int32_t m);

    std::string build() const;
    std::string build_macbinary() const;

private:
    std::string document_chain(const std::vector<int> &first_blocks) const;
    std::string build_chains_first(BlockFile &layout) const;
    static std::string finish(BlockFile &layout);

    std::vector<std::string> char_styles_, para_formats_;
    std::vector<Mw2Area> areas_;
    std::vector<int> empty_groups_;
    ChainLinks links_ = ChainLinks::Forward;
    bool chains_first_ = false;
    bool kind3_closes_ = false;
    int32_t char_measure_ = -1, para_measure_ = -1;
};

// Lays chains and blocks into a file of 256-byte blocks.
class BlockFile {
public:
    explicit BlockFile(int first_free) : next_(first_free) {}
    // Writes `data` as a chain; returns its first block.
    int chain(const std::string &data, ChainLinks how, int first = 0);
    // A block of raw bytes; returns its number.
    int raw(const std::string &bytes);
    std::array<uint8_t, 256> &block(int n) { return blocks_[n]; }
    std::string bytes() const;
    int next_free() const { return next_; }

private:
    std::map<int, std::array<uint8_t, 256>> blocks_;
    int next_;
};

}  // namespace testing_support
