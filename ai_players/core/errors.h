// Error types of the library: one hierarchy under ai_players::Error. A
// header of its own, below every folder, so that host/ can use it too.
#pragma once

#include <source_location>
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
struct AssertionError : Error {
  explicit AssertionError(std::source_location where = std::source_location::current())
      : Error(""), where_(where) {}
  const char* what() const noexcept override { return ""; }
  const char* file() const { return where_.file_name(); }
  unsigned line() const { return where_.line(); }
  const char* function() const { return where_.function_name(); }

 private:
  std::source_location where_;
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

inline void require(bool condition, std::source_location where = std::source_location::current()) {
  if (!condition) throw AssertionError(where);
}

}  // namespace ai_players
