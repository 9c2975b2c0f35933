// ai-players review: every move of the games in a PGN file judged against the
// engine's best, as annotated PGN, a summary per player and evaluation graphs.
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include <fmt/format.h>

#include "ai_players/core/errors.h"
#include "commands.h"
#include "library_output.h"
#include "persona_factory.h"
#include "review.h"

namespace ai_players::app {
namespace {

struct ReviewOptions {
  std::string file;
  int depth = 7;
  int games = 0;  // 0: all
  std::string out;
  std::string svg;
  // Seconds before a search is told to stop; 0: wait as long as the engine needs.
  double engine_timeout = PersonaSettings::kDefaultEngineTimeout.count() / 1000.0;
  bool verbose = false;
};

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
  Progress() : tty_(::isatty(STDERR_FILENO) == 1) {}

  void game_started(int game, const PgnRecord& record) {
    label_ = fmt::format("game {} ({} - {})", game, record.tag("White"), record.tag("Black"));
    started_ = std::chrono::steady_clock::now();
    if (!tty_) std::cerr << fmt::format("Reviewing {}: {} moves\n", label_, record.san.size());
  }
  void move(std::size_t done, std::size_t total) {
    if (tty_) std::cerr << fmt::format("\rReviewing {}: move {}/{}", label_, done, total) << std::flush;
  }
  double game_done() {
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    if (tty_) std::cerr << "\r\033[K";
    return seconds;
  }
  void problem(const std::string& text) {
    if (tty_) std::cerr << "\r\033[K";
    std::cerr << "ai-players review: " << text << '\n';
  }

 private:
  bool tty_;
  std::string label_;
  std::chrono::steady_clock::time_point started_;
};

std::unique_ptr<Verevovera> start_adviser(const ReviewOptions& options, const LibraryOutput& output) {
  std::unique_ptr<Verevovera> adviser;
  try {
    adviser = std::make_unique<Verevovera>(engine_config(PersonaSettings{}, false));
  } catch (const std::exception& e) {
    throw std::runtime_error(describe_failure("Verevovera was starting its engine", e, output.diagnostics()));
  }
  adviser->engine_timeout.reset();
  if (options.engine_timeout > 0)
    adviser->engine_timeout = std::chrono::milliseconds(static_cast<long long>(options.engine_timeout * 1000));
  return adviser;
}

void run_review(const ReviewOptions& options) {
  std::ifstream in(options.file);
  if (!in) throw std::runtime_error(fmt::format("cannot read {}", options.file));
  std::ofstream out;
  if (!options.out.empty()) {
    out.open(options.out);
    if (!out) throw std::runtime_error(fmt::format("cannot write {}", options.out));
  }

  LibraryOutput output(options.verbose);
  auto adviser = start_adviser(options, output);
  PgnReader reader(in);
  Progress progress;
  std::vector<GameReview> reviews;
  int problems = 0;
  std::size_t moves = 0;
  double seconds = 0;
  for (;;) {
    if (options.games > 0 && reader.games_seen() >= options.games) break;
    std::optional<PgnRecord> record;
    try {
      record = reader.next();
    } catch (const PgnError& e) {
      progress.problem(fmt::format("{}; game skipped", e.what()));
      ++problems;
      continue;
    }
    if (!record) break;
    const int game = reader.games_seen();
    progress.game_started(game, *record);
    try {
      const PreviewFn preview = [&](const board::MoveList& history, const board::Move& move,
                                    const board::MoveList& legal, const std::string& fen) {
        return adviser->Ask_For_Preview(history, move, legal, fen, options.depth);
      };
      GameReview review = review_game(game, *record, preview, options.depth,
                                      [&](std::size_t done, std::size_t total) { progress.move(done, total); });
      seconds += progress.game_done();
      moves += review.moves.size();
      if (out.is_open()) out << annotated_pgn(review) << std::flush;
      if (!reviews.empty()) std::cout << '\n';
      std::cout << summary_text(review) << std::flush;
      reviews.push_back(std::move(review));
    } catch (const EngineError& e) {
      progress.problem(fmt::format("game {}: {}; game skipped", game,
                                   describe_failure("Verevovera was judging a move", e, output.diagnostics())));
      ++problems;
      adviser = start_adviser(options, output);  // the old engine may be stuck or gone
    } catch (const std::exception& e) {
      progress.problem(fmt::format("game {}: {}; game skipped", game, e.what()));
      ++problems;
    }
  }
  if (reviews.empty()) throw std::runtime_error(problems ? "no game could be reviewed" : "no games in " + options.file);

  if (const std::string totals = totals_text(reviews); !totals.empty()) std::cout << '\n' << totals;
  if (!options.svg.empty()) {
    for (const auto& r : reviews) {
      const std::string path = svg_path(options.svg, r.game, reviews.size() > 1);
      std::ofstream svg(path);
      if (!(svg << evaluation_svg(r))) throw std::runtime_error(fmt::format("cannot write {}", path));
    }
  }
  std::cerr << fmt::format("Reviewed {} moves in {} game{} in {:.1f} s ({:.2f} s per move){}\n", moves,
                           reviews.size(), reviews.size() == 1 ? "" : "s", seconds, moves ? seconds / moves : 0.0,
                           problems ? fmt::format("; {} game{} skipped", problems, problems == 1 ? "" : "s") : "");
}

}  // namespace

void add_review_command(CLI::App& app) {
  auto options = std::make_shared<ReviewOptions>();
  CLI::App* cmd = app.add_subcommand("review", "judge every move of the games in a PGN file");
  cmd->add_option("GAME", options->file, "the PGN file")->required();
  cmd->add_option("--depth", options->depth, "search depth of each judgement")->check(CLI::Range(1, 40));
  cmd->add_option("--games", options->games, "review only the first K games")->check(CLI::PositiveNumber);
  cmd->add_option("--out", options->out, "write the annotated games to this PGN file");
  cmd->add_option("--svg", options->svg, "write the evaluation graph (graph-N.svg for several games)");
  cmd->add_option("--engine-timeout", options->engine_timeout, "seconds after which a search is told to stop (0: no limit)")
      ->check(CLI::NonNegativeNumber);
  cmd->add_flag("--verbose", options->verbose, "show the persona's own messages on standard error");
  cmd->callback([options] { run_review(*options); });
}

}  // namespace ai_players::app
