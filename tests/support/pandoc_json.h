// pandoc's reading of a document (pandoc -t json), reduced to what the
// text output would show: lines of text, the notes after the rest as
// "[n] text", and each visible character with the attributes pandoc gave it.
// Note calls and the links between our HTML notes and their calls count as
// text, not as characters of the document.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "render/styled.h"
#include "tests/support/shown_text.h"

namespace testing_support {

struct PandocReading {
    std::string text;
    std::vector<ShownChar> chars;
    int notes = 0;
};

class PandocWalker {
public:
    PandocReading read(const std::string &json_text) {
        const nlohmann::json doc = nlohmann::json::parse(json_text);
        blocks(doc["blocks"]);
        end_line();
        for (size_t i = 0; i < notes_.size(); ++i) {
            skip_ = true;
            add("[" + std::to_string(i + 1) + "] ");
            skip_ = false;
            blocks(notes_[i]);
            end_line();
        }
        reading_.notes = static_cast<int>(notes_.size());
        return reading_;
    }

private:
    using json = nlohmann::json;

    void blocks(const json &list) {
        for (const json &b : list) block(b);
    }

    void block(const json &b) {
        const std::string t = b["t"];
        const json &c = b.contains("c") ? b["c"] : json();
        if (t == "Para" || t == "Plain") inlines(c);
        else if (t == "Header") inlines(c[2]);
        else if (t == "Div") blocks(c[1]);
        else if (t == "BlockQuote") blocks(c);
        else if (t == "BulletList") for (const json &item : c) blocks(item);
        else if (t == "OrderedList") for (const json &item : c[1]) blocks(item);
        else if (t == "LineBlock") for (const json &line : c) { inlines(line); end_line(); }
        else if (t == "CodeBlock") add(c[1].get<std::string>());
        end_line();
    }

    void inlines(const json &list) {
        for (const json &i : list) inline_(i);
    }

    void styled(uint16_t attribute, const json &list) {
        const uint16_t before = flags_;
        flags_ |= attribute;
        inlines(list);
        flags_ = before;
    }

    void inline_(const json &i) {
        const std::string t = i["t"];
        const json &c = i.contains("c") ? i["c"] : json();
        if (t == "Str") add(c.get<std::string>());
        else if (t == "Space" || t == "SoftBreak") add(" ");
        else if (t == "LineBreak") end_line();
        else if (t == "Strong") styled(render::kBold, c);
        else if (t == "Emph") styled(render::kItalic, c);
        else if (t == "Underline") styled(render::kUnderline, c);
        else if (t == "Strikeout") styled(render::kStrikeout, c);
        else if (t == "Superscript") styled(render::kSuperscript, c);
        else if (t == "Subscript") styled(render::kSubscript, c);
        else if (t == "SmallCaps") styled(render::kSmallCaps, c);
        else if (t == "Span") inlines(c[1]);
        else if (t == "Code") add(c[1].get<std::string>());
        else if (t == "Link") link(c);
        else if (t == "Quoted") quoted(c);
        else if (t == "Note") note(c);
        else if (t == "RawInline" && c[0] == "html") raw_html(c[1]);
    }

    void link(const json &c) {
        const std::string target = c[2][0];
        const bool ours = target.rfind("#mw-", 0) == 0;
        skip_ = skip_ || ours;
        inlines(c[1]);
        if (ours) skip_ = false;
    }

    void quoted(const json &c) {
        const std::string q = c[0]["t"] == "DoubleQuote" ? "\"" : "'";
        add(q);
        inlines(c[1]);
        add(q);
    }

    void note(const json &c) {
        notes_.push_back(c);
        skip_ = true;
        add("[" + std::to_string(notes_.size()) + "]");
        skip_ = false;
    }

    // Markdown says underline, superscript and subscript in inline HTML.
    void raw_html(const std::string &tag) {
        const std::pair<const char *, uint16_t> tags[] = {
            {"u>", render::kUnderline}, {"sup>", render::kSuperscript}, {"sub>", render::kSubscript}};
        for (const auto &[name, attribute] : tags) {
            if (tag == std::string("<") + name) flags_ |= attribute;
            if (tag == std::string("</") + name) flags_ &= static_cast<uint16_t>(~attribute);
        }
    }

    void add(const std::string &utf8) {
        line_ += utf8;
        if (skip_) return;
        for (char32_t c : code_points(utf8))
            if (!is_space(c)) reading_.chars.push_back({c, flags_});
    }

    void end_line() {
        if (line_.empty()) return;
        reading_.text += line_ + "\n";
        line_.clear();
    }

    PandocReading reading_;
    std::vector<json> notes_;
    std::string line_;
    uint16_t flags_ = 0;
    bool skip_ = false;
};

inline PandocReading read_pandoc_json(const std::string &json_text) { return PandocWalker().read(json_text); }

}  // namespace testing_support
