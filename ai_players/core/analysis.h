// The analysis record of one engine line, and the small utilities every
// part of the library shares: mate scores, yes/no draws, diagnostics.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "ai_players/core/text.h"
#include "ai_players/host/common.h"

namespace ai_players {

struct Analysis {
  int score = 0;  // centipawns or mate-encoded, from the side to move's view
  int depth = 0;
  std::vector<std::string> pv_list;  // [0] the candidate, [1] the expected reply

  Analysis() = default;
  Analysis(int score_, int depth_, std::vector<std::string> pv_list_)
      : score(score_), depth(depth_), pv_list(std::move(pv_list_)) {}

  // Logs "depth:..., score:..., pv_list=[...]" with the first pvnum moves.
  void print_me(int pvnum = 10) const;
};

// Score of a mate in x moves; x > 0.
int MATE_IN(double x);

// True at the rate prob, one draw; prob must lie in [-0.5, 1.5].
bool chance(double prob);

// Diagnostics go to standard output unless the host redirects them.
using LineSink = std::function<void(std::string_view)>;
LineSink set_bugprint_sink(LineSink sink);  // empty restores stdout; returns the previous sink
// Redirects the diagnostics while alive: ScopedBugprintSink to_log([&](std::string_view line) {...});
using ScopedBugprintSink = common::ScopedSink<&set_bugprint_sink>;
void bugprint_lines(const std::vector<std::optional<std::string>>& values);

namespace detail {
inline std::optional<std::string> bug_text(std::nullopt_t) { return std::nullopt; }
inline std::optional<std::string> bug_text(std::nullptr_t) { return std::nullopt; }
template <class T>
std::optional<std::string> bug_text(const std::optional<T>& v) {
  if (!v) return std::nullopt;
  return to_text(*v);
}
template <class T>
std::optional<std::string> bug_text(const T& v) {
  return to_text(v);
}
}  // namespace detail

// Writes one to seven values, one per line; values not given print as empty
// lines, null values (std::nullopt, nullptr) are skipped.
template <class... Args>
void bugprint(const Args&... args) {
  static_assert(sizeof...(Args) >= 1 && sizeof...(Args) <= 7, "bugprint takes one to seven values");
  std::vector<std::optional<std::string>> values{detail::bug_text(args)...};
  values.resize(7, std::string());
  bugprint_lines(values);
}

}  // namespace ai_players
