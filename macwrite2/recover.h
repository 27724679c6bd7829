// What a MacWrite II import could not read.  Its text lies in chains of
// blocks; a chain that breaks (a link outside the file, a block met twice, a
// block the file ends in) keeps the text it holds up to the break, and a
// text block outside the file gives nothing.  The import counts both, and a
// document with either is reported damaged; it then looks for the text
// areas that the directory no longer names, and counts those it finds.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace macwrite2 {

struct ChainDamage {
    int32_t broken_chains = 0;
    int32_t lost_blocks = 0;
    int32_t areas = 0;   // text areas read
    int32_t found_areas = 0;   // of them, found by their structure
    bool lost_first_block = false;   // zeros where the signature and page setup stand

    bool damaged() const { return broken_chains > 0 || lost_blocks > 0 || lost_first_block; }
    std::string summary() const {
        std::string text = "read " + std::to_string(areas) + (areas == 1 ? " text area" : " text areas");
        if (lost_first_block) text += "; the first block (signature and page setup) is lost";
        if (broken_chains > 0)
            text += "; " + std::to_string(broken_chains) + (broken_chains == 1 ? " chain breaks" : " chains break") +
                    ", and their text is kept as far as it goes";
        if (lost_blocks > 0)
            text += "; " + std::to_string(lost_blocks) + (lost_blocks == 1 ? " text block lies" : " text blocks lie") +
                    " outside the file";
        if (found_areas > 0)
            text += "; " + std::to_string(found_areas) + (found_areas == 1 ? " text area" : " text areas") +
                    " found without the directory, after the others";
        return text;
    }
};

// The import, telling what it could not read.
int32_t import(std::FILE *input, std::FILE *output, ChainDamage &damage);

}  // namespace macwrite2
