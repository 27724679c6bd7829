// The pictures of the real documents: each one is found where the layout
// says, drawn as well-formed SVG of its frame's proportions, and, where
// LibreOffice Draw and rsvg-convert are installed, its ink lies where
// LibreOffice's drawing of the same picture puts it; so does the ink of a
// built picture that draws every kind of shape (the real ones are bitmaps),
// and of a built screen shot laid down by two transfer modes.
//
// LibreOffice fits a picture to an A4 page, so both drawings are cut to the
// box around their ink and laid on a grid of cells four picture points wide;
// a cell is inked when any pixel in it is darker than mid grey.  At least 95%
// of the inked cells of each drawing must have an inked cell of the other
// within one cell of the same place, and the two ink boxes must have the same
// proportions within 10%.  The tolerance absorbs the fonts (LibreOffice draws
// text in its own faces, we name the Macintosh family and its stand-ins) and
// anti-aliasing at the edges of shapes.
#include <gtest/gtest.h>
#include <png.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "pict/pict.h"
#include "tests/support/corpus.h"
#include "tests/support/mw5_pictures.h"
#include "tests/support/pict_builder.h"
#include "tests/support/tools.h"

namespace {

namespace fs = std::filesystem;
using testing_support::stored_pictures;

std::string slurp(const fs::path &p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

struct CorpusPicture {
    std::string name;
    int16_t height;
    std::string pict;   // without the paragraph's rectangle
};

// Every distinct picture of the MacWrite 4.6/5 documents of the corpus.
std::vector<CorpusPicture> corpus_pictures(std::map<std::string, size_t> *per_file = nullptr) {
    std::vector<CorpusPicture> out;
    std::map<std::string, bool> seen;
    for (const char *dir : {"macwrite5", "macbinary"}) {
        if (!fs::is_directory(testing_support::corpus_dir() / dir)) continue;
        for (const auto &e : fs::directory_iterator(testing_support::corpus_dir() / dir)) {
            const std::string file = slurp(e.path());
            if (file.size() < 512) continue;
            const auto pictures = stored_pictures(file);
            if (per_file) (*per_file)[e.path().filename().string()] = pictures.size();
            for (size_t i = 0; i < pictures.size(); ++i) {
                const std::string pict = pictures[i].data.substr(8);
                if (seen[pict]) continue;
                seen[pict] = true;
                out.push_back({e.path().filename().string() + "-" + std::to_string(i + 1), pictures[i].height, pict});
            }
        }
    }
    return out;
}

const uint8_t *bytes(const std::string &s) { return reinterpret_cast<const uint8_t *>(s.data()); }

TEST(PictCorpus, EveryPictureIsFoundAndDrawnToItsFrame) {
    std::map<std::string, size_t> per_file;
    const auto pictures = corpus_pictures(&per_file);
    if (pictures.empty()) GTEST_SKIP() << "corpus not found";
    EXPECT_EQ(per_file["DiskCopyReader__MW45disk__About_MacWrite"], 6u);
    EXPECT_EQ(per_file["DiskCopyReader__MW45disk__About_MacWrite.bin"], 6u);
    EXPECT_EQ(per_file["Classic-Mac-C-Compendium__Pict_Help_MacWrite"], 1u);
    EXPECT_EQ(pictures.size(), 7u);
    for (const auto &p : pictures) {
        SCOPED_TRACE(p.name);
        // The picture's size word is the low 16 bits of its length (a pad
        // byte may follow), and its frame is as tall as the paragraph.
        const size_t size_word = static_cast<uint8_t>(p.pict[0]) << 8 | static_cast<uint8_t>(p.pict[1]);
        EXPECT_TRUE(size_word == (p.pict.size() & 0xFFFF) || size_word + 1 == p.pict.size());
        const pict::Rect frame = pict::frame_of(bytes(p.pict), p.pict.size());
        EXPECT_EQ(frame.height(), -p.height);
        pict::Result r{};
        struct Null : pict::Listener {
            void begin(const pict::Rect &) override {}
            void clip(const pict::Rect &) override {}
            void line(pict::Point, pict::Point, pict::Point, const pict::Ink &) override {}
            void shape(const pict::Shape &, pict::Verb, pict::Point, const pict::Ink &) override {}
            void text(pict::Point, const std::string &, const pict::TextStyle &, const pict::Ink &) override {}
            void image(const pict::Image &, const pict::Rect &) override {}
        } null;
        r = pict::read(bytes(p.pict), p.pict.size(), null);
        EXPECT_EQ(r.outcome, pict::Outcome::Complete);
        const std::string svg = pict::to_svg(bytes(p.pict), p.pict.size());
        EXPECT_EQ(svg.find("width=\"" + std::to_string(frame.width()) + "\" height=\"" + std::to_string(frame.height()) + "\""),
                  svg.find("width="));
    }
}

struct Gray {
    int width = 0, height = 0;
    std::vector<uint8_t> px;
    bool ink(int x, int y) const { return px[static_cast<size_t>(y) * width + x] < 128; }
};

// A PNG file as grey levels, laid on white.
bool load_gray(const std::string &path, Gray &g) {
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&img, path.c_str())) return false;
    img.format = PNG_FORMAT_GRAY;
    g.width = static_cast<int>(img.width);
    g.height = static_cast<int>(img.height);
    g.px.resize(PNG_IMAGE_SIZE(img));
    png_color white{255, 255, 255};
    return png_image_finish_read(&img, &white, g.px.data(), 0, nullptr) != 0;
}

struct Box {
    int left = 0, top = 0, right = 0, bottom = 0;   // right and bottom exclusive
};

bool ink_box(const Gray &g, Box &b) {
    b = {g.width, g.height, 0, 0};
    for (int y = 0; y < g.height; ++y)
        for (int x = 0; x < g.width; ++x)
            if (g.ink(x, y)) {
                b.left = std::min(b.left, x);
                b.top = std::min(b.top, y);
                b.right = std::max(b.right, x + 1);
                b.bottom = std::max(b.bottom, y + 1);
            }
    return b.right > b.left;
}

// The inked cells of a drawing's ink box on a grid of `cols` x `rows`.
std::vector<bool> cells(const Gray &g, const Box &b, int cols, int rows) {
    std::vector<bool> out(static_cast<size_t>(cols) * rows, false);
    for (int y = b.top; y < b.bottom; ++y)
        for (int x = b.left; x < b.right; ++x)
            if (g.ink(x, y)) {
                const int cx = (x - b.left) * cols / (b.right - b.left), cy = (y - b.top) * rows / (b.bottom - b.top);
                out[static_cast<size_t>(cy) * cols + cx] = true;
            }
    return out;
}

// Share of the inked cells of `a` with an inked cell of `b` next to them.
double matched(const std::vector<bool> &a, const std::vector<bool> &b, int cols, int rows) {
    int inked = 0, found = 0;
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x) {
            if (!a[static_cast<size_t>(y) * cols + x]) continue;
            ++inked;
            bool near = false;
            for (int dy = -1; dy <= 1 && !near; ++dy)
                for (int dx = -1; dx <= 1 && !near; ++dx) {
                    const int nx = x + dx, ny = y + dy;
                    near = nx >= 0 && ny >= 0 && nx < cols && ny < rows && b[static_cast<size_t>(ny) * cols + nx];
                }
            found += near;
        }
    return inked ? static_cast<double>(found) / inked : 1.0;
}

// The corpus's pictures are bitmaps; this one draws with every shape.
std::string shapes_picture() {
    testing_support::PictBuilder b(1, 0, 0, 200, 300);
    b.pen_size(3, 3).rect_op(0x30, 10, 10, 60, 90).pattern(0x0A, 0xAA).rect_op(0x34, 10, 100, 60, 180);
    b.op(0x0B).point(20, 20).rect_op(0x41, 10, 190, 60, 290).pen_size(1, 1).rect_op(0x50, 70, 10, 130, 90);
    b.rect_op(0x61, 70, 100, 130, 180).u16(0).u16(90);
    b.op(0x71).u16(22).rect(70, 190, 130, 290).point(70, 240).point(130, 290).point(130, 190);
    b.pen_size(2, 2).op(0x20).point(140, 10).point(190, 140);
    b.op(0x03).u16(21).op(0x0D).u16(18).op(0x04).u8(1).long_text(180, 160, "QuickDraw");
    return b.build();
}

// A screen shot as the application stores one: a bitmap of set bits drawn
// with srcBic clears the area, then the shot (here a framed box with a bar
// in it, in the left part of the area) is ORed onto it.
std::string screen_shot_picture() {
    const int width = 128, height = 64;
    std::vector<std::string> cleared(height, std::string(width / 8, '\xFF')), shot;
    for (int y = 0; y < height; ++y) {
        std::string row(width / 8, '\0');
        auto set = [&](int x) { row[static_cast<size_t>(x / 8)] = static_cast<char>(row[static_cast<size_t>(x / 8)] | 0x80 >> x % 8); };
        if (y >= 8 && y < 56) {
            const bool edge = y < 10 || y >= 54;
            for (int x = 8; x < 48; ++x)
                if (edge || x < 10 || x >= 46 || (y >= 20 && y < 24 && x >= 14 && x < 40)) set(x);
        }
        shot.push_back(row);
    }
    testing_support::PictBuilder b(1, 0, 0, height, width);
    b.bits(true, width / 8, width, cleared, 0, 0, 3).bits(true, width / 8, width, shot, 0, 0, 1);
    return b.build();
}

TEST(PictCorpus, InkLiesWhereLibreOfficeDrawsIt) {
    auto pictures = corpus_pictures();
    pictures.push_back({"shapes", -200, shapes_picture()});
    pictures.push_back({"screen shot", -64, screen_shot_picture()});
    REQUIRE_PROGRAM("soffice");
    REQUIRE_PROGRAM("rsvg-convert");
    char name[] = "/tmp/mwconv-pict-XXXXXX";
    const fs::path dir = ::mkdtemp(name);
    std::string list;
    for (size_t i = 0; i < pictures.size(); ++i) {
        const std::string stem = (dir / ("p" + std::to_string(i))).string();
        std::ofstream(stem + ".pct", std::ios::binary) << pict::to_pict_file(bytes(pictures[i].pict), pictures[i].pict.size());
        std::ofstream(stem + ".svg", std::ios::binary) << pict::to_svg(bytes(pictures[i].pict), pictures[i].pict.size());
        // rsvg-convert refuses SVG that is not well-formed XML.
        ASSERT_EQ(std::system(("rsvg-convert -b white -o '" + stem + ".png' '" + stem + ".svg'").c_str()), 0);
        list += " '" + stem + ".pct'";
    }
    // LibreOffice keeps its profile in HOME: a private one keeps runs apart.
    const std::string lo = "cd '" + dir.string() + "' && HOME='" + dir.string() + "' soffice --headless --convert-to png --outdir '" +
                           (dir / "lo").string() + "'" + list + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(lo.c_str()), 0);
    for (size_t i = 0; i < pictures.size(); ++i) {
        SCOPED_TRACE(pictures[i].name);
        Gray ours, theirs;
        ASSERT_TRUE(load_gray((dir / ("p" + std::to_string(i) + ".png")).string(), ours));
        ASSERT_TRUE(load_gray((dir / "lo" / ("p" + std::to_string(i) + ".png")).string(), theirs));
        Box a, b;
        ASSERT_TRUE(ink_box(ours, a)) << "our drawing is blank";
        ASSERT_TRUE(ink_box(theirs, b)) << "LibreOffice's drawing is blank";
        const double ours_ratio = double(a.right - a.left) / (a.bottom - a.top);
        const double their_ratio = double(b.right - b.left) / (b.bottom - b.top);
        EXPECT_NEAR(ours_ratio / their_ratio, 1.0, 0.1);
        const int cols = std::max(1, (a.right - a.left) / 4), rows = std::max(1, (a.bottom - a.top) / 4);
        const auto ca = cells(ours, a, cols, rows), cb = cells(theirs, b, cols, rows);
        EXPECT_GE(matched(ca, cb, cols, rows), 0.95);
        EXPECT_GE(matched(cb, ca, cols, rows), 0.95);
    }
    fs::remove_all(dir);
}

}  // namespace
