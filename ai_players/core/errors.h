// Error types of the library: one hierarchy under ai_players::Error. A
// header of its own, below every folder, so that host/ can use it too.
#pragma once

#include <stdexcept>
#include <string>

namespace ai_players {

// The root of everything the library throws: a host that catches
// ai_players::Error catches them all (board errors, engine errors, failed
// internal checks). Catch AssertionError first to tell a bug in the library
// from a failure it reports.
struct Error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A broken precondition (a bug, ours or the caller's). Carries no message, by
// design: what() is ""; it knows where it was raised, so that a host can say
// which check failed (see describe()).
// (The place comes from the compiler's __builtin_FILE and friends, which gcc
// and clang both have; std::source_location is missing in clang 14 with
// libstdc++.)
struct AssertionError : Error {
  explicit AssertionError(const char* file = __builtin_FILE(), unsigned line = __builtin_LINE(),
                          const char* function = __builtin_FUNCTION())
      : Error(""), file_(file), line_(line), function_(function) {}
  const char* what() const noexcept override { return ""; }
  const char* file() const { return file_; }
  unsigned line() const { return line_; }
  const char* function() const { return function_; }

 private:
  const char* file_;
  unsigned line_;
  const char* function_;
};

// "an internal check failed in SelectNonSillyMove (ai_players/filters/non_silly_move.cpp:42)".
std::string describe(const AssertionError& error);

// The engine process failed: it could not be written to, its output ended,
// or it did not answer in time.
struct EngineError : Error {
  using Error::Error;
};

struct EngineTimeout : EngineError {
  using EngineError::EngineError;
};

// A rule that answers the opponent's last move, asked where there is none (a
// set-up position before any move). A failed check like any other, so that
// the place is known, but one that a host can put in a player's words.
struct NoLastMoveError : AssertionError {
  using AssertionError::AssertionError;
};

// A reply cut short (by the host's clock, the watchdog or interrupt()) before
// any candidate move was found.
struct CutShortError : Error {
  using Error::Error;
};

inline void require(bool condition, const char* file = __builtin_FILE(), unsigned line = __builtin_LINE(),
                    const char* function = __builtin_FUNCTION()) {
  if (!condition) throw AssertionError(file, line, function);
}

inline void require_last_move(bool condition, const char* file = __builtin_FILE(), unsigned line = __builtin_LINE(),
                              const char* function = __builtin_FUNCTION()) {
  if (!condition) throw NoLastMoveError(file, line, function);
}

}  // namespace ai_players
