#include "review/review_run.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>

#include <fmt/format.h>

#include "game/numbers.h"
#include "ai_players/core/errors.h"
#include "pgn/pgn_reader.h"
#include "players/library_output.h"
#include "players/persona_factory.h"
#include "review/review.h"
#include "review/review_engine.h"
#include "review/review_text.h"

namespace ai_players::app {
namespace {

// graph.svg for one game; graph-2.svg, graph-3.svg, ... when there are several.
std::string svg_path(const std::string& base, int game, bool several) {
  if (!several) return base;
  const auto dot = base.rfind('.');
  const auto slash = base.rfind('/');
  const bool has_ext = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return has_ext ? fmt::format("{}-{}{}", base.substr(0, dot), game, base.substr(dot))
                 : fmt::format("{}-{}", base, game);
}

// Reports progress: a terminal gets one line rewritten in place, anything
// else a line every ten seconds; both say the time left.
class Progress {
 public:
  Progress(std::ostream& log, bool live) : log_(log), live_(live) {}

  void game_started(int game, const PgnGame& record) {
    label_ = fmt::format("game {} ({})", game, players_of(record));
    game_ = game;
    started_ = last_said_ = Clock::now();
    marks_ = ReviewMarks{};
    if (!live_) log_ << fmt::format("Reviewing {}: {}\n", label_, counted(static_cast<long long>(record.san.size()), "move"));
  }
  // Within 79 columns: "game 1 [####......] 3/6 moves; 1 mistake; latest 2. Qh5?, about 4 s left".
  void move(const ReviewStep& step) {
    const auto now = Clock::now();
    const double elapsed = std::chrono::duration<double>(now - started_).count();
    const std::string prefix = fmt::format("game {} ", game_);
    const std::string left = step.done == 0 ? "" : fmt::format(", about {:.0f} s left",
        elapsed / static_cast<double>(step.done) * static_cast<double>(step.total - step.done));
    std::string text = marks_.line(step, 79 - prefix.size() - left.size());  // counts every mark, shown or not
    if (step.done == 0 || step.done == step.total || (!live_ && now - last_said_ < std::chrono::seconds(10))) return;
    last_said_ = now;
    text.erase(text.find_last_not_of(' ') + 1);
    if (live_) log_ << "\r\033[K" << prefix << text << left << std::flush;
    else log_ << "  " << prefix << text << left << '\n';
  }
  double game_done() {
    if (live_) log_ << "\r\033[K";
    return std::chrono::duration<double>(Clock::now() - started_).count();
  }
  void problem(const std::string& text) {
    if (live_) log_ << "\r\033[K";
    log_ << "ai-players review: " << text << '\n';
  }

 private:
  using Clock = std::chrono::steady_clock;
  std::ostream& log_;
  bool live_;
  std::string label_;
  int game_ = 0;
  ReviewMarks marks_;
  Clock::time_point started_, last_said_;
};

void write_graphs(const std::vector<GameReview>& reviews, const std::string& base) {
  for (const auto& r : reviews) {
    const std::string path = svg_path(base, r.game, reviews.size() > 1);
    std::ofstream svg(path);
    if (!(svg << evaluation_svg(r))) throw UserError(fmt::format("cannot write {}", path));
  }
}

// One game reviewed and its outputs written; failures are the caller's.
GameReview review_one(const ReviewPlan& options, int game, const PgnGame& record, Progress& progress,
                      std::ostream& stdout_, std::ostream* out) {
  progress.game_started(game, record);
  const int depth = options.depth > 0 ? options.depth : kReviewDepth;
  const int jobs = options.jobs > 0 ? options.jobs : default_review_jobs();
  GameReview review =
      review_game(game, record, engine_judges(engine_config(PersonaSettings{}, false), options.engine_timeout, depth),
                  jobs, depth, [&](const ReviewStep& step) { progress.move(step); });
  if (out) *out << annotated_pgn(review) << std::flush;
  stdout_ << summary_text(review);
  if (options.moves) stdout_ << '\n' << moves_text(review);
  stdout_ << std::flush;
  return review;
}

}  // namespace

int default_review_jobs() { return static_cast<int>(std::max(1u, std::thread::hardware_concurrency())); }

void run_review(const ReviewPlan& options, std::ostream& stdout_, std::ostream& log) {
  std::ifstream in(options.file);
  if (!in) throw UserError(fmt::format("cannot read {}", options.file));
  std::ofstream out;
  if (!options.out.empty()) {
    out.open(options.out);
    if (!out) throw UserError(fmt::format("cannot write {}", options.out));
  }

  LibraryOutput output(options.verbose);
  PgnReader reader(in);
  Progress progress(log, options.live);
  std::vector<GameReview> reviews;
  int problems = 0;
  std::size_t moves = 0;
  double seconds = 0;
  for (;;) {
    if (options.games > 0 && reader.games_seen() >= options.games) break;
    try {
      const std::optional<PgnGame> record = reader.next();
      if (!record) break;
      if (!reviews.empty()) stdout_ << '\n';
      reviews.push_back(review_one(options, reader.games_seen(), *record, progress, stdout_, out.is_open() ? &out : nullptr));
      seconds += progress.game_done();
      moves += reviews.back().moves.size();
    } catch (const PgnError& e) {
      progress.problem(fmt::format("{}; game skipped", e.what()));
      ++problems;
    } catch (const EngineError& e) {
      progress.problem(fmt::format("game {}: {}; game skipped", reader.games_seen(),
                                   describe_failure("the review's engine was judging a move", e, output.diagnostics())));
      ++problems;
    } catch (const std::exception& e) {
      progress.problem(fmt::format("game {}: {}; game skipped", reader.games_seen(), e.what()));
      ++problems;
    }
  }
  if (reviews.empty()) throw UserError(problems ? "no game could be reviewed" : "no games in " + options.file);

  if (const std::string totals = totals_text(reviews); !totals.empty()) stdout_ << '\n' << totals;
  if (!options.svg.empty()) write_graphs(reviews, options.svg);
  log << fmt::format("Reviewed {} in {} in {:.1f} s ({:.2f} s per move){}\n", counted(static_cast<long long>(moves), "move"),
                     counted(static_cast<long long>(reviews.size()), "game"), seconds, moves ? seconds / moves : 0.0,
                     problems ? "; " + counted(problems, "game") + " skipped" : "");
}

}  // namespace ai_players::app
