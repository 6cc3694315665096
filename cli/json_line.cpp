#include "cli/json_line.h"

#include <cmath>
#include <cstdio>

namespace cli {

namespace {

// Length of the well-formed UTF-8 sequence at `at`, 0 when the bytes there are not one
// (stray continuation, overlong form, surrogate, beyond U+10FFFF, cut short).
size_t Utf8SequenceLength(std::string_view text, size_t at) {
    const auto b = [&](size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const unsigned char lead = b(0);
    size_t length;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    if (b(1) < low || b(1) > high) return 0;
    for (size_t i = 2; i < length; ++i) {
        if (b(i) < 0x80 || b(i) > 0xBF) return 0;
    }
    return length;
}

}  // namespace

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (size_t at = 0; at < text.size();) {
        const char c = text[at];
        const auto u = static_cast<unsigned char>(c);
        const size_t length = Utf8SequenceLength(text, at);
        if (length == 0) {
            out += "\\ufffd";  // not UTF-8 (a file name in another encoding): never raw
            ++at;
            continue;
        }
        if (length > 1) {
            out.append(text.substr(at, length));
            at += length;
            continue;
        }
        ++at;
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (u < 0x20 || u == 0x7F) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

void JsonLine::Key(std::string_view key) {
    if (!body_.empty()) body_ += ',';
    body_ += JsonString(key);
    body_ += ':';
}

JsonLine& JsonLine::Add(std::string_view key, std::string_view value) {
    Key(key);
    body_ += JsonString(value);
    return *this;
}

JsonLine& JsonLine::Add(std::string_view key, int64_t value) {
    Key(key);
    body_ += std::to_string(value);
    return *this;
}

JsonLine& JsonLine::Add(std::string_view key, double value) {
    Key(key);
    if (!std::isfinite(value)) {
        body_ += "null";
        return *this;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    body_ += text;
    return *this;
}

JsonLine& JsonLine::Add(std::string_view key, bool value) {
    Key(key);
    body_ += value ? "true" : "false";
    return *this;
}

JsonLine& JsonLine::AddRaw(std::string_view key, std::string_view json) {
    Key(key);
    body_ += json;
    return *this;
}

}  // namespace cli
