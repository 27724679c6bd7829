// What a reader of our outputs shows, for comparing with what the stream
// says: the text as lines, and each visible character with its attributes.
#pragma once

#include <cstdint>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "render/render.h"
#include "render/styled.h"
#include "mactext/utf8.h"
#include "tests/support/bytes_io.h"

namespace testing_support {

struct ShownChar {
    char32_t ch;
    uint16_t attributes;  // render::Attribute bits
    bool operator==(const ShownChar &) const = default;
};

// Whitespace of every width: readers turn one kind into another.
inline bool is_space(char32_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == '\v' || c == 0xA0 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x202F || c == 0x205F || c == 0x3000;
}

inline std::vector<char32_t> code_points(const std::string &utf8) {
    std::vector<char32_t> out;
    for (size_t i = 0; i < utf8.size();) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        const int n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        char32_t cp = n == 1 ? b : b & (0x7F >> n);
        for (int k = 1; k < n && i + static_cast<size_t>(k) < utf8.size(); ++k)
            cp = cp << 6 | (static_cast<unsigned char>(utf8[i + static_cast<size_t>(k)]) & 0x3F);
        out.push_back(cp);
        i += static_cast<size_t>(n);
    }
    return out;
}

// Lines with their whitespace runs made one space, trimmed, empty ones and
// page breaks dropped: readers lay text out, they do not keep its spaces.
inline std::vector<std::string> normalized_lines(const std::string &text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::string norm;
        bool space = false;
        for (char32_t c : code_points(line)) {
            if (is_space(c)) {
                space = true;
                continue;
            }
            if (space && !norm.empty()) norm += ' ';
            space = false;
            mactext::append_utf8(norm, c);
        }
        if (!norm.empty()) out.push_back(norm);
    }
    return out;
}

// The visible characters of a stream in the order of the text output
// (header, main text, footer, notes), each with the attributes a reader
// shows for its style, as `shown` gives them.  With `caps_shown`, characters
// in all capitals are given as capital letters.  With `pictures_shown`, a
// picture counts as its placeholder, as the text and Markdown outputs show it.
inline std::vector<ShownChar> stream_chars(const std::string &stream,
                                           const std::function<uint16_t(const render::CharStyle &)> &shown,
                                           bool caps_shown = false, bool pictures_shown = false) {
    class Collector final : public render::StyledListener {
    public:
        Collector(const std::function<uint16_t(const render::CharStyle &)> &shown, bool caps, bool pictures)
            : shown_(shown), caps_(caps), pictures_(pictures) {}
        std::vector<ShownChar> parts[4];  // header, main, footer, notes
        void begin_block(render::Block kind, int) override {
            part_ = kind == render::Block::Header ? 0 : kind == render::Block::Footer ? 2 : 3;
        }
        void end_block() override { part_ = 1; }
        void begin_paragraph(const render::ParagraphStyle &) override {}
        void end_paragraph() override {}
        void text(std::u16string_view run, const render::CharStyle &s) override {
            const uint16_t a = shown_(s);
            const bool upper = caps_ && s.has(render::kAllCaps);
            for (char16_t c : run)
                if (!is_space(c)) parts[part_].push_back({upper && c >= 'a' && c <= 'z' ? c - 32u : c, a});
        }
        void tab(const render::CharStyle &) override {}
        void line_end(const render::CharStyle &) override {}
        void page_break() override {}
        void note_call(int, const render::CharStyle &) override {}
        void field(render::Field kind, const render::CharStyle &s) override {
            text(render::field_placeholder(kind), s);
        }
        void picture(const render::Picture &p) override {
            if (!pictures_) return;
            const std::string mark = render::picture_placeholder(p.number);
            text(std::u16string(mark.begin(), mark.end()), render::CharStyle{});
        }
        void end_document() override {}

    private:
        const std::function<uint16_t(const render::CharStyle &)> &shown_;
        bool caps_;
        bool pictures_;
        int part_ = 1;
    };
    Collector c(shown, caps_shown, pictures_shown);
    std::FILE *in = stream_of(stream);
    render::read_styled(in, c);
    std::fclose(in);
    std::vector<ShownChar> out;
    for (const auto &part : c.parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

// The same with the attributes in `mask`; double underline counts as
// underline.
inline std::vector<ShownChar> stream_chars(const std::string &stream, uint16_t mask, bool caps_shown = false,
                                           bool pictures_shown = false) {
    return stream_chars(
        stream,
        [mask](const render::CharStyle &s) {
            uint16_t a = s.attributes;
            if (a & render::kDoubleUnderline)
                a = static_cast<uint16_t>((a | render::kUnderline) & ~render::kDoubleUnderline);
            return static_cast<uint16_t>(a & mask);
        },
        caps_shown, pictures_shown);
}

// "" when equal, else where they first differ.
inline std::string chars_difference(const std::vector<ShownChar> &want, const std::vector<ShownChar> &got) {
    size_t i = 0;
    while (i < want.size() && i < got.size() && want[i] == got[i]) ++i;
    if (i == want.size() && i == got.size()) return "";
    std::ostringstream os;
    os << "differ at " << i << " of " << want.size() << " / " << got.size() << "; after \"";
    for (size_t j = i > 24 ? i - 24 : 0; j < i; ++j) os << static_cast<char>(want[j].ch < 0x80 ? want[j].ch : '?');
    os << "\": want";
    for (size_t j = i; j < i + 3 && j < want.size(); ++j)
        os << " '" << static_cast<char>(want[j].ch < 0x80 ? want[j].ch : '?') << "'/" << want[j].attributes;
    os << ", got";
    for (size_t j = i; j < i + 3 && j < got.size(); ++j)
        os << " '" << static_cast<char>(got[j].ch < 0x80 ? got[j].ch : '?') << "'/" << got[j].attributes;
    return os.str();
}

// The text output less its picture placeholders: what readers of the
// formats that show pictures as pictures find as text.
inline std::string without_pictures(const std::string &text) {
    static const std::regex placeholder(R"(\[picture \d+\])");
    return std::regex_replace(text, placeholder, "");
}

template <typename Render>
std::string rendered(const std::string &stream, Render render) {
    std::FILE *in = stream_of(stream);
    std::FILE *out = kavrel::open_scratch_stream();
    render(in, out);
    std::string result = contents(out);
    std::fclose(in);
    std::fclose(out);
    return result;
}

inline std::string text_of(const std::string &stream) { return rendered(stream, render::to_text); }
inline std::string markdown_of(const std::string &stream) {
    return rendered(stream, [](std::FILE *in, std::FILE *out) { return render::to_markdown(in, out); });
}
inline std::string html_of(const std::string &stream, const render::RenderOptions &o = {}) {
    return rendered(stream, [&](std::FILE *in, std::FILE *out) { return render::to_html(in, out, o); });
}
inline std::string rtf_of(const std::string &stream, const render::RenderOptions &o = {}) {
    return rendered(stream, [&](std::FILE *in, std::FILE *out) { return render::to_rtf(in, out, o); });
}

}  // namespace testing_support
