// Plain text forms of values, as the library's log lines show them, and a
// small "%s" formatter.
#pragma once

#include <concepts>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ai_players/core/number.h"

namespace ai_players {

std::string to_text(std::string_view s);
inline std::string to_text(const std::string& s) { return s; }
inline std::string to_text(const char* s) { return s; }
std::string to_text(double v);  // shortest form that reads back, "270.0" for whole values
inline std::string to_text(const Number& n) { return n.text(); }
inline std::string to_text(bool b) { return b ? "True" : "False"; }
template <std::integral T>
  requires(!std::same_as<T, bool> && !std::same_as<T, char>)
std::string to_text(T v) {
  return std::to_string(v);
}
std::string to_text(const std::vector<std::string>& list);  // ['e2e4', 'e7e5']
std::string to_text(const std::vector<int>& list);          // [11, 12]
std::string to_text(const std::vector<double>& list);       // [0.5, 1.0]

// The text without white space at either end.
std::string strip(std::string_view s);
// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool is_valid_utf8(std::string_view s);
// ASCII letters in lower case; other bytes as they are.
std::string lower(std::string_view s);

// A line of outside text fit for a message: stripped, cut to `limit`
// characters (with "...") and quoted: 'bestmove'.
std::string quoted_excerpt(std::string_view s, std::size_t limit = 200);
// Characters as a terminal shows them: a UTF-8 character counts once.
std::size_t display_width(std::string_view text);

// Replaces each "%s" in order with the text form of the next argument.
std::string percent_s(std::string_view pattern, const std::vector<std::string>& values);

template <class... Args>
std::string format_s(std::string_view pattern, const Args&... args) {
  return percent_s(pattern, std::vector<std::string>{to_text(args)...});
}

}  // namespace ai_players
