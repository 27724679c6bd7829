// Builds UDIF (.dmg) images for the tests and fuzz seeds, from the public
// description of the format: the disk cut into chunks, each stored, zero or
// compressed by the method its place in `methods` names, one block table
// ("mish") per partition in an XML property list, and the 512-byte "koly"
// trailer.  Checksums are left out (type 0), as the format allows.
#pragma once

#include <bzlib.h>
#include <lzma.h>
#include <zlib.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/disk_builder.h"

namespace testing_support {

enum class UdifMethod : uint32_t {
    kZero = 0x00000000,
    kRaw = 0x00000001,
    kAdc = 0x80000004,
    kZlib = 0x80000005,
    kBzip2 = 0x80000006,
    kLzfse = 0x80000007,
    kLzma = 0x80000008,
};

// ADC: literal runs of up to 128 bytes and, for runs of a repeated byte,
// copies at distance 1 (the three-byte form for long runs, the two-byte form
// for short ones).
inline std::string adc_encode(const std::string &in) {
    std::string out, literal;
    auto flush = [&] {
        for (size_t i = 0; i < literal.size(); i += 128) {
            const std::string part = literal.substr(i, 128);
            out += static_cast<char>(0x80 | (part.size() - 1));
            out += part;
        }
        literal.clear();
    };
    for (size_t i = 0; i < in.size();) {
        size_t run = 1;
        while (i + run < in.size() && in[i + run] == in[i] && run < 1 + 67) ++run;
        if (run >= 4) {
            literal += in[i];
            flush();
            const size_t copy = run - 1;
            if (copy >= 19) out += {static_cast<char>(0x40 | (copy - 4)), '\0', '\0'};
            else out += {static_cast<char>(((copy - 3) << 2)), '\0'};
            i += run;
        } else {
            literal += in[i++];
        }
    }
    flush();
    return out;
}

inline std::string udif_compress(UdifMethod method, const std::string &in) {
    std::string out(in.size() * 2 + 1024, '\0');
    switch (method) {
        case UdifMethod::kZlib: {
            uLongf n = out.size();
            compress2(reinterpret_cast<Bytef *>(out.data()), &n, reinterpret_cast<const Bytef *>(in.data()), in.size(), 9);
            out.resize(n);
            return out;
        }
        case UdifMethod::kBzip2: {
            unsigned n = static_cast<unsigned>(out.size());
            BZ2_bzBuffToBuffCompress(out.data(), &n, const_cast<char *>(in.data()), static_cast<unsigned>(in.size()), 9, 0, 0);
            out.resize(n);
            return out;
        }
        case UdifMethod::kLzma: {
            size_t n = 0;
            lzma_easy_buffer_encode(6, LZMA_CHECK_CRC32, nullptr, reinterpret_cast<const uint8_t *>(in.data()), in.size(),
                                    reinterpret_cast<uint8_t *>(out.data()), &n, out.size());
            out.resize(n);
            return out;
        }
        case UdifMethod::kAdc: return adc_encode(in);
        default: return in;
    }
}

inline std::string base64(const std::string &in) {
    static const char *k = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < in.size(); i += 3) {
        uint32_t v = static_cast<uint8_t>(in[i]) << 16;
        if (i + 1 < in.size()) v |= static_cast<uint8_t>(in[i + 1]) << 8;
        if (i + 2 < in.size()) v |= static_cast<uint8_t>(in[i + 2]);
        out += k[v >> 18 & 63];
        out += k[v >> 12 & 63];
        out += i + 1 < in.size() ? k[v >> 6 & 63] : '=';
        out += i + 2 < in.size() ? k[v & 63] : '=';
    }
    return out;
}

struct UdifPartition {
    std::string name;
    std::string bytes;  // a whole number of 512-byte sectors
};

// Hostile images: `pack` stands in for the compression of each chunk,
// `patch` changes each block table before it is stored.
struct UdifHooks {
    std::function<std::string(UdifMethod, const std::string &)> pack = udif_compress;
    std::function<void(std::string &)> patch = [](std::string &) {};
};

// The image of the partitions laid end to end, in chunks of `chunk_sectors`
// sectors, the n-th chunk of the disk compressed by methods[n % size] (an
// all-zero chunk is a zero chunk when kZero is in the list).
inline std::string udif_image(const std::vector<UdifPartition> &partitions, const std::vector<UdifMethod> &methods,
                              uint64_t chunk_sectors = 64, const UdifHooks &hooks = {}) {
    std::string data, xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">\n<dict>\n"
        "\t<key>resource-fork</key>\n\t<dict>\n\t\t<key>blkx</key>\n\t\t<array>\n";
    uint64_t first = 0;
    size_t n = 0;
    for (size_t p = 0; p < partitions.size(); ++p) {
        const std::string &bytes = partitions[p].bytes;
        const uint64_t sectors = bytes.size() / 512;
        std::string table(204, '\0');
        table.replace(0, 4, "mish");
        put32(table, 4, 1);
        put64(table, 8, first);
        put64(table, 16, sectors);
        uint32_t count = 0;
        auto entry = [&](uint32_t type, uint64_t sector, uint64_t length, uint64_t at, uint64_t stored) {
            std::string e(40, '\0');
            put32(e, 0, type);
            put64(e, 8, sector);
            put64(e, 16, length);
            put64(e, 24, at);
            put64(e, 32, stored);
            table += e;
            ++count;
        };
        for (uint64_t s = 0; s < sectors; s += chunk_sectors, ++n) {
            const uint64_t length = std::min(chunk_sectors, sectors - s);
            const std::string plain = bytes.substr(s * 512, length * 512);
            UdifMethod m = methods[n % methods.size()];
            if (m == UdifMethod::kZero && plain.find_first_not_of('\0') != std::string::npos) m = UdifMethod::kRaw;
            const std::string packed = m == UdifMethod::kZero ? "" : hooks.pack(m, plain);
            entry(static_cast<uint32_t>(m), s, length, data.size(), packed.size());
            data += packed;
        }
        entry(0xFFFFFFFF, sectors, 0, data.size(), 0);
        put32(table, 200, count);
        hooks.patch(table);
        xml += "\t\t\t<dict>\n\t\t\t\t<key>Attributes</key>\n\t\t\t\t<string>0x0050</string>\n\t\t\t\t<key>Data</key>\n"
               "\t\t\t\t<data>" + base64(table) + "</data>\n\t\t\t\t<key>ID</key>\n\t\t\t\t<string>" +
               std::to_string(static_cast<int>(p) - 1) + "</string>\n\t\t\t\t<key>Name</key>\n\t\t\t\t<string>" +
               partitions[p].name + "</string>\n\t\t\t</dict>\n";
        first += sectors;
    }
    xml += "\t\t</array>\n\t</dict>\n</dict>\n</plist>\n";
    std::string koly(512, '\0');
    koly.replace(0, 4, "koly");
    put32(koly, 4, 4);
    put32(koly, 8, 512);
    put32(koly, 12, 1);
    put64(koly, 32, data.size());
    put32(koly, 56, 1);
    put32(koly, 60, 1);
    put64(koly, 216, data.size());
    put64(koly, 224, xml.size());
    put32(koly, 488, 1);
    put64(koly, 492, first);
    return data + xml + koly;
}

}  // namespace testing_support
