#include "render/pdf_logo.h"

#include <cairo-ft.h>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <pango/pangofc-fontmap.h>

#include <cmath>
#include <string>

namespace render {

namespace {

constexpr char32_t kLogo = 0xF8FF;

// The file of a Type 1 face that has the logo, as `config` knows it.
std::string logo_file(FcConfig *config) {
    FcPattern *pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FONTFORMAT, reinterpret_cast<const FcChar8 *>("Type 1"));
    FcCharSet *logo = FcCharSetCreate();
    FcCharSetAddChar(logo, kLogo);
    FcPatternAddCharSet(pattern, FC_CHARSET, logo);
    FcObjectSet *wanted = FcObjectSetBuild(FC_FILE, FC_FAMILY, nullptr);
    FcFontSet *found = FcFontList(config, pattern, wanted);
    std::string file;
    // Standard Symbols PS first, whose logo is the Mac's; then any other.
    for (int i = 0; found != nullptr && i < found->nfont; ++i) {
        FcChar8 *path = nullptr, *family = nullptr;
        if (FcPatternGetString(found->fonts[i], FC_FILE, 0, &path) != FcResultMatch) continue;
        const bool standard = FcPatternGetString(found->fonts[i], FC_FAMILY, 0, &family) == FcResultMatch &&
                              std::string(reinterpret_cast<char *>(family)) == "Standard Symbols PS";
        if (file.empty() || standard) file = reinterpret_cast<char *>(path);
        if (standard) break;
    }
    if (found != nullptr) FcFontSetDestroy(found);
    FcObjectSetDestroy(wanted);
    FcCharSetDestroy(logo);
    FcPatternDestroy(pattern);
    return file;
}

}  // namespace

struct AppleLogo::Face {
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    cairo_font_face_t *cairo = nullptr;
    unsigned long glyph = 0;
    double advance = 0, ascent = 0, descent = 0;  // in ems

    ~Face() {
        // Once cairo has the face, it frees it (release_face) when its last
        // reference goes, which may be after this.
        if (cairo != nullptr) {
            cairo_font_face_destroy(cairo);
            return;
        }
        if (face != nullptr) FT_Done_Face(face);
        if (library != nullptr) FT_Done_FreeType(library);
    }
};

namespace {

const cairo_user_data_key_t kFaceKey{};

void release_face(void *data) {
    auto *face = static_cast<FT_Face>(data);
    FT_Library library = face->glyph->library;
    FT_Done_Face(face);
    FT_Done_FreeType(library);
}

}  // namespace

std::unique_ptr<AppleLogo> AppleLogo::find(PangoFontMap *fonts) {
    FcConfig *config = PANGO_IS_FC_FONT_MAP(fonts) ? pango_fc_font_map_get_config(PANGO_FC_FONT_MAP(fonts)) : nullptr;
    const std::string file = logo_file(config);
    if (file.empty()) return nullptr;
    auto face = std::make_unique<Face>();
    if (FT_Init_FreeType(&face->library) != 0) return nullptr;
    if (FT_New_Face(face->library, file.c_str(), 0, &face->face) != 0) return nullptr;
    face->glyph = FT_Get_Char_Index(face->face, kLogo);
    const double em = face->face->units_per_EM;
    if (face->glyph == 0 || em <= 0 || FT_Load_Glyph(face->face, face->glyph, FT_LOAD_NO_SCALE) != 0) return nullptr;
    face->advance = face->face->glyph->metrics.horiAdvance / em;
    face->ascent = face->face->ascender / em;
    face->descent = -face->face->descender / em;
    face->cairo = cairo_ft_font_face_create_for_ft_face(face->face, 0);
    // From here cairo owns the FreeType face: it is freed with cairo's face.
    if (cairo_font_face_set_user_data(face->cairo, &kFaceKey, face->face, release_face) != CAIRO_STATUS_SUCCESS) {
        cairo_font_face_destroy(face->cairo);
        face->cairo = nullptr;
        return nullptr;
    }
    return std::unique_ptr<AppleLogo>(new AppleLogo(std::move(face)));
}

AppleLogo::AppleLogo(std::unique_ptr<Face> face) : face_(std::move(face)) {}

AppleLogo::~AppleLogo() = default;

void AppleLogo::mark(PangoAttrList *list, std::string_view text, size_t from, size_t to, double points) const {
    PangoRectangle box;
    box.x = 0;
    box.y = static_cast<int>(std::lround(-face_->ascent * points * PANGO_SCALE));
    box.width = static_cast<int>(std::lround(face_->advance * points * PANGO_SCALE));
    box.height = static_cast<int>(std::lround((face_->ascent + face_->descent) * points * PANGO_SCALE));
    for (size_t at = text.find(kAppleLogoUtf8, from); at != std::string_view::npos && at < to;
         at = text.find(kAppleLogoUtf8, at + kAppleLogoUtf8.size())) {
        PangoAttribute *shape = pango_attr_shape_new(&box, &box);
        shape->start_index = static_cast<guint>(at);
        shape->end_index = static_cast<guint>(at + kAppleLogoUtf8.size());
        pango_attr_list_insert(list, shape);
    }
}

void AppleLogo::attach(PangoContext *context) const {
    pango_cairo_context_set_shape_renderer(context, draw, const_cast<AppleLogo *>(this), nullptr);
}

// Called with the current point on the shape's baseline, at its left.
void AppleLogo::draw(cairo_t *cr, PangoAttrShape *shape, gboolean do_path, gpointer self) {
    const Face &face = *static_cast<AppleLogo *>(self)->face_;
    if (face.advance <= 0) return;
    double x = 0, y = 0;
    cairo_get_current_point(cr, &x, &y);
    cairo_set_font_face(cr, face.cairo);
    cairo_set_font_size(cr, shape->logical_rect.width / static_cast<double>(PANGO_SCALE) / face.advance);
    cairo_glyph_t glyph{face.glyph, x, y};
    if (do_path) {
        cairo_glyph_path(cr, &glyph, 1);
        return;
    }
    // With its character, so that the PDF's text says what is drawn.
    const cairo_text_cluster_t cluster{static_cast<int>(kAppleLogoUtf8.size()), 1};
    cairo_show_text_glyphs(cr, kAppleLogoUtf8.data(), static_cast<int>(kAppleLogoUtf8.size()), &glyph, 1, &cluster, 1,
                           cairo_text_cluster_flags_t{});
}

}  // namespace render
