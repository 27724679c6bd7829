#include "render/pdf_fonts.h"

#include <fontconfig/fontconfig.h>
#include <pango/pangocairo.h>
#include <pango/pangofc-fontmap.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include <algorithm>
#include <array>
#include <set>
#include <string>
#include <utility>

namespace render {

namespace {

// The LaserWriter's families have metric-compatible URW versions.  Geneva,
// New York, Chicago and Monaco have none: each stands in for by the Debian
// font whose widths give MacWrite's own line counts most often over the
// corpus (docs/pdf.md has the figures).
constexpr std::array<std::pair<std::string_view, std::string_view>, 14> kFamilies = {{
    {"Times", "Nimbus Roman"},
    {"Helvetica", "Nimbus Sans"},
    {"Courier", "Nimbus Mono PS"},
    {"Palatino", "P052"},
    {"Bookman", "URW Bookman"},
    {"New Century Schoolbook", "C059"},
    {"Avant Garde", "URW Gothic"},
    {"Zapf Chancery", "Z003"},
    {"Symbol", "Standard Symbols PS"},
    {"Zapf Dingbats", "D050000L"},
    {"Geneva", "DejaVu Sans"},
    {"Chicago", "DejaVu Sans"},
    {"New York", "DejaVu Serif"},
    {"Monaco", "DejaVu Sans Mono"},
}};

std::string_view generic_family(mactext::Generic g) {
    switch (g) {
    case mactext::Generic::SansSerif: return "Nimbus Sans";
    case mactext::Generic::Monospace: return "Nimbus Mono PS";
    default: return "Nimbus Roman";
    }
}

bool is_pdf_family(std::string_view family) {
    return std::any_of(kFamilies.begin(), kFamilies.end(), [&](const auto &f) { return f.second == family; });
}

std::string xml_text(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else out += c;
    }
    return out;
}

// A family with no bold or no italic face is made bold or slanted, as the
// machine's configuration usually does (Zapf Chancery has one face).
constexpr std::string_view kSynthetic = R"(
  <match target="font">
    <test name="slant"><const>roman</const></test>
    <test target="pattern" name="slant" compare="not_eq"><const>roman</const></test>
    <edit name="matrix" mode="assign">
      <times><name>matrix</name><matrix><double>1</double><double>0.2</double><double>0</double><double>1</double></matrix></times>
    </edit>
    <edit name="slant" mode="assign"><const>oblique</const></edit>
  </match>
  <match target="font">
    <test name="weight" compare="less_eq"><const>medium</const></test>
    <test target="pattern" name="weight" compare="more_eq"><const>bold</const></test>
    <edit name="embolden" mode="assign"><bool>true</bool></edit>
    <edit name="weight" mode="assign"><const>bold</const></edit>
  </match>
)";

// The folders that hold the machine's fonts of the families above, found by
// family name in the machine's configuration, with its cache folders, so
// that the configuration of our own reads those folders' caches rather than
// the fonts.  Empty when no family is installed.
std::string configuration(FcConfig *machine) {
    std::set<std::string> folders;
    for (const FcSetName which : {FcSetSystem, FcSetApplication}) {
        const FcFontSet *fonts = FcConfigGetFonts(machine, which);
        for (int i = 0; fonts != nullptr && i < fonts->nfont; ++i) {
            FcChar8 *family = nullptr, *file = nullptr;
            bool wanted = false;
            for (int n = 0; !wanted && FcPatternGetString(fonts->fonts[i], FC_FAMILY, n, &family) == FcResultMatch; ++n)
                wanted = is_pdf_family(reinterpret_cast<const char *>(family));
            if (!wanted || FcPatternGetString(fonts->fonts[i], FC_FILE, 0, &file) != FcResultMatch) continue;
            const std::string path = reinterpret_cast<const char *>(file);
            folders.insert(path.substr(0, path.find_last_of('/')));
        }
    }
    if (folders.empty()) return {};
    std::string xml = "<?xml version=\"1.0\"?>\n<fontconfig>\n";
    FcStrList *caches = FcConfigGetCacheDirs(machine);
    for (FcChar8 *dir; caches != nullptr && (dir = FcStrListNext(caches)) != nullptr;)
        xml += "  <cachedir>" + xml_text(reinterpret_cast<const char *>(dir)) + "</cachedir>\n";
    if (caches != nullptr) FcStrListDone(caches);
    for (const std::string &folder : folders) xml += "  <dir>" + xml_text(folder) + "</dir>\n";
    return xml + std::string(kSynthetic) + "</fontconfig>\n";
}

// Starts fontconfig on the machine's configuration.  fontconfig 2.14 loses a
// block of its own while it reads that configuration, once per process:
// LeakSanitizer is told not to count it.
bool machine_configuration() {
#if defined(__SANITIZE_ADDRESS__)
    __lsan_disable();
#endif
    const bool started = FcInit();
#if defined(__SANITIZE_ADDRESS__)
    __lsan_enable();
#endif
    return started;
}

// Made once for the process and kept: fontconfig's own configuration lives
// as long.  Fonts and caches are read-only to every thread's font map.
FcConfig *make_configuration() {
    if (!machine_configuration()) return nullptr;
    const std::string xml = configuration(FcConfigGetCurrent());
    if (xml.empty()) return nullptr;
    FcConfig *config = FcConfigCreate();
    if (config == nullptr) return nullptr;
    if (!FcConfigParseAndLoadFromMemory(config, reinterpret_cast<const FcChar8 *>(xml.c_str()), FcTrue) ||
        !FcConfigBuildFonts(config)) {
        FcConfigDestroy(config);
        return nullptr;
    }
    return config;
}

// A thread's font map: fonts found and loaded for one document serve the
// next that the same thread converts; freed when the thread ends.
class ThreadFonts {
public:
    explicit ThreadFonts(FcConfig *config) : fonts_(pango_cairo_font_map_new()) {
        if (config != nullptr && PANGO_IS_FC_FONT_MAP(fonts_)) pango_fc_font_map_set_config(PANGO_FC_FONT_MAP(fonts_), config);
    }
    ThreadFonts(const ThreadFonts &) = delete;
    ThreadFonts &operator=(const ThreadFonts &) = delete;
    ~ThreadFonts() { g_object_unref(fonts_); }
    PangoFontMap *get() const { return fonts_; }

private:
    PangoFontMap *fonts_;
};

}  // namespace

PangoFontMap *pdf_font_map() {
    // Made before the first font map, whose making starts fontconfig on a
    // thread of pango's own: fontconfig then finds itself started.
    static FcConfig *const config = make_configuration();
    thread_local const ThreadFonts fonts(config);
    return fonts.get();
}

std::string_view pdf_family(const mactext::FontFace *face) {
    if (face == nullptr) return generic_family(mactext::Generic::Serif);
    const auto it = std::find_if(kFamilies.begin(), kFamilies.end(), [&](const auto &f) { return f.first == face->family; });
    return it != kFamilies.end() ? it->second : generic_family(face->generic);
}

std::string_view pdf_family_of_number(int number) {
    const mactext::FontFace *face = mactext::font_face(number);
    return pdf_family(face != nullptr ? face : mactext::font_face(1));
}

}  // namespace render
