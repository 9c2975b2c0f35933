// Token helpers for reading the engine's output lines.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ai_players::engine {

// The line split at runs of white space.
std::vector<std::string> split_tokens(std::string_view line);
// The same as views into the line, for reading a line without copying it.
std::vector<std::string_view> token_views(std::string_view line);

// Decimal text with an optional sign and nothing else ("12x" fails), as an
// int; throws Error naming `what` otherwise.
int to_int_strict(std::string_view text, std::string_view what);
long long to_int64_strict(std::string_view text, std::string_view what);

// Index of the first token exactly equal to keyword; throws Error when absent.
std::size_t index_of(const std::vector<std::string>& tokens, std::string_view keyword);
// The token after the first exact keyword; throws Error when either is absent.
const std::string& value_after(const std::vector<std::string>& tokens, std::string_view keyword);

}  // namespace ai_players::engine
