// json_text.h — the pieces of JSON output: strings and numbers.
#pragma once

#include <string>

// `text` as a JSON string, quotes included: quote, backslash and control
// characters escaped, valid UTF-8 kept, and every byte that is not part of
// valid UTF-8 (a file name in another encoding) written as \u00XX, its value.
std::string JsonString(const std::string& text);
// A number as JSON writes it: at most 10 significant digits; null when not finite.
std::string JsonNumber(double value);
