#include "lib/identify.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "catalogue/identify.h"
#include "lib/job.h"
#include "lib/system.h"
#include "host/kavrel.h"
#include "host/macbinary.h"
#include "mactext/clock.h"
#include "mactext/roman.h"

namespace mwconv {

namespace {

using nlohmann::ordered_json;

using sys::File;

const char *generation_name(int32_t generation) {
    switch (generation) {
    case MACWRITE_II: return "MacWrite II";
    case MACWRITE_5: return "MacWrite 4.6/5";
    case MACWRITE_22: return "MacWrite 2.2";
    default: return "";
    }
}

const char *format_name(int32_t generation) {
    switch (generation) {
    case MACWRITE_II: return "macwrite-ii";
    case MACWRITE_5: return "macwrite5";
    default: return "macwrite22";
    }
}

// A Macintosh date in ISO 8601, shown as the Mac's clock stood; empty for 0.
std::string mac_date(uint32_t seconds) {
    const std::optional<int64_t> t = mactext::mac_date(seconds);
    return t ? mactext::iso_date(*t) : std::string();
}

}  // namespace

ordered_json to_json(const std::string &path, const Described &d) {
    ordered_json j;
    j["file"] = path;
    j["macwrite"] = d.id.generation != MACWRITE_NONE;
    if (d.id.generation == MACWRITE_NONE) {
        j["reason"] = d.id.reason;
        return j;
    }
    j["generation"] = generation_name(d.id.generation);
    j["format"] = format_name(d.id.generation);
    if (d.id.generation != MACWRITE_II) j["version"] = d.id.version;
    if (d.id.macbinary != 0)
        j["macbinary"] = {{"type", d.finder.type},        {"creator", d.finder.creator},
                          {"name", mactext::mac_roman_to_utf8(d.finder.name)}, {"created", mac_date(d.finder.created)},
                          {"modified", mac_date(d.finder.modified)}};
    else
        j["macbinary"] = nullptr;
    ordered_json counts = ordered_json::object();
    if (d.id.main_paragraphs >= 0) counts["main"] = d.id.main_paragraphs;
    if (d.id.header_paragraphs >= 0) counts["header"] = d.id.header_paragraphs;
    if (d.id.footer_paragraphs >= 0) counts["footer"] = d.id.footer_paragraphs;
    j["paragraphs"] = counts;
    if (d.id.notes >= 0) j["notes"] = d.id.notes;
    if (d.id.compressed >= 0) j["compressed"] = d.id.compressed;
    if (d.id.pictures >= 0) j["pictures"] = d.id.pictures;
    j["damaged"] = d.id.damaged != 0 ? ordered_json(d.id.damage) : ordered_json(nullptr);
    return j;
}

namespace {

std::string counted(int32_t n, const char *what) {
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

}  // namespace

std::string to_text(const std::string &path, const Described &d) {
    if (d.id.generation == MACWRITE_NONE) return path + ": not a MacWrite document (" + d.id.reason + ")";
    std::string line = path + ": " + generation_name(d.id.generation);
    if (d.id.generation != MACWRITE_II) line += " (version " + std::to_string(d.id.version) + ")";
    if (d.id.macbinary != 0) {
        line += "; MacBinary: type " + d.finder.type + ", creator " + d.finder.creator + ", name \"" +
                mactext::mac_roman_to_utf8(d.finder.name) + "\"";
        if (d.finder.created != 0) line += ", created " + mac_date(d.finder.created);
        if (d.finder.modified != 0) line += ", modified " + mac_date(d.finder.modified);
    } else {
        line += "; no MacBinary header";
    }
    std::string counts;
    auto add = [&counts](int32_t n, const char *what) {
        if (n >= 0) counts += (counts.empty() ? "" : ", ") + std::to_string(n) + " " + what;
    };
    add(d.id.main_paragraphs, "main");
    add(d.id.header_paragraphs, "header");
    add(d.id.footer_paragraphs, "footer");
    if (!counts.empty()) line += "; paragraphs: " + counts;
    if (d.id.notes >= 0) line += "; " + counted(d.id.notes, "note");
    if (d.id.compressed > 0) line += "; compressed text in " + counted(d.id.compressed, "paragraph");
    if (d.id.pictures > 0) line += "; " + counted(d.id.pictures, "picture");
    if (d.id.damaged != 0) line += std::string("; damaged: ") + d.id.damage;
    return line;
}

bool describe(const Plugin &plugin, std::FILE *f, Described &d, std::string &error) {
    plugin.identify(f, &d.id);
    if (std::ferror(f)) {
        error = "input/output error";
        return false;
    }
    if (d.id.macbinary != 0) {
        uint8_t head[kavrel::macbinary::kHeaderSize] = {};
        std::rewind(f);
        if (std::fread(head, 1, sizeof head, f) == sizeof head) d.finder = kavrel::macbinary::fields(head);
    }
    return true;
}

bool describe(const Plugin &plugin, const std::string &path, Described &d, std::string &error) {
    File f(sys::open_file(path, "rb"));
    if (!f) {
        error = sys::error_text(errno);
        return false;
    }
    return describe(plugin, f.get(), d, error);
}

void identify_document(const Plugin &plugin, std::FILE *f, nlohmann::ordered_json &fields, std::string &text) {
    Described d;
    plugin.identify(f, &d.id);
    if (d.id.generation == MACWRITE_NONE) return;
    fields = to_json("", d);
    fields.erase("file");
    fields.erase("macwrite");
    fields.erase("macbinary");
    text = to_text("", d).substr(2);
    // A member's data fork never has one; the Finder's fields are listed apart.
    if (const size_t at = text.find("; no MacBinary header"); at != std::string::npos) text.erase(at, 21);
}

}  // namespace mwconv
