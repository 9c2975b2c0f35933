#include "ai_players/core/random.h"

#include <mutex>
#include <random>

namespace ai_players {

namespace {
std::mt19937_64& generator() {
  static std::mt19937_64 gen{std::random_device{}()};
  return gen;
}
// A host may ask several personas for replies at once (one per game); the
// draws must not tear the generator's state.
std::mutex& generator_mutex() {
  static std::mutex mutex;
  return mutex;
}
ScriptedDraws*& active_script() {
  static ScriptedDraws* script = nullptr;
  return script;
}
}  // namespace

double random_real() {
  if (ScriptedDraws* script = active_script()) {
    if (script->next_ >= script->draws_.size())
      throw std::logic_error("scripted draws exhausted");
    return script->draws_[script->next_++];
  }
  const std::lock_guard lock(generator_mutex());
  return std::generate_canonical<double, 53>(generator());
}

double uniform(double a, double b) { return a + (b - a) * random_real(); }

std::size_t random_index(std::size_t n) {
  const auto i = static_cast<std::size_t>(random_real() * static_cast<double>(n));
  return i < n ? i : n - 1;
}

void seed(std::uint64_t value) {
  const std::lock_guard lock(generator_mutex());
  generator().seed(value);
}

ScriptedDraws::ScriptedDraws(std::vector<double> draws)
    : draws_(std::move(draws)), previous_(active_script()) {
  active_script() = this;
}
ScriptedDraws::~ScriptedDraws() { active_script() = previous_; }
std::size_t ScriptedDraws::remaining() const { return draws_.size() - next_; }

}  // namespace ai_players
