#include "tournament/sprt.h"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <vector>

#include <fmt/format.h>

#include "ai_players/core/text.h"
#include "game/user_error.h"
#include "tournament/run_output.h"

namespace ai_players::app {
namespace {

double score_of(double elo) { return 1 / (1 + std::pow(10.0, -elo / 400)); }

}  // namespace

SprtBounds parse_sprt(const std::string& text) {
  std::istringstream in(text);
  std::vector<double> values;
  for (std::string part; std::getline(in, part, ',');) {
    try {
      std::size_t used = 0;
      values.push_back(std::stod(part, &used));
      if (used != part.size() || !std::isfinite(values.back())) throw std::invalid_argument("");
    } catch (const std::exception&) {
      values.clear();
      break;
    }
  }
  SprtBounds b;
  if (values.size() == 2 || values.size() == 4) {
    b.elo0 = values[0], b.elo1 = values[1];
    if (values.size() == 4) b.alpha = values[2], b.beta = values[3];
    if (b.elo0 < b.elo1 && b.alpha > 0 && b.alpha < 0.5 && b.beta > 0 && b.beta < 0.5) return b;
  }
  throw UserError(fmt::format("{} is not ELO0,ELO1[,ALPHA,BETA] with ELO0 < ELO1 and ALPHA, BETA between 0 and 0.5",
                              echoed(text)));
}

void Sprt::add_pair(double points) {
  const int slot = static_cast<int>(std::lround(points * 2));
  counts_[std::clamp(slot, 0, 4)] += 1;
  ++pairs_;
}

// The generalised test's usual approximation: with the pairs' mean score m
// and variance v (per pair, on a 0..1 scale), LLR = N ((m-s0)^2 - (m-s1)^2) / (2 v).
// The variance is never taken below that of a pair of decisive games at the
// hypotheses' mean score: a few pairs (a clean sweep, say) say little about
// the spread, and a variance near zero would decide after the first.
double Sprt::llr() const {
  if (pairs_ == 0) return 0;
  double mean = 0, square = 0;
  for (int k = 0; k < 5; ++k) {
    const double x = k / 4.0;
    mean += counts_[k] * x;
    square += counts_[k] * x * x;
  }
  mean /= pairs_;
  const double s0 = score_of(bounds_.elo0), s1 = score_of(bounds_.elo1), mid = (s0 + s1) / 2;
  const double variance = std::max(square / pairs_ - mean * mean, mid * (1 - mid) / 2);
  return pairs_ * ((mean - s0) * (mean - s0) - (mean - s1) * (mean - s1)) / (2 * variance);
}

double Sprt::lower() const { return std::log(bounds_.beta / (1 - bounds_.alpha)); }
double Sprt::upper() const { return std::log((1 - bounds_.beta) / bounds_.alpha); }

std::optional<std::string> Sprt::verdict() const {
  const double value = llr();
  if (value >= upper()) return "H1 accepted";
  if (value <= lower()) return "H0 accepted";
  return std::nullopt;
}

std::string Sprt::summary() const {
  return fmt::format("LLR {:.2f} ({:.2f}, {:.2f}) [{:g}, {:g}]: {} after {} pair{}", llr(), lower(), upper(),
                     bounds_.elo0, bounds_.elo1, verdict().value_or("no verdict yet"), pairs_, pairs_ == 1 ? "" : "s");
}

}  // namespace ai_players::app

namespace ai_players::app {
namespace {

class SprtOutput : public RunOutput {
 public:
  SprtOutput(std::ostream& log, std::ostream& out) : log_(log), out_(out) {}
  void tested(const Sprt& sprt) override { log_ << "SPRT: " << sprt.summary() << '\n'; }
  void report(const RunReport& r) override {
    if (r.sprt) out_ << "SPRT: " << r.sprt->summary() << '\n';
  }

 private:
  std::ostream& log_;
  std::ostream& out_;
};

}  // namespace

std::unique_ptr<RunOutput> sprt_output(std::ostream& log, std::ostream& out) {
  return std::make_unique<SprtOutput>(log, out);
}

}  // namespace ai_players::app
