// mwconv --extract-media: every picture of a stream as SVG and as the PICT
// file it came from (only the latter for a picture that cannot be drawn).
#include <filesystem>
#include <fstream>

#include "host/stream_reader.h"
#include "pict/pict.h"
#include "render/render.h"
#include "render/styled.h"

namespace render {

namespace {

// A path as UTF-8, for messages.
std::string shown(const std::filesystem::path &path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

bool write_file(const std::filesystem::path &path, const std::string &bytes, std::string &error) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    f.close();
    if (f) return true;
    error = "cannot write " + shown(path);
    return false;
}

}  // namespace

bool extract_media(std::FILE *stream, const std::filesystem::path &dir, std::string &error) {
    kavrel::stream::Reader reader(stream);
    kavrel::stream::Event ev;
    int number = 0;
    bool made = false;
    while (reader.next(ev)) {
        Picture p;
        if (ev.kind != kavrel::stream::EventKind::Insert || !picture_of(ev.insert, p)) continue;
        const std::string n = std::to_string(++number);
        std::error_code ec;
        if (!made && !std::filesystem::create_directories(dir, ec) && ec) {
            error = "cannot create " + shown(dir) + ": " + ec.message();
            return false;
        }
        made = true;
        // A picture that cannot be drawn keeps its PICT file but gets no
        // SVG: an empty file would not be what its name says.
        const auto *bytes = reinterpret_cast<const uint8_t *>(p.pict.data());
        if ((p.drawable() && !write_file(dir / ("picture" + n + ".svg"), p.svg(), error)) ||
            !write_file(dir / ("picture" + n + ".pict"), pict::to_pict_file(bytes, p.pict.size()), error))
            return false;
    }
    return true;
}

}  // namespace render
