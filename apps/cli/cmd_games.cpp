// ai-players games: the player's stored games, their rating and whom to play next.
#include <fstream>
#include <iostream>
#include <memory>
#include <regex>

#include <fmt/format.h>

#include "cli/cli_options.h"
#include "cli/commands.h"
#include "game/numbers.h"
#include "games_db/game_store.h"
#include "games_db/player_rating.h"
#include "pgn/pgn_file.h"
#include "pgn/pgn_reader.h"

namespace ai_players::app {
namespace {

struct Options {
  DbOptions db;
  GameFilter filter;
  std::optional<std::int64_t> show, remove;
  std::string export_to;
  std::vector<std::string> imports;
  double target = 50;
};

std::string ending_of(const StoredGame& g) {
  if (g.record.outcome) return termination_text(g.record.outcome->why);
  return g.ended ? "unfinished" : "in progress";
}

void list(const std::vector<StoredGame>& games, std::ostream& out) {
  if (games.empty()) {
    out << "No games.\n";
    return;
  }
  std::size_t width = 5;
  for (const StoredGame& g : games) width = std::max(width, g.header.white.size() + g.header.black.size() + 3);
  out << fmt::format("{:>4}  {:<16}  {:<{}}  {:<7}  {:<21}  {}\n", "Game", "Date (UTC)", "Players", width, "Result",
                     "Ending", "Moves");
  for (const StoredGame& g : games)
    out << fmt::format("{:>4}  {:<16}  {:<{}}  {:<7}  {:<21}  {}\n", g.id, g.header.started.substr(0, 16),
                       g.header.white + " - " + g.header.black, width,
                       g.record.outcome ? g.record.outcome->result : "*", ending_of(g), (g.record.san.size() + 1) / 2);
}

void standing(GameStore& store, double target, std::ostream& out) {
  const PlayerStanding s = rate_player(store.games(), measured_ratings());
  out << standing_text(s);
  const double rating = s.rating ? s.rating->rating : kNewPlayerRating;
  if (const auto next = suggest_opponent(rating, target / 100, measured_ratings())) out << suggestion_text(*next, s) << '\n';
}

void import_file(GameStore& store, const std::string& path, std::ostream& out) {
  std::ifstream in(path);
  if (!in) throw UserError(fmt::format("cannot read {}", path));
  std::vector<std::string> problems;
  int imported = 0, kept = 0;
  for (const PgnGame& game : read_pgn(in, &problems)) {
    try {
      (store.import(game).added ? imported : kept) += 1;
    } catch (const StoreError&) {
      throw;
    } catch (const UserError& e) {
      problems.push_back(fmt::format("{} - {} of {}: {}", game.tag("White"), game.tag("Black"), game.tag("Date"), e.what()));
    }
  }
  out << fmt::format("{}: {} imported", path, counted(imported, "game"));
  if (kept > 0) out << fmt::format(", {} kept already", kept);
  if (!problems.empty()) out << fmt::format(", {} not: {}", problems.size(), fmt::join(problems, "; "));
  out << ".\n";
}

void export_games(const std::vector<StoredGame>& games, const std::string& path, std::ostream& out) {
  std::string text;
  for (const StoredGame& g : games) text += to_pgn(pgn_of(g));
  if (path == "-") {
    out << text;
    return;
  }
  PgnFile(path, PgnWrite::Fresh).append(text);
  out << fmt::format("{} written to {}.\n", counted(static_cast<long long>(games.size()), "game"), path);
}

void run_games(const Options& o) {
  const auto path = o.db.chosen();
  if (!path) {
    std::cout << "No games are kept (--no-db).\n";
    return;
  }
  GameStore store(*path);
  for (const std::string& file : o.imports) import_file(store, file, std::cout);
  if (o.remove) {
    if (!store.remove(*o.remove)) throw UserError(fmt::format("there is no game {}", *o.remove));
    std::cout << fmt::format("Game {} deleted.\n", *o.remove);
  }
  GameFilter filter = o.filter;
  if (o.show) filter.id = o.show;
  const auto games = store.games(filter);
  if (o.show && games.empty()) throw UserError(fmt::format("there is no game {}", *o.show));
  if (!o.export_to.empty()) return export_games(games, o.export_to, std::cout);
  if (o.show) {
    std::cout << to_pgn(pgn_of(games.front()));
    return;
  }
  if (!o.imports.empty() || o.remove) return;
  list(games, std::cout);
  std::cout << '\n';
  standing(store, o.target, std::cout);
}

std::function<void(const std::string&)> date_reader(const std::string& flag, std::string& into) {
  return [flag, &into](const std::string& text) {
    if (!std::regex_match(text, std::regex(R"(\d{4}-\d{2}-\d{2})")))
      throw CLI::ValidationError(flag, fmt::format("{} is not a date like 2026-01-31", echoed(text)));
    into = text;
  };
}

}  // namespace

void add_games_command(CLI::App& app) {
  auto o = std::make_shared<Options>();
  CLI::App* cmd = app.add_subcommand("games", "your stored games, your rating and whom to play next");
  add_db_options(cmd, o->db);
  cmd->add_option("--persona", o->filter.persona, "only the games against this persona");
  cmd->add_option("--result", o->filter.result, "only the games you won, lost, drew or left unfinished")
      ->transform(CLI::IsMember({"won", "lost", "drawn", "unfinished"}, CLI::ignore_case));
  cmd->add_option_function<std::string>("--since", date_reader("--since", o->filter.since), "only games from this day on")
      ->type_name("YYYY-MM-DD");
  cmd->add_option_function<std::string>("--until", date_reader("--until", o->filter.until), "only games up to this day")
      ->type_name("YYYY-MM-DD");
  cmd->add_option("--show", o->show, "one game as PGN")->type_name("ID");
  cmd->add_option("--export", o->export_to, "write the games shown (one with --show, a filter's, all) as PGN; - for "
                                            "standard output")->type_name("FILE");
  cmd->add_option("--import", o->imports, "add the games of these PGN files")->type_name("FILE")->expected(1, -1);
  cmd->add_option("--delete", o->remove, "delete this game")->type_name("ID");
  cmd->add_option("--target", o->target, "the suggested persona's expected score against you, in per cent, 1 to 99 (default 50)")
      ->check(CLI::Range(1.0, 99.0).description(""))
      ->type_name("PERCENT");
  cmd->callback([o] { run_games(*o); });
}

}  // namespace ai_players::app
