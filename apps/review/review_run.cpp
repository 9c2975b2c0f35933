#include "review/review_run.h"

#include <unistd.h>

#include <chrono>
#include <fstream>
#include <memory>

#include <fmt/format.h>

#include "ai_players/core/errors.h"
#include "pgn/pgn_reader.h"
#include "players/library_output.h"
#include "players/persona_factory.h"
#include "review/review.h"

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

// Reports on standard error; a terminal gets one line rewritten in place.
class Progress {
 public:
  explicit Progress(std::ostream& log) : log_(log), tty_(::isatty(STDERR_FILENO) == 1) {}

  void game_started(int game, const PgnGame& record) {
    label_ = fmt::format("game {} ({} - {})", game, record.tag("White"), record.tag("Black"));
    started_ = std::chrono::steady_clock::now();
    if (!tty_) log_ << fmt::format("Reviewing {}: {} moves\n", label_, record.san.size());
  }
  void move(std::size_t done, std::size_t total) {
    if (tty_) log_ << fmt::format("\rReviewing {}: move {}/{}", label_, done, total) << std::flush;
  }
  double game_done() {
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    if (tty_) log_ << "\r\033[K";
    return seconds;
  }
  void problem(const std::string& text) {
    if (tty_) log_ << "\r\033[K";
    log_ << "ai-players review: " << text << '\n';
  }

 private:
  std::ostream& log_;
  bool tty_;
  std::string label_;
  std::chrono::steady_clock::time_point started_;
};

std::unique_ptr<Verevovera> start_adviser(const ReviewPlan& options, const LibraryOutput& output) {
  std::unique_ptr<Verevovera> adviser;
  try {
    adviser = std::make_unique<Verevovera>(engine_config(PersonaSettings{}, false));
  } catch (const std::exception& e) {
    throw std::runtime_error(describe_failure("Verevovera was starting its engine", e, output.diagnostics()));
  }
  adviser->engine_timeout = options.engine_timeout;
  return adviser;
}

void write_graphs(const std::vector<GameReview>& reviews, const std::string& base) {
  for (const auto& r : reviews) {
    const std::string path = svg_path(base, r.game, reviews.size() > 1);
    std::ofstream svg(path);
    if (!(svg << evaluation_svg(r))) throw UserError(fmt::format("cannot write {}", path));
  }
}

}  // namespace

void run_review(const ReviewPlan& options, std::ostream& stdout_, std::ostream& log) {
  std::ifstream in(options.file);
  if (!in) throw UserError(fmt::format("cannot read {}", options.file));
  std::ofstream out;
  if (!options.out.empty()) {
    out.open(options.out);
    if (!out) throw UserError(fmt::format("cannot write {}", options.out));
  }

  LibraryOutput output(options.verbose);
  auto adviser = start_adviser(options, output);
  PgnReader reader(in);
  Progress progress(log);
  std::vector<GameReview> reviews;
  int problems = 0;
  std::size_t moves = 0;
  double seconds = 0;
  for (;;) {
    if (options.games > 0 && reader.games_seen() >= options.games) break;
    std::optional<PgnGame> record;
    try {
      record = reader.next();
      if (!record) break;
      progress.game_started(reader.games_seen(), *record);
      const PreviewFn preview = [&](const board::MoveList& history, const board::Move& move,
                                    const board::MoveList& legal, const std::string& fen) {
        return adviser->Ask_For_Preview(history, move, legal, fen, options.depth);
      };
      GameReview review = review_game(reader.games_seen(), *record, preview, options.depth,
                                      [&](std::size_t done, std::size_t total) { progress.move(done, total); });
      seconds += progress.game_done();
      moves += review.moves.size();
      if (out.is_open()) out << annotated_pgn(review) << std::flush;
      if (!reviews.empty()) stdout_ << '\n';
      stdout_ << summary_text(review) << std::flush;
      reviews.push_back(std::move(review));
    } catch (const PgnError& e) {
      progress.problem(fmt::format("{}; game skipped", e.what()));
      ++problems;
    } catch (const EngineError& e) {
      progress.problem(fmt::format("game {}: {}; game skipped", reader.games_seen(),
                                   describe_failure("Verevovera was judging a move", e, output.diagnostics())));
      ++problems;
      adviser = start_adviser(options, output);  // the old engine may be stuck or gone
    } catch (const std::exception& e) {
      progress.problem(fmt::format("game {}: {}; game skipped", reader.games_seen(), e.what()));
      ++problems;
    }
  }
  if (reviews.empty()) throw UserError(problems ? "no game could be reviewed" : "no games in " + options.file);

  if (const std::string totals = totals_text(reviews); !totals.empty()) stdout_ << '\n' << totals;
  if (!options.svg.empty()) write_graphs(reviews, options.svg);
  log << fmt::format("Reviewed {} moves in {} game{} in {:.1f} s ({:.2f} s per move){}\n", moves,
                           reviews.size(), reviews.size() == 1 ? "" : "s", seconds, moves ? seconds / moves : 0.0,
                           problems ? fmt::format("; {} game{} skipped", problems, problems == 1 ? "" : "s") : "");
}

}  // namespace ai_players::app
