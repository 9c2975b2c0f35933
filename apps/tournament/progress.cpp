#include "tournament/progress.h"

#include <algorithm>
#include <optional>

#include <fmt/format.h>

#include "tournament/rating_fit.h"
#include "tournament/run_output.h"

namespace ai_players::app {

void Standings::add(const std::string& white, const std::string& black, const std::string& result) {
  const auto points = white_points(result);
  if (!points) return;
  score_[white].first += *points;
  score_[white].second += 1;
  score_[black].first += 1 - *points;
  score_[black].second += 1;
}

std::string Standings::line(std::size_t limit) const {
  const auto of = [this](const std::string& name) {
    const auto it = score_.find(name);
    return it == score_.end() ? std::pair<double, int>{} : it->second;
  };
  std::vector<std::string> order = names_;
  std::stable_sort(order.begin(), order.end(), [&](const auto& a, const auto& b) {
    const auto x = of(a), y = of(b);
    return x.first * std::max(y.second, 1) > y.first * std::max(x.second, 1);
  });
  std::string out;
  for (const auto& name : order) {
    const auto s = of(name);
    const std::string item = fmt::format("{} {:g}/{}", name, s.first, s.second);
    if (out.size() + item.size() + 2 > limit) return out + " ...";
    out += (out.empty() ? "" : "  ") + item;
  }
  return out;
}

TournamentLog::TournamentLog(std::ostream& out, std::vector<std::string> names, std::size_t total)
    : out_(out), standings_(std::move(names)), total_(total) {}

void TournamentLog::finished(const ScheduledGame& game, const PgnGame& pgn) {
  ++done_;
  standings_.add(game.white, game.black, pgn.result);
  std::string why = pgn.ending_comment();
  if (why.empty()) why = pgn.tag("Termination");
  out_ << fmt::format("Finished game {} ({} vs {}): {} {{{}}}\n", game.index + 1, game.white, game.black, pgn.result,
                      why)
       << fmt::format("[{}/{}] {}\n", done_, total_, standings_.line(400)) << std::flush;
}

void TournamentLog::failed(const ScheduledGame& game, const std::string& why) {
  ++done_;
  out_ << fmt::format("Game {} ({} vs {}) could not be played: {}\n", game.index + 1, game.white, game.black, why)
       << std::flush;
}

}  // namespace ai_players::app

namespace ai_players::app {
namespace {

class GameLinesOutput : public RunOutput {
 public:
  explicit GameLinesOutput(std::ostream& log) : log_(log) {}
  void started(const RunStart& start) override {
    log_ << start.heading;
    lines_.emplace(log_, start.names, start.total);
  }
  void game(const GameEnd& end) override {
    const ScheduledGame g{end.number - 1, 1, end.white, end.black};
    if (end.game)
      lines_->finished(g, *end.game);
    else
      lines_->failed(g, end.failure);
  }

 private:
  std::ostream& log_;
  std::optional<TournamentLog> lines_;
};

}  // namespace

std::unique_ptr<RunOutput> game_lines_output(std::ostream& log) { return std::make_unique<GameLinesOutput>(log); }

}  // namespace ai_players::app
