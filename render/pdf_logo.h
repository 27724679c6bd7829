// The Apple logo (U+F8FF, the Mac's 0xF0), which headings and signatures of
// Mac documents carry.  No font that pango reads on Debian has it; URW's
// Standard Symbols PS has it in its Type 1 cut (fonts-urw-base35), which
// pango 1.44 and later no longer open but cairo draws through FreeType and
// embeds.  So pango leaves room for the logo as an inline shape, and the
// shape is drawn by cairo from that face.
#pragma once

#include <cairo.h>
#include <pango/pangocairo.h>

#include <memory>
#include <string_view>

namespace render {

inline constexpr std::string_view kAppleLogoUtf8 = "\xEF\xA3\xBF";

class AppleLogo {
public:
    // The face found through `fonts` (pango's font map); null when the
    // machine has no Type 1 face with the logo.
    static std::unique_ptr<AppleLogo> find(PangoFontMap *fonts);
    ~AppleLogo();
    AppleLogo(const AppleLogo &) = delete;
    AppleLogo &operator=(const AppleLogo &) = delete;

    // Marks every logo in bytes [from, to) of `text` as a shape of a
    // `points` font.
    void mark(PangoAttrList *list, std::string_view text, size_t from, size_t to, double points) const;
    // Makes `context` draw the shapes marked so.
    void attach(PangoContext *context) const;

private:
    struct Face;
    explicit AppleLogo(std::unique_ptr<Face> face);
    static void draw(cairo_t *cr, PangoAttrShape *shape, gboolean do_path, gpointer self);

    std::unique_ptr<Face> face_;
};

}  // namespace render
