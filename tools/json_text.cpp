// json_text.cpp — see json_text.h.
#include "json_text.h"

#include <cmath>
#include <cstdio>

namespace {

// The well-formed UTF-8 sequences of two or more bytes (Unicode, table 3-7):
// by lead byte, the sequence's length and its second byte's range (overlong
// forms, surrogates and code points past U+10FFFF left out); the bytes after
// the second are 0x80 to 0xBF.
struct Lead {
    unsigned from, to;
    size_t length;
    unsigned lo, hi;
};
constexpr Lead kLeads[] = {
    {0xC2, 0xDF, 2, 0x80, 0xBF}, {0xE0, 0xE0, 3, 0xA0, 0xBF}, {0xE1, 0xEC, 3, 0x80, 0xBF},
    {0xED, 0xED, 3, 0x80, 0x9F}, {0xEE, 0xEF, 3, 0x80, 0xBF}, {0xF0, 0xF0, 4, 0x90, 0xBF},
    {0xF1, 0xF3, 4, 0x80, 0xBF}, {0xF4, 0xF4, 4, 0x80, 0x8F},
};

// The length of the valid UTF-8 sequence of two or more bytes at `at`, or 0.
size_t Utf8Length(const std::string& s, size_t at)
{
    const auto byte = [&](size_t i) { return i < s.size() ? static_cast<unsigned char>(s[i]) : 0u; };
    const auto within = [](unsigned v, unsigned lo, unsigned hi) { return v >= lo && v <= hi; };
    for (const Lead& l : kLeads) {
        if (!within(byte(at), l.from, l.to))
            continue;
        if (!within(byte(at + 1), l.lo, l.hi))
            return 0;
        for (size_t i = 2; i < l.length; ++i)
            if (!within(byte(at + i), 0x80, 0xBF))
                return 0;
        return l.length;
    }
    return 0;
}

}  // namespace

std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            if (const size_t n = Utf8Length(text, i)) {
                out.append(text, i, n);
                i += n;
                continue;
            }
        }
        char escape[8];
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c >= 0x80) {
                std::snprintf(escape, sizeof escape, "\\u%04x", c);
                out += escape;
            } else {
                out += static_cast<char>(c);
            }
        }
        ++i;
    }
    return out + "\"";
}

std::string JsonNumber(double value)
{
    if (!std::isfinite(value))
        return "null";
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}
