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

void show_progress(std::ostream& log, int done, int total, const PersonaPlayer& first, const PersonaPlayer& second,
                   const Tally& tally) {
  constexpr int width = 30;
  const int filled = done * width / total;
  // On a terminal the bar redraws in place; elsewhere (a log file) each state gets its own line.
  static const bool terminal = ::isatty(STDERR_FILENO) == 1;
  log << fmt::format("{}[{}{}] {}/{}  {} {:g} - {:g} {}", terminal ? "\r" : "", std::string(filled, '#'),
                     std::string(width - filled, '-'), done, total, first.name, tally.points(),
                     tally.scored_games() - tally.points(), second.name);
  if (!terminal || done == total) log << '\n';
  log << std::flush;
}

void print_summary(std::ostream& out, const PersonaPlayer& first, const PersonaPlayer& second, int games,
                   std::uint64_t seed, const Tally& tally, const std::map<std::string, int>& endings) {
  const auto s = [](int n, const char* many = "s") { return n == 1 ? "" : many; };
  out << fmt::format("\n{} vs {}: {} game{}, seed {}\n", first.name, second.name, games, s(games), seed);
  out << fmt::format("{}: {} win{}, {} draw{}, {} loss{}", first.name, tally.wins, s(tally.wins), tally.draws,
                     s(tally.draws), tally.losses, s(tally.losses, "es"));
  if (tally.unfinished) out << fmt::format(" ({} unfinished, not scored)", tally.unfinished);
  out << '\n';
  if (tally.scored_games()) {
    out << fmt::format("Score: {:g}/{} ({:.1f} %)\n", tally.points(), tally.scored_games(), 100 * tally.score());
    const EloEstimate elo = estimate_elo(tally);
    if (std::isinf(elo.difference))
      out << fmt::format("Elo difference: {} (a {} score gives no finite estimate)\n", format_elo(elo),
                         elo.difference > 0 ? "perfect" : "zero");
    else
      out << fmt::format("Elo difference: {} (95 % confidence)\n", format_elo(elo));
  }
  std::string ends;
  for (const auto& [why, count] : endings) ends += fmt::format("{}{} {}", ends.empty() ? "" : ", ", why, count);
  out << "Endings: " << ends << '\n' << player_report(first, games) << player_report(second, games);
}

}  // namespace

void run_match(const MatchPlan& plan, std::ostream& out, std::ostream& log) {
  const PersonaId first_id = resolve_playable(plan.white), second_id = resolve_playable(plan.black);
  PersonaPlayer first{first_id.name, nullptr};
  PersonaPlayer second{second_id.name, nullptr};
  const std::uint64_t seed = seed_or_random(plan.seed);
  ai_players::seed(seed);
  std::optional<PgnFile> pgn_out;
  if (!plan.pgn_file.empty()) pgn_out.emplace(plan.pgn_file, plan.pgn_mode);
  LibraryOutput output(plan.verbose);
  first.persona = start_persona(first_id, output, plan.settings);
  second.persona = start_persona(second_id, output, plan.settings);
  const bool single = plan.games == 1;
  const auto announce = [single, verbose = plan.verbose, &log](const std::string& note, const std::string& detail) {
    if (!single) log << '\n' << note << '\n';  // a single game shows it in its move list
    if (verbose && !detail.empty()) log << (single ? "\n" : "") << "  (" << detail << ")\n";
  };
  Tally tally;
  std::map<std::string, int> endings;
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
    ++endings[termination_text(game.outcome->why)];
    GameTags tags{"ai-players match", "?", std::to_string(i + 1), white.name, black.name,
                  white.strength(), black.strength(), plan.clock, "", "", ""};
    if (pgn_out) pgn_out->append(to_pgn(pgn_of(game, tags)));
    if (!single) show_progress(log, i + 1, plan.games, first, second, tally);
  }
  print_summary(out, first, second, played, seed, tally, endings);
  if (pgn_out) out << fmt::format("PGN written to {}\n", plan.pgn_file);
  if (tally.scored_games() == 0 && tally.unfinished == first.failed_games + second.failed_games)
    throw Error("no game could be finished: every one was abandoned");
}

}  // namespace ai_players::app
