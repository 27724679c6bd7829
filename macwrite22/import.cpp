// The MacWrite 2.2 import: the text of each paragraph record, translated from
// the Macintosh set; rulers and formats of this generation are not read.
#include "catalogue/boundary.h"
#include "host/bytes.h"
#include "host/conversion.h"
#include "host/kavrel.h"
#include "host/macbinary.h"
#include "host/stream_writer.h"
#include "macwrite22/layout.h"
#include "macwrite5/hand_over.h"

namespace macwrite22 {

namespace {

using kavrel::stream::put_char;
using kavrel::stream::put_control;

// Bytes below 128 are written as they stand (the backslash as its own tag,
// through the shared character writer), bytes from 128 through the table.
void emit_text(std::FILE *in, std::FILE *out, uint16_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        const int b = std::fgetc(in);
        if (b == EOF) return;
        if (b == kavrel::code::kParagraphEnd || b == kavrel::code::kTab)
            put_control(out, static_cast<uint8_t>(b));
        else
            put_char(out, b >= 0x80 ? MAC2INT[b] : static_cast<uint16_t>(b));
    }
}

void skip_block(std::FILE *in, bool pad_odd) {
    uint16_t length = 0;
    if (!kavrel::read_be16(in, length)) return;
    fbouffe(length + (pad_odd ? (length & 1) : 0), in);
}

// Offsets are document offsets; `base` is where the document starts.
bool convert_record(std::FILE *in, std::FILE *out, long base) {
    uint8_t head[kRecordHeadSize];
    if (std::fread(head, 1, sizeof head, in) != sizeof head) return false;
    if (kavrel::be16(head + kRecordKindAt) == 0) {
        fbouffe(kSkippedRecordBody, in);
        return true;
    }
    emit_text(in, out, kavrel::be16(head + kRecordTextLengthAt));
    if ((std::ftell(in) - base) & 1) fbouffe(1, in);
    skip_block(in, false);
    skip_block(in, true);
    return std::feof(in) == 0;
}

}  // namespace

int32_t import(std::FILE *input, std::FILE *output, int hand_overs) {
    CharAttributes ca;
    ParaFormat pf;
    TabColumns tc;
    if (init_format(input, &ca, &pf, &tc) == -2) return -2;
    uint8_t head[kavrel::macbinary::kHeaderSize + kHeaderSize] = {};
    const size_t got = std::fread(head, 1, sizeof head, input);
    const auto file_length = static_cast<uint64_t>(kavrel::stream_length(input));
    const long base = kavrel::macbinary::data_offset(head, got, file_length, kMacBinaryTypeCreator);
    const uint8_t *doc = head + base;
    const uint16_t version = kavrel::be16(doc);
    if (got < static_cast<size_t>(base) + kHeaderSize || version != kVersion) {
        if (version == kVersion5 && hand_overs > 0) return macwrite5::import(input, output, hand_overs - 1);
        return -1;
    }
    const uint16_t count = kavrel::be16(doc + kParagraphCountAt);
    std::fseek(input, base + kavrel::be16(doc + kParagraphListPosAt), SEEK_SET);
    for (uint32_t i = 0; i < count; ++i)
        if (!convert_record(input, output, base)) break;
    return 0;
}

}  // namespace macwrite22

extern "C" int32_t import_macwrite_22(FILE *input, FILE *output) {
    return macwrite::at_boundary([&] { return macwrite22::import(input, output, 1); });
}
