#include "tests/support/mw2_builder.h"

#include <algorithm>
#include <cstring>

#include "tests/support/mw5_builder.h"

namespace testing_support {

namespace {

void be16(std::string &s, uint16_t v) {
    s += static_cast<char>(v >> 8);
    s += static_cast<char>(v & 0xFF);
}

void be32(std::string &s, uint32_t v) {
    be16(s, static_cast<uint16_t>(v >> 16));
    be16(s, static_cast<uint16_t>(v));
}

void put16(std::array<uint8_t, 256> &b, size_t at, uint16_t v) {
    b[at] = static_cast<uint8_t>(v >> 8);
    b[at + 1] = static_cast<uint8_t>(v);
}

std::string area_record(int first_block, bool flagged) {
    std::string r(80, '\0');
    r[28] = static_cast<char>(first_block >> 8);
    r[29] = static_cast<char>(first_block & 0xFF);
    if (flagged) r[79] = 1;
    return r;
}

// An area's chain: its block list (the text's blocks from `first_text`
// on), its character runs and its paragraph runs.
std::string area_chain(const Mw2Area &a, int first_text) {
    std::string refs;
    int n = first_text;
    for (size_t at = 0; at < a.text.size(); at += a.chars_per_block) {
        be16(refs, static_cast<uint16_t>(n++));
        be16(refs, static_cast<uint16_t>(std::min(a.chars_per_block, a.text.size() - at)));
    }
    std::string chain;
    be32(chain, 0);
    be32(chain, static_cast<uint32_t>(refs.size()));
    chain += refs;
    be32(chain, static_cast<uint32_t>(a.char_runs.size() * 8));
    for (const Mw2Run &r : a.char_runs) {
        be16(chain, static_cast<uint16_t>(r.index));
        be16(chain, 0);
        be32(chain, static_cast<uint32_t>(r.length));
    }
    be32(chain, static_cast<uint32_t>(a.para_runs.size() * 8));
    for (const Mw2Run &r : a.para_runs) {
        be16(chain, static_cast<uint16_t>(r.index));
        be16(chain, 0);
        be32(chain, static_cast<uint32_t>(r.length));
    }
    return chain;
}

}  // namespace

int BlockFile::raw(const std::string &bytes) {
    std::array<uint8_t, 256> b{};
    std::memcpy(b.data(), bytes.data(), std::min<size_t>(bytes.size(), 256));
    blocks_[next_] = b;
    return next_++;
}

int BlockFile::chain(const std::string &data, ChainLinks how, int first) {
    const int start = first ? first : next_++;
    if (how == ChainLinks::BlockRuns && data.size() > 254) {
        // An ordinary first block, then one block run holding the rest.
        const std::string rest = data.substr(254);
        const size_t run = std::max<size_t>(2, (rest.size() + 4 + 255) / 256);
        std::string run_bytes;
        be16(run_bytes, static_cast<uint16_t>(run));
        run_bytes += rest;
        run_bytes.resize(run * 256 - 2, '\0');
        std::array<uint8_t, 256> head{};
        std::memcpy(head.data(), data.data(), 254);
        const int run_start = next_;
        next_ += static_cast<int>(run);
        put16(head, 254, static_cast<uint16_t>(-run_start));
        blocks_[start] = head;
        for (size_t i = 0; i < run; ++i) {
            std::array<uint8_t, 256> b{};
            std::memcpy(b.data(), run_bytes.data() + i * 256, std::min<size_t>(256, run_bytes.size() - i * 256));
            if (i + 1 == run) put16(b, 254, 0);
            blocks_[run_start + static_cast<int>(i)] = b;
        }
        return start;
    }
    // Ordinary links, to the blocks that follow or (backward) to a block laid
    // before the one that links to it.
    const size_t pieces = std::max<size_t>(1, (data.size() + 253) / 254);
    std::vector<int> numbers{start};
    const int base = next_;
    for (size_t i = 1; i < pieces; ++i)
        numbers.push_back(how == ChainLinks::Backward ? base + static_cast<int>(pieces - 1 - i) : base + static_cast<int>(i - 1));
    next_ += static_cast<int>(pieces - 1);
    for (size_t i = 0; i < pieces; ++i) {
        std::array<uint8_t, 256> b{};
        const size_t from = i * 254;
        if (from < data.size()) std::memcpy(b.data(), data.data() + from, std::min<size_t>(254, data.size() - from));
        put16(b, 254, i + 1 < pieces ? static_cast<uint16_t>(numbers[i + 1]) : 0);
        blocks_[numbers[i]] = b;
    }
    return start;
}

std::string BlockFile::bytes() const {
    std::string out;
    const int last = blocks_.empty() ? 0 : blocks_.rbegin()->first;
    out.resize(static_cast<size_t>(last) * 256, '\0');
    for (const auto &[n, b] : blocks_) std::memcpy(&out[static_cast<size_t>(n - 1) * 256], b.data(), 256);
    return out;
}

int Mw2Builder::char_style(uint16_t font, int16_t points, uint16_t style_word) {
    std::string r(12, '\0');
    r[2] = static_cast<char>(font >> 8);
    r[3] = static_cast<char>(font & 0xFF);
    const auto stored = static_cast<uint16_t>(points * 4);
    r[4] = static_cast<char>(stored >> 8);
    r[5] = static_cast<char>(stored & 0xFF);
    r[6] = static_cast<char>(style_word >> 8);
    r[7] = static_cast<char>(style_word & 0xFF);
    char_styles_.push_back(r);
    return static_cast<int>(char_styles_.size()) - 1;
}

int Mw2Builder::para_format(int16_t justification) {
    std::string r(284, '\0');
    r[2] = static_cast<char>(justification >> 8);
    r[3] = static_cast<char>(justification & 0xFF);
    para_formats_.push_back(r);
    return static_cast<int>(para_formats_.size()) - 1;
}

Mw2Builder &Mw2Builder::area(const Mw2Area &a) {
    areas_.push_back(a);
    return *this;
}

Mw2Builder &Mw2Builder::empty_records(int group) {
    empty_groups_.push_back(group);
    return *this;
}

Mw2Builder &Mw2Builder::chains_before_text() {
    chains_first_ = true;
    return *this;
}

Mw2Builder &Mw2Builder::groups_closed_by_kind3() {
    kind3_closes_ = true;
    return *this;
}

Mw2Builder &Mw2Builder::links(ChainLinks how) {
    links_ = how;
    return *this;
}

Mw2Builder &Mw2Builder::char_style_measure(int32_t m) {
    char_measure_ = m;
    return *this;
}

Mw2Builder &Mw2Builder::para_format_measure(int32_t m) {
    para_measure_ = m;
    return *this;
}

std::string Mw2Builder::document_chain(const std::vector<int> &first_blocks) const {
    std::string c;
    be32(c, 6);
    c += "skipme";
    be32(c, 0);
    be16(c, 1);
    c += std::string(42, '\x42');
    be32(c, char_measure_ >= 0 ? static_cast<uint32_t>(char_measure_) : static_cast<uint32_t>(char_styles_.size() * 10 + 3));
    for (const std::string &r : char_styles_) c += r;
    be32(c, para_measure_ >= 0 ? static_cast<uint32_t>(para_measure_) : static_cast<uint32_t>(para_formats_.size() * 202 + 100));
    for (const std::string &r : para_formats_) c += r;
    int groups = 1;
    for (const Mw2Area &a : areas_) groups = std::max(groups, a.group + 1);
    std::string end(80, '\0');
    end[1] = 3;
    for (int g = 0; g < groups; ++g) {
        if (g > 0) c += kind3_closes_ ? end + std::string(2, '\0') : std::string("\0\2", 2);
        c += std::string(10, '\0');
        for (int e : empty_groups_)
            if (e == g) c += area_record(5, true) + area_record(0, false) + std::string(15, '\0');
        for (size_t i = 0; i < areas_.size(); ++i)
            if (areas_[i].group == g) {
                const int stored = areas_[i].stored_first_block != 0 ? areas_[i].stored_first_block : first_blocks[i];
                for (int r = 0; r < areas_[i].records; ++r) c += area_record(stored, false) + std::string(3, '\0');
            }
    }
    c += end + std::string(2, '\0');
    return c;
}

std::string Mw2Builder::build() const {
    // Blocks 1 and 2 open the document; the document chain starts at block 3
    // and goes on wherever there is room.
    BlockFile layout(4);
    if (chains_first_) return build_chains_first(layout);
    std::vector<int> first_blocks;
    for (const Mw2Area &a : areas_) {
        const int first_text = layout.next_free();
        for (size_t at = 0; at < a.text.size(); at += a.chars_per_block) layout.raw(a.text.substr(at, a.chars_per_block));
        first_blocks.push_back(layout.chain(area_chain(a, first_text), links_));
    }
    layout.chain(document_chain(first_blocks), links_, 3);
    return finish(layout);
}

// Every chain (254 bytes a block, ordinary links) before any text, so that
// no link passes 32767 however long the text.
std::string Mw2Builder::build_chains_first(BlockFile &layout) const {
    auto blocks_of = [](size_t bytes) { return static_cast<int>(std::max<size_t>(1, (bytes + 253) / 254)); };
    std::vector<int> first_blocks;
    int next = layout.next_free();
    for (const Mw2Area &a : areas_) {
        first_blocks.push_back(next);
        next += blocks_of(area_chain(a, 0).size());
    }
    next += blocks_of(document_chain(first_blocks).size()) - 1;  // its first block is block 3
    for (const Mw2Area &a : areas_) {
        layout.chain(area_chain(a, next), ChainLinks::Forward);
        next += static_cast<int>((a.text.size() + a.chars_per_block - 1) / a.chars_per_block);
    }
    layout.chain(document_chain(first_blocks), ChainLinks::Forward, 3);
    for (const Mw2Area &a : areas_)
        for (size_t at = 0; at < a.text.size(); at += a.chars_per_block) layout.raw(a.text.substr(at, a.chars_per_block));
    return finish(layout);
}

std::string Mw2Builder::finish(BlockFile &layout) {
    layout.block(1)[1] = '.';
    layout.block(2)[0] = 0;
    return layout.bytes();
}

std::string Mw2Builder::build_macbinary() const { return macbinary_wrap(build(), "MW2DMWII"); }

}  // namespace testing_support
