// What a user got wrong: a flag, a start position, a PGN file, a persona
// name. One root, so that every surface says it the same way: a message and
// exit code 2 on the command line, an "info string" in uci, HTTP 400 in serve.
#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "ai_players/core/text.h"

namespace ai_players::app {

struct UserError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A request that does not fit the game as it stands: not your turn, the game
// is over, the persona is still thinking (HTTP 409 in serve).
struct NotNowError : UserError {
  using UserError::UserError;
};

// Something this run was started without, such as the adviser's engine
// (HTTP 503 in serve).
struct NotAvailableError : UserError {
  using UserError::UserError;
};

// A user's input as an error message quotes it: cut, so that a pasted
// document does not fill the screen or the GUI's log.
inline constexpr std::size_t kEchoLimit = 100;
inline std::string echoed(std::string_view input) { return quoted_excerpt(input, kEchoLimit); }

// A message as one line of a sane length, whatever it quotes: line breaks
// become "; ", and the rest is cut.
inline constexpr std::size_t kMessageLimit = 500;
std::string message_line(std::string_view message);

// The name among `names` that `typed` most likely meant (case aside, at most
// two letters wrong, dropped, added or swapped; one for short names); none
// when no name is that close or two are equally close.
std::optional<std::string> did_you_mean(std::string_view typed, const std::vector<std::string>& names);

}  // namespace ai_players::app
