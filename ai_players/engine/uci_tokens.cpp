#include "ai_players/engine/uci_tokens.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include "ai_players/core/errors.h"
#include "ai_players/core/text.h"

namespace ai_players::engine {

namespace {

constexpr bool blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

std::vector<std::string_view> token_views(std::string_view line) {
  std::vector<std::string_view> tokens;
  std::size_t i = 0;
  const std::size_t n = line.size();
  for (;;) {
    while (i < n && blank(line[i])) ++i;
    if (i == n) return tokens;
    const std::size_t start = i;
    while (i < n && !blank(line[i])) ++i;
    tokens.push_back(line.substr(start, i - start));
  }
}

std::vector<std::string> split_tokens(std::string_view line) {
  const auto views = token_views(line);
  return {views.begin(), views.end()};
}

long long to_int64_strict(std::string_view text, std::string_view what) {
  std::string_view digits = text;
  const bool plus = !digits.empty() && digits[0] == '+';
  if (plus) digits.remove_prefix(1);
  long long value = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (digits.empty() || (plus && digits[0] == '-') || ec != std::errc() ||
      end != digits.data() + digits.size())
    throw Error(format_s("invalid %s value: '%s'", what, text));
  return value;
}

int to_int_strict(std::string_view text, std::string_view what) {
  const long long value = to_int64_strict(text, what);
  if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
    throw Error(format_s("%s value out of range: '%s'", what, text));
  return static_cast<int>(value);
}

std::size_t index_of(const std::vector<std::string>& tokens, std::string_view keyword) {
  const auto it = std::find(tokens.begin(), tokens.end(), keyword);
  if (it == tokens.end()) throw Error(format_s("no '%s' token", keyword));
  return static_cast<std::size_t>(it - tokens.begin());
}

const std::string& value_after(const std::vector<std::string>& tokens, std::string_view keyword) {
  const std::size_t i = index_of(tokens, keyword);
  if (i + 1 >= tokens.size()) throw Error(format_s("no value after '%s'", keyword));
  return tokens[i + 1];
}

}  // namespace ai_players::engine
