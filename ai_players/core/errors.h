// Error types of the library.
#pragma once

#include <stdexcept>
#include <string>

namespace ai_players {

// A broken precondition. Carries no message, by design: the failing check is
// identified by where it is raised, not by text.
struct AssertionError : std::exception {
  const char* what() const noexcept override { return ""; }
};

// Any other failure the library reports, with a message meant for people.
struct Error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The engine process failed: it could not be written to, its output ended,
// or it did not answer in time.
struct EngineError : Error {
  using Error::Error;
};

struct EngineTimeout : EngineError {
  using EngineError::EngineError;
};

inline void require(bool condition) {
  if (!condition) throw AssertionError{};
}

}  // namespace ai_players
