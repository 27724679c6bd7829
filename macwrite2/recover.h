// What a MacWrite II import could not read.  Its text lies in chains of
// blocks; a chain that breaks (a link outside the file, a block met twice, a
// block the file ends in) keeps the text it holds up to the break, and a
// text block outside the file gives nothing.  In the layout the application
// writes, a text block of zeros, a zone whose chain or block list is lost
// and a directory cut short are damage too.  A document with any of these is
// reported damaged; it then looks for the text areas that the directory no
// longer names and for text blocks that no area takes, and counts those it
// finds.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace macwrite2 {

struct ChainDamage {
    int32_t broken_chains = 0;
    int32_t lost_blocks = 0;         // text blocks wholly or partly outside the file
    int32_t zeroed_blocks = 0;       // text blocks that hold zeros where text stands
    int32_t lost_zones = 0;          // zones whose chain or block list is lost
    int32_t lost_pictures = 0;       // pictures whose chain is lost or cut
    int32_t cut_lists = 0;           // zones whose chain ends inside their runs or tokens
    int32_t areas = 0;               // text areas read
    int32_t found_areas = 0;         // of them, found by their structure
    int32_t found_blocks = 0;        // text blocks found outside any area: text that no area reached
    bool lost_first_block = false;   // zeros where the signature and page setup stand
    bool lost_document_chain = false;   // its tables do not hold together
    bool directory_cut = false;      // fewer pages or frames than the document has

    bool damaged() const {
        return broken_chains > 0 || lost_blocks > 0 || zeroed_blocks > 0 || lost_zones > 0 || lost_pictures > 0 ||
               cut_lists > 0 || found_blocks > 0 || lost_first_block || lost_document_chain || directory_cut;
    }
    std::string summary() const;
};

// The import, telling what it could not read.
int32_t import(std::FILE *input, std::FILE *output, ChainDamage &damage);

}  // namespace macwrite2
