// The lines a person types, read on a thread of their own, so that the game
// goes on while nobody types: a ticker while the persona thinks, Enter to
// make it move now, a clock that runs out, a signal that ends the program.
#pragma once

#include <chrono>
#include <istream>
#include <memory>
#include <optional>
#include <string>

namespace ai_players::app {

class LineInput {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  struct Line {
    std::string text;
    TimePoint at;  // when it arrived
  };

  // Starts reading `in`, which must outlive the reading (std::cin does).
  explicit LineInput(std::istream& in);
  ~LineInput();  // leaves a reader still waiting for input to end with the program
  LineInput(const LineInput&) = delete;
  LineInput& operator=(const LineInput&) = delete;

  // The oldest line not taken yet, waiting at most `timeout`; none when the
  // time passed, the input ended or interrupt() was called.
  std::optional<Line> next(std::chrono::milliseconds timeout);
  // The same for a line that arrived at `since` or later; earlier ones stay.
  std::optional<Line> next_since(TimePoint since, std::chrono::milliseconds timeout);
  // Puts a line back in front of the others.
  void put_back(Line line);
  bool ended() const;  // the input ended and every line was taken
  // Makes the waiting call return now, or the next one at once if none
  // waits (a reply that ended, say). Any thread.
  void wake();
  // Makes waiting calls return at once, now and later. Any thread.
  void interrupt();
  bool interrupted() const;

 private:
  struct Shared;
  std::shared_ptr<Shared> shared_;
};

}  // namespace ai_players::app
