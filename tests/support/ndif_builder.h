// Builds NDIF (Disk Copy 6) images for the tests and fuzz seeds, from the
// public description of the format: the data fork holds the disk's chunks,
// raw, zero or ADC (types 2, 0, 0x83); the resource fork a 'bcem' resource
// (id 128) with the chunk table.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "tests/support/udif_builder.h"

namespace testing_support {

// A resource fork holding one resource of `type` (id 128).
inline std::string resource_fork(const std::string &type, const std::string &bytes) {
    std::string data(4, '\0');
    put32(data, 0, static_cast<uint32_t>(bytes.size()));
    data += bytes;
    std::string map(50, '\0');
    put16(map, 24, 28);       // the type list, from the map
    put16(map, 26, 50);       // the (empty) name list
    put16(map, 28, 0);        // one type
    map.replace(30, 4, type);
    put16(map, 34, 0);        // one resource of it
    put16(map, 36, 10);       // its reference, from the type list
    put16(map, 38, 128);      // id
    put16(map, 40, 0xFFFF);   // no name
    std::string header(256, '\0');
    put32(header, 0, 256);
    put32(header, 4, static_cast<uint32_t>(256 + data.size()));
    put32(header, 8, static_cast<uint32_t>(data.size()));
    put32(header, 12, static_cast<uint32_t>(map.size()));
    return header + data + map;
}

// The data fork and the resource fork of an image of `disk` in chunks of
// `chunk_sectors` sectors, the n-th of type types[n % size] (an all-zero
// chunk is a zero chunk when type 0 is in the list, another is stored raw).
inline std::pair<std::string, std::string> ndif_image(const std::string &disk, const std::vector<uint8_t> &types,
                                                      uint32_t chunk_sectors = 32) {
    const uint32_t sectors = static_cast<uint32_t>(disk.size() / 512);
    std::string data, table(128, '\0');
    table[4] = 9;
    table.replace(5, 9, "Test Disk");
    put32(table, 68, sectors);
    put32(table, 72, chunk_sectors);
    auto entry = [&](uint32_t sector, uint8_t type, uint32_t at, uint32_t length) {
        std::string e(12, '\0');
        put32(e, 0, sector << 8 | type);
        put32(e, 4, at);
        put32(e, 8, length);
        table += e;
    };
    uint32_t count = 0;
    for (uint32_t s = 0; s < sectors; s += chunk_sectors, ++count) {
        const std::string plain = disk.substr(size_t{s} * 512, size_t{std::min(chunk_sectors, sectors - s)} * 512);
        uint8_t type = types[count % types.size()];
        if (type == 0 && plain.find_first_not_of('\0') != std::string::npos) type = 2;
        const std::string packed = type == 0x83 ? adc_encode(plain) : type == 0 ? "" : plain;
        entry(s, type, static_cast<uint32_t>(data.size()), static_cast<uint32_t>(packed.size()));
        data += packed;
    }
    entry(sectors, 0xFF, static_cast<uint32_t>(data.size()), 0);
    put32(table, 124, count + 1);
    return {data, resource_fork("bcem", table)};
}

}  // namespace testing_support
