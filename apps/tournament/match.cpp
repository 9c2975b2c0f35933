#include "tournament/match.h"

#include <unistd.h>

#include <cmath>
#include <map>
#include <optional>

#include <fmt/format.h>

#include "ai_players/core/random.h"
#include "game/game.h"
#include "game/numbers.h"
#include "pgn/game_pgn.h"
#include "players/library_output.h"
#include "players/persona_player.h"
#include "tournament/match_stats.h"
#include "tournament/run_output.h"

namespace ai_players::app {
namespace {

// Writes the moves of a game as they are played, wrapped like PGN move text.
class MovePrinter {
 public:
  explicit MovePrinter(std::ostream& out) : out_(out) {}
  void operator()(const PlayedGame& game) {
    const std::size_t i = game.san.size() - 1;
    put(pgn_move_unit(game.start_fen, i, game.san[i]));
    if (!game.comments[i].empty()) put(pgn_comment(game.comments[i]));
  }
  void finish(const PlayedGame& game) {
    if (column_ > 0) out_ << '\n';
    out_ << fmt::format("{} ({})\n", game.outcome->result, termination_text(game.outcome->why));
    if (!game.final_comment.empty()) out_ << game.final_comment << '\n';
  }

 private:
  void put(const std::string& unit) {
    if (column_ > 0 && column_ + 1 + unit.size() > 80) {
      out_ << '\n';
      column_ = 0;
    }
    out_ << (column_ > 0 ? " " : "") << unit << std::flush;
    column_ += (column_ > 0 ? 1 : 0) + unit.size();
  }
  std::ostream& out_;
  std::size_t column_ = 0;
};

}  // namespace

void run_match(const MatchPlan& plan, std::ostream& out, std::ostream& log) {
  const PersonaId first_id = resolve_playable(plan.white), second_id = resolve_playable(plan.black);
  PersonaPlayer first{first_id.name, nullptr};
  PersonaPlayer second{second_id.name, nullptr};
  const std::uint64_t seed = seed_or_random(plan.seed);
  ai_players::seed(seed);
  const bool single = plan.games == 1;
  RunOutputs outputs;
  if (!plan.pgn_file.empty()) outputs.add(pgn_output(std::make_unique<PgnFile>(plan.pgn_file, plan.pgn_mode), out));
  if (!single) outputs.add(match_progress_output(log));
  outputs.add(match_summary_output(out));
  LibraryOutput output(plan.verbose);
  first.persona = start_persona(first_id, output, plan.settings);
  second.persona = start_persona(second_id, output, plan.settings);
  const auto announce = [single, verbose = plan.verbose, &log](const std::string& note, const std::string& detail) {
    if (!single) log << '\n' << note << '\n';  // a single game shows it in its move list
    if (verbose && !detail.empty()) log << (single ? "\n" : "") << "  (" << detail << ")\n";
  };
  outputs.started({"", {first.name, second.name}, static_cast<std::size_t>(plan.games)});
  MatchResult result{first.name, second.name, 0, seed, {}, {}, ""};
  Tally& tally = result.tally;
  int played = 0;
  for (int i = 0; i < plan.games; ++i, ++played) {
    // Two games lost to failing personas and none finished: the engine is broken.
    if (tally.scored_games() == 0 && first.failed_games + second.failed_games >= 2) {
      log << fmt::format("Stopping after {} games: none could be finished.\n", played);
      break;
    }
    const bool first_is_white = i % 2 == 0;
    PersonaPlayer& white = first_is_white ? first : second;
    PersonaPlayer& black = first_is_white ? second : first;
    white.persona->new_game();
    black.persona->new_game();
    MovePrinter printer(out);
    if (single) out << fmt::format("{} (white) vs {} (black)\n", white.name, black.name);
    const PlayedGame game = play_game(persona_mover(white, announce), persona_mover(black, announce),
                                      GameSetup{plan.start_fen, plan.max_plies, plan.clock, plan.movetime},
                                      single ? MoveObserver(std::ref(printer)) : MoveObserver());
    if (single) printer.finish(game);
    tally.add(game.outcome->result, first_is_white);
    ++result.endings[termination_text(game.outcome->why)];
    GameTags tags{"ai-players match", "?", std::to_string(i + 1), white.name, black.name,
                  white.strength(), black.strength(), plan.clock, "", "", ""};
    const PgnGame pgn = pgn_of(game, tags);
    outputs.game({i + 1, white.name, black.name, &pgn, to_pgn(pgn), "", &tally});
  }
  result.games = played;
  result.player_notes = player_report(first, played) + player_report(second, played);
  RunReport report;
  report.match = &result;
  outputs.report(report);
  outputs.finish();
  if (tally.scored_games() == 0 && tally.unfinished == first.failed_games + second.failed_games)
    throw Error("no game could be finished: every one was abandoned");
}

}  // namespace ai_players::app
