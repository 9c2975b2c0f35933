#include "ai_players/core/text.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace ai_players {

std::string to_text(std::string_view s) { return std::string(s); }

std::string strip(std::string_view s) {
  constexpr std::string_view blanks = " \t\n\r\v\f";
  const auto b = s.find_first_not_of(blanks);
  if (b == std::string_view::npos) return "";
  return std::string(s.substr(b, s.find_last_not_of(blanks) - b + 1));
}

bool is_valid_utf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    int len;
    unsigned lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      if (c == 0xE0) lo = 0xA0;
      if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;
    } else {
      return false;
    }
    if (i + static_cast<std::size_t>(len) > s.size()) return false;
    for (int k = 1; k < len; ++k) {
      const auto b = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
      if (k == 1 ? (b < lo || b > hi) : (b < 0x80 || b > 0xBF)) return false;
    }
    i += static_cast<std::size_t>(len);
  }
  return true;
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string to_text(double v) {
  if (std::isnan(v)) return "nan";
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  std::string s(buf, end);
  if (s.find_first_of(".e") == std::string::npos) s += ".0";
  return s;
}

std::string Number::text() const {
  return is_integer() ? std::to_string(std::get<long long>(v_)) : to_text(std::get<double>(v_));
}

namespace {
template <class T, class F>
std::string list_text(const std::vector<T>& list, F item) {
  std::string out = "[";
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (i) out += ", ";
    out += item(list[i]);
  }
  return out + "]";
}
}  // namespace

std::string to_text(const std::vector<std::string>& list) {
  return list_text(list, [](const std::string& s) { return "'" + s + "'"; });
}
std::string to_text(const std::vector<int>& list) {
  return list_text(list, [](int v) { return std::to_string(v); });
}
std::string to_text(const std::vector<double>& list) {
  return list_text(list, [](double v) { return to_text(v); });
}

std::string percent_s(std::string_view pattern, const std::vector<std::string>& values) {
  std::string out;
  std::size_t next = 0;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 's' && next < values.size()) {
      out += values[next++];
      ++i;
    } else {
      out += pattern[i];
    }
  }
  return out;
}

std::string quoted_excerpt(std::string_view s, std::size_t limit) {
  std::string text = strip(s);
  if (text.size() > limit) text = text.substr(0, limit) + "...";
  return "'" + text + "'";
}

std::size_t display_width(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

}  // namespace ai_players
