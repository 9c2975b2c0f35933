// The one process-wide random generator behind every draw of the library.
// Seeded from the system by default; hosts and tests may seed it, and tests
// may replace it with a scripted sequence of draws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace ai_players {

// A uniform real in [0, 1): the primitive every other draw is made of.
double random_real();
// A uniform real between a and b.
double uniform(double a, double b);
// A uniform index below n (n > 0); one draw.
std::size_t random_index(std::size_t n);

template <class T>
const T& choice(const std::vector<T>& list) {
  if (list.empty()) throw std::out_of_range("cannot choose from an empty list");
  return list[random_index(list.size())];
}

void seed(std::uint64_t value);

// While alive, draws come from this sequence instead of the generator; a draw
// past its end throws std::logic_error.
class ScriptedDraws {
 public:
  explicit ScriptedDraws(std::vector<double> draws);
  ~ScriptedDraws();
  ScriptedDraws(const ScriptedDraws&) = delete;
  ScriptedDraws& operator=(const ScriptedDraws&) = delete;
  std::size_t remaining() const;

 private:
  std::vector<double> draws_;
  std::size_t next_ = 0;
  ScriptedDraws* previous_;
  friend double random_real();
};

}  // namespace ai_players
