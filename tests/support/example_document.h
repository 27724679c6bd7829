// The README's example document, built from the file layout.
#pragma once

#include "tests/support/mw5_builder.h"

namespace testing_support {

inline std::string example_document() {
    RulerSpec left;
    left.tabs = {144, 288};
    RulerSpec centred = left;
    centred.justification = 1;
    Mw5Builder doc;
    doc.text(Area::Header, "mwconv example\r", {{0, 9, 2, 3}})
        .ruler(Area::Main, centred)
        .text(Area::Main, "A Letter from 1986\r", {{0, 18, 1, 3}})
        .ruler(Area::Main, left)
        .text(Area::Main, "Dear reader,\r", {{0, 12, 0, 3}})
        .compressed(Area::Main, "this paragraph was stored the way MacWrite stores most text: in nibbles.\r")
        .text(Area::Main, "Caf\x8E, na\x95ve, \xD2quoted\xD3 \xD1 and a backslash: \\.\r")
        .text(Area::Main, "Item\tPrice\tNotes\r")
        .text(Area::Main, "Disk\t$4\tdouble-sided\r")
        .picture(Area::Main, 22)
        .text(Area::Main, "Greek from the Symbol font: abg.\r", {{0, 12, 0, 3}, {28, 12, 0, 23}, {31, 12, 0, 3}})
        .text(Area::Main, "Yours, with bold and italic words.\r", {{0, 12, 0, 3}, {12, 12, 1, 3}, {16, 12, 0, 3}, {21, 12, 2, 3}, {27, 12, 0, 3}})
        .text(Area::Footer, "Page footer\r");
    return doc.build();
}

}  // namespace testing_support
