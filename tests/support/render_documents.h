// Documents for the renderers' tests: streams and builder documents that
// use every attribute, block, note and field a renderer shows.
#pragma once

#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "tests/support/bytes_io.h"
#include "tests/support/mw2_builder.h"
#include "tests/support/mw5_builder.h"

namespace testing_support {

inline std::string tag(uint8_t code) { return std::string("\\") + static_cast<char>(code); }
inline std::string tag(uint8_t code, uint8_t p) { return tag(code) + static_cast<char>(p); }
inline std::string tag(uint8_t code, uint8_t p1, uint8_t p2) { return tag(code, p1) + static_cast<char>(p2); }
inline std::string styled(uint8_t on, const std::string &text) {
    return tag(on) + text + tag(static_cast<uint8_t>(on + 1));
}
inline std::string unicode(uint16_t cp) {
    return tag(0x20, static_cast<uint8_t>(cp >> 8), static_cast<uint8_t>(cp & 0xFF));
}

// A stream with a header and footer holding fields, every character
// attribute, fonts and sizes, alignments, spacing, tab stops, notes of one
// and two paragraphs, a page break, characters of other sets and text that
// Markdown would read as markup.
inline std::string every_attribute_stream() {
    std::string s = tag(0x9E, 0, 0) + tag(0x2B) + "Page " + tag(0x5F, 1) + " of 5\r" + tag(0x2C) + tag(0x7F);
    s += tag(0xA1, 0, 0) + "Printed " + tag(0x5F, 2) + " at " + tag(0x5F, 3) + "\r" + tag(0x7F);
    s += tag(0x4C, 18) + tag(0x88, 0, 21) + tag(0x2B) + styled(0x23, "A Title") + "\r" + tag(0x2C) + tag(0x4C, 12) +
         tag(0x88, 0, 20);
    s += "Plain " + styled(0x23, "bold") + " " + styled(0x2F, "italic") + " " + styled(0x25, "underline") + " " +
         styled(0x37, "struck") + " E=mc" + styled(0x29, "2") + " H" + styled(0x27, "2") + "O " +
         styled(0x3D, "Small Caps") + " " + styled(0x39, "caps") + " " + styled(0x3B, "double") + " " +
         styled(0x31, "outline") + " " + styled(0x35, "shadow") + " " +
         tag(0x23) + "bold " + tag(0x2F) + "and italic" + tag(0x24) + " then italic" + tag(0x30) + ".\r";
    s += tag(0x2E) + "Right" + tag(0x34) + "aligned, " + tag(0x88, 0, 22) + "Courier" + tag(0x88, 0, 20) + ".\r" +
         tag(0x2D) + tag(0x4D, 16) + "Justified and double spaced text that goes on for a while.\r" + tag(0x2C) +
         tag(0x4D, 8);
    s += tag(0x80, 1, 15) + tag(0x80, 4, 40) + "Item\tPrice\tNote\rDisk\t$4.50\tdouble-sided\r" + tag(0x81, 1, 15) +
         tag(0x81, 4, 40);
    s += "A note" + tag(0xA2, 0, 1) + "The " + styled(0x2F, "first") + " note.\r" + tag(0x7F) + " and another" +
         tag(0xA2, 0, 2) + "Two paragraphs,\rthe second one.\r" + tag(0x7F) + ".\r\f";
    s += "Caf\xE9, " + unicode(0x201C) + "quoted" + unicode(0x201D) + ", " + unicode(0x3B1) + unicode(0x3B2) + ", " +
         unicode(0x20AC) + "5, back" + tag(0x5C) + "slash {braces}\r";
    s += "*not emphasis* _nor this_ `code` <tag> [link](x) a|b ~~x~~ &amp; 10:30 :smile: " + styled(0x23, "\"q\"") +
         "x a" + styled(0x23, "\"b") + "\r";
    s += "# not a heading\r1. not a list\r> not a quote\r- not an item\r";
    return s;
}

// A MacWrite 4.6/5 document with every style bit the format has, a header,
// a footer and a ruler with tab stops.
inline std::string mw5_styled_document() {
    RulerSpec ruler;
    ruler.tabs = {144, 288};
    Mw5Builder doc;
    doc.text(Area::Header, "A page header\r", {{0, 10, 2, 21}})
        .text(Area::Footer, "A page footer\r", {{0, 10, 0, 21}})
        .ruler(Area::Main, ruler)
        .text(Area::Main, "Bold italic underline outline shadow super sub plain\r",
              {{0, 12, 0x01, 20}, {5, 12, 0x02, 20}, {12, 12, 0x04, 20}, {22, 12, 0x08, 20}, {30, 12, 0x10, 20},
               {37, 12, 0x20, 20}, {43, 12, 0x40, 20}, {47, 12, 0x00, 20}})
        .text(Area::Main, "Name\tSize\tKind\r", {{0, 12, 0, 22}});
    return doc.build();
}

// A MacWrite II document whose text areas hold the main text with two note
// calls, a header, a footer, and the notes; its styles use every attribute.
inline std::string mw2_notes_document() {
    Mw2Builder doc;
    doc.char_style(20, 12);
    const uint16_t bits[] = {0x0001, 0x0002, 0x0004, 0x0008, 0x0010, 0x0020, 0x0040, 0x0200, 0x0400, 0x0800, 0x2000};
    for (uint16_t b : bits) doc.char_style(20, 12, b);
    doc.para_format(0);
    std::string text = "Styles:";
    std::vector<Mw2Run> runs = {{0, 7}};
    const char *words[] = {" bold", " italic", " under", " outline", " shadow", " sup", " sub", " strike", " caps",
                           " small", " double"};
    for (int i = 0; i < 11; ++i) {
        text += words[i];
        runs.push_back({static_cast<int16_t>(i + 1), static_cast<int32_t>(std::string(words[i]).size())});
    }
    const std::string tail = ". See\x05 and\x05.\r";
    text += tail;
    runs.push_back({0, static_cast<int32_t>(tail.size())});
    doc.area({text, runs, {{0, static_cast<int32_t>(text.size())}}});
    doc.area({"Header of the page\r", {{0, 19}}, {{0, 19}}, 200, 1});
    doc.area({"Footer of the page\r", {{0, 19}}, {{0, 19}}, 200, 2});
    doc.area({"\x03" "First note.\r\x03" "Second note.\r", {{0, 27}}, {{0, 27}}, 200, 3});
    return doc.build();
}

inline std::string imported(ConverterFn import, const std::string &document) {
    return convert(import, document).output;
}

}  // namespace testing_support
