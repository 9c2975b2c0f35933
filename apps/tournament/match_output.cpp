// A match's own outputs: the bar of games played, and the summary.
#include <unistd.h>

#include <cmath>

#include <fmt/format.h>

#include "game/numbers.h"
#include "tournament/run_output.h"

namespace ai_players::app {
namespace {

class MatchProgressOutput : public RunOutput {
 public:
  explicit MatchProgressOutput(std::ostream& log) : log_(log) {}
  void started(const RunStart& start) override {
    first_ = start.names.at(0), second_ = start.names.at(1);
    total_ = static_cast<int>(start.total);
  }
  void game(const GameEnd& end) override {
    constexpr int width = 30;
    const Tally& tally = *end.tally;
    const int filled = end.number * width / total_;
    // On a terminal the bar redraws in place; elsewhere (a log file) each state gets its own line.
    static const bool terminal = ::isatty(STDERR_FILENO) == 1;
    log_ << fmt::format("{}[{}{}] {}/{}  {} {:g} - {:g} {}", terminal ? "\r" : "", std::string(filled, '#'),
                        std::string(width - filled, '-'), end.number, total_, first_, tally.points(),
                        tally.scored_games() - tally.points(), second_);
    if (!terminal || end.number == total_) log_ << '\n';
    log_ << std::flush;
  }

 private:
  std::ostream& log_;
  std::string first_, second_;
  int total_ = 0;
};

class MatchSummaryOutput : public RunOutput {
 public:
  explicit MatchSummaryOutput(std::ostream& out) : out_(out) {}
  void report(const RunReport& r) override {
    if (!r.match) return;
    const MatchResult& m = *r.match;
    const Tally& tally = m.tally;
    const auto s = [](int n, const char* many = "s") { return n == 1 ? "" : many; };
    out_ << fmt::format("\n{} vs {}: {} game{}, seed {}\n", m.first, m.second, m.games, s(m.games), m.seed);
    out_ << fmt::format("{}: {} win{}, {} draw{}, {} loss{}", m.first, tally.wins, s(tally.wins), tally.draws,
                        s(tally.draws), tally.losses, s(tally.losses, "es"));
    if (tally.unfinished) out_ << fmt::format(" ({} unfinished, not scored)", tally.unfinished);
    out_ << '\n';
    if (tally.scored_games()) {
      out_ << fmt::format("Score: {:g}/{} ({:.1f} %)\n", tally.points(), tally.scored_games(), 100 * tally.score());
      const EloEstimate elo = estimate_elo(tally);
      if (std::isinf(elo.difference))
        out_ << fmt::format("Elo difference: {} (a {} score gives no finite estimate)\n", format_elo(elo),
                            elo.difference > 0 ? "perfect" : "zero");
      else
        out_ << fmt::format("Elo difference: {} (95 % confidence)\n", format_elo(elo));
    }
    std::string ends;
    for (const auto& [why, count] : m.endings) ends += fmt::format("{}{} {}", ends.empty() ? "" : ", ", why, count);
    out_ << "Endings: " << ends << '\n' << m.player_notes;
  }

 private:
  std::ostream& out_;
};

}  // namespace

std::unique_ptr<RunOutput> match_progress_output(std::ostream& log) {
  return std::make_unique<MatchProgressOutput>(log);
}

std::unique_ptr<RunOutput> match_summary_output(std::ostream& out) { return std::make_unique<MatchSummaryOutput>(out); }

}  // namespace ai_players::app
