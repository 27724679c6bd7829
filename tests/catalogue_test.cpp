// The catalogue as a host sees it through _DLL_enum.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "catalogue/catalogue.h"

namespace {

struct Record {
    std::string name, aux;
    ConverterFn convert;
    int32_t status;
};

std::vector<Record> enumerate(int32_t direction, int32_t language, int32_t &count) {
    std::vector<unsigned char> buffer(8 * sizeof(ConverterDescriptor), 0xAA);
    count = _DLL_enum(buffer.data(), direction, language);
    std::vector<Record> out;
    for (int i = 0; i < count; ++i) {
        const unsigned char *r = buffer.data() + i * sizeof(ConverterDescriptor);
        Record rec;
        rec.name = reinterpret_cast<const char *>(r);
        rec.aux = reinterpret_cast<const char *>(r + 64);
        std::memcpy(&rec.convert, r + 69, sizeof rec.convert);
        std::memcpy(&rec.status, r + 69 + sizeof(ConverterFn), sizeof rec.status);
        out.push_back(rec);
    }
    return out;
}

TEST(Catalogue, ImportsInBothLanguagesAreTheThreeReadersInOrder) {
    for (int32_t language : {0, 1, 7}) {
        int32_t count = 0;
        const auto records = enumerate(0, language, count);
        ASSERT_EQ(count, 3);
        EXPECT_EQ(records[0].name, "MacWrite II");
        EXPECT_EQ(records[1].name, "MacWrite 4.6/5");
        EXPECT_EQ(records[2].name, "MacWrite 2.2");
        EXPECT_EQ(records[0].convert, &import_macwrite_ii);
        EXPECT_EQ(records[1].convert, &import_macwrite_5);
        EXPECT_EQ(records[2].convert, &import_macwrite_22);
        for (const Record &r : records) {
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.aux, "");
        }
    }
}

TEST(Catalogue, AnyNonZeroDirectionGivesTheOneExport) {
    for (int32_t direction : {1, -1, 42})
        for (int32_t language : {0, 1}) {
            int32_t count = 0;
            const auto records = enumerate(direction, language, count);
            ASSERT_EQ(count, 1);
            EXPECT_EQ(records[0].name, "MacWrite 4.6/5");
            EXPECT_EQ(records[0].convert, &export_macwrite_5);
            EXPECT_EQ(records[0].status, 1);
        }
}

TEST(Catalogue, BytesAfterTheTextTerminatorsStayAsTheHostLeftThem) {
    std::vector<unsigned char> buffer(3 * sizeof(ConverterDescriptor), 0xAA);
    _DLL_enum(buffer.data(), 0, 1);
    const size_t after_name = std::strlen("MacWrite II") + 1;
    EXPECT_EQ(buffer[after_name - 1], 0);
    EXPECT_EQ(buffer[after_name], 0xAA);
    EXPECT_EQ(buffer[63], 0xAA);
    EXPECT_EQ(buffer[64], 0);
    EXPECT_EQ(buffer[65], 0xAA);
}

TEST(Catalogue, RecordLayoutMatchesTheTargetWordSize) {
    if (sizeof(void *) == 4) {
        EXPECT_EQ(sizeof(ConverterDescriptor), 77u);
        EXPECT_EQ(offsetof(ConverterDescriptor, status), 73u);
    } else {
        EXPECT_EQ(sizeof(ConverterDescriptor), 81u);
        EXPECT_EQ(offsetof(ConverterDescriptor, status), 77u);
    }
    EXPECT_EQ(offsetof(ConverterDescriptor, convert), 69u);
}

TEST(Catalogue, ConvertersHonourARefusedInit) {
    for (ConverterFn fn : {import_macwrite_ii, import_macwrite_5, import_macwrite_22, export_macwrite_5})
        EXPECT_EQ(fn(nullptr, nullptr), -2);
}

}  // namespace
