#include "serve/answers.h"

#include <cctype>
#include <nlohmann/json.hpp>
#include <string_view>

namespace mwconv::serve {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

void percent(std::string &out, unsigned char c) {
    out += '%';
    out += kHex[c >> 4];
    out += kHex[c & 15];
}

}  // namespace

std::string content_type(To to, bool macbinary) {
    switch (to) {
    case To::Text: return "text/plain; charset=utf-8";
    case To::Markdown: return "text/markdown; charset=utf-8";
    case To::Html: return "text/html; charset=utf-8";
    case To::Rtf: return "application/rtf";
    case To::Docx: return "application/vnd.openxmlformats-officedocument.wordprocessingml.document";
    case To::Odt: return "application/vnd.oasis.opendocument.text";
    case To::MacWrite5: return macbinary ? "application/x-macbinary" : "application/octet-stream";
    default: return "application/octet-stream";
    }
}

std::string attachment(const std::string &name) {
    std::string ascii, encoded;
    for (unsigned char c : name) {
        // RFC 5987's attr-char: letters, digits and !#$&+-.^_`|~
        const bool attr_char = std::isalnum(c) != 0 && c < 0x80;
        if (attr_char || std::string_view("!#$&+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos)
            encoded += static_cast<char>(c);
        else
            percent(encoded, c);
        // The quoted stand-in keeps what needs no escape; other bytes become "_".
        ascii += (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') ? static_cast<char>(c) : '_';
    }
    return "attachment; filename=\"" + ascii + "\"; filename*=UTF-8''" + encoded;
}

std::string header_text(const std::string &text) {
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F && c != '%') out += static_cast<char>(c);
        else percent(out, c);
    }
    return out;
}

void problem(httplib::Response &res, int status, const std::string &title, const std::string &detail) {
    nlohmann::ordered_json j;
    j["type"] = "about:blank";
    j["title"] = title;
    j["status"] = status;
    if (!detail.empty()) j["detail"] = detail;
    res.status = status;
    res.set_content(j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n",
                    "application/problem+json");
}

const char *reason_phrase(int status) {
    switch (status) {
    case 400: return "Bad request";
    case 404: return "Not found";
    case 405: return "Method not allowed";
    case 408: return "Request timeout";
    case 413: return "Upload too large";
    case 414: return "URI too long";
    case 415: return "Unsupported media type";
    case 503: return "Busy";
    default: return status < 500 ? "Bad request" : "Internal error";
    }
}

int status_of(Status status) {
    switch (status) {
    case kOk:
    case kDamaged: return 200;
    case kBadUsage: return 400;
    default: return 422;
    }
}

const char *title_of(Status status) {
    switch (status) {
    case kNotADocument: return "Not a MacWrite document";
    case kBadUsage: return "Bad request";
    default: return "Not converted";
    }
}

}  // namespace mwconv::serve
