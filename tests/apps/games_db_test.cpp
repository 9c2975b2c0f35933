// The games database, the player's rating and the suggested opponent.
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <sstream>
#include <thread>

#include "games_db/game_store.h"
#include "games_db/player_rating.h"
#include "games_db/sqlite.h"
#include "pgn/pgn_reader.h"
#include "support/fake_engine_session.h"
#include "support/test_support.h"

namespace ai_players::app {
namespace {

using testing_support::TempDir;

GameHeader against(const std::string& persona, int human_side = common::WHITE) {
  GameHeader h;
  h.source = "play";
  h.white = human_side == common::WHITE ? kHumanName : persona;
  h.black = human_side == common::WHITE ? persona : kHumanName;
  h.human_side = human_side;
  h.persona = persona;
  return h;
}

PlayedGame moves(std::vector<std::string> san, std::optional<Outcome> outcome = std::nullopt) {
  PlayedGame g;
  g.start_fen = common::FEN_New_Game;
  g.comments.resize(san.size());
  g.san = std::move(san);
  g.outcome = std::move(outcome);
  return g;
}

GameFilter by_id(std::int64_t id) {
  GameFilter f;
  f.id = id;
  return f;
}

std::string refusal(const std::string& path, std::chrono::milliseconds busy = std::chrono::seconds(5)) {
  return testing_support::error_of<StoreError>([&] { GameStore store(path, busy); });
}

// Each refusal is one sentence naming the file, and leaves what was there as it was.
TEST(GameStore, RefusesWhatItCannotKeepInOneSentenceAsInFile) {
  TempDir dir;
  std::string text;
  const auto say = [&](const std::string& what, const std::string& message) {
    text += what + ": " + testing_support::replace_all(message, dir.path(), "DIR") + "\n";
  };
  testing_support::write_file(dir.file("corrupt.db"), std::string(4096, 'x'));
  say("corrupt", refusal(dir.file("corrupt.db")));
  EXPECT_EQ(testing_support::read_file(dir.file("corrupt.db")), std::string(4096, 'x'));
  {
    sql::Connection other(dir.file("other.db"), true, std::chrono::milliseconds(0));
    other.exec("CREATE TABLE notes (text TEXT)");
  }
  say("another program's", refusal(dir.file("other.db")));
  { GameStore store(dir.file("newer.db")); }
  {
    sql::Connection newer(dir.file("newer.db"), false, std::chrono::milliseconds(0));
    newer.exec(fmt::format("PRAGMA user_version = {}", kGamesSchemaVersion + 1));
  }
  say("newer", refusal(dir.file("newer.db")));
  say("unwritable folder", refusal("/proc/self/games.db"));
  say("folder not made", refusal("/proc/ai-players/games.db"));
  {
    GameStore store(dir.file("locked.db"), std::chrono::milliseconds(50));
    GameRecorder before(store, against("Gnome"));
    before.keep(moves({"d4"}));
    sql::Connection holder(dir.file("locked.db"), false, std::chrono::milliseconds(0));
    sql::Transaction lock(holder);
    say("locked", refusal(dir.file("locked.db"), std::chrono::milliseconds(50)));
    try {
      GameRecorder(store, against("Diana")).keep(moves({"e4"}));
      ADD_FAILURE() << "a locked database took a game";
    } catch (const StoreError& e) {
      say("locked while playing", e.what());
    }
    EXPECT_NO_THROW(before.keep(moves({"d4"}))) << "nothing new, nothing written";
  }
  testing_support::expect_as_in_file("games_db_refusals.txt", text);
}

// A database of the first schema gets the second's columns and keeps its games.
TEST(GameStore, MigratesAnOlderSchemaAndKeepsItsGames) {
  TempDir dir;
  {
    sql::Connection v1(dir.file("g.db"), true, std::chrono::milliseconds(0));
    v1.exec(games_migration(0));
    v1.exec("PRAGMA user_version = 1; PRAGMA application_id = 1095323719");
    v1.exec("INSERT INTO games (id, source, started, white, black, human_side, persona, start_fen, result, termination) "
            "VALUES (7, 'play', '2025-03-01 10:00:00', 'Human', 'Gnome', 'white', 'Gnome', '" +
            std::string(common::FEN_New_Game) + "', '1-0', 'resignation')");
    v1.exec("INSERT INTO moves (game_id, ply, san) VALUES (7, 0, 'e4'), (7, 1, 'e5')");
  }
  GameStore store(dir.file("g.db"));
  const auto games = store.games();
  ASSERT_EQ(games.size(), 1u);
  EXPECT_EQ(games[0].id, 7);
  EXPECT_EQ(games[0].record.san, (std::vector<std::string>{"e4", "e5"}));
  EXPECT_EQ(games[0].player_points(), 1.0);
  EXPECT_EQ(games[0].undos + games[0].hints, 0);
  sql::Connection look(dir.file("g.db"), false, std::chrono::milliseconds(0));
  EXPECT_EQ(look.integer("PRAGMA user_version"), kGamesSchemaVersion);
  auto mode = look.prepare("PRAGMA journal_mode");  // WAL stays with the file
  ASSERT_TRUE(mode.step());
  EXPECT_EQ(mode.text(0), "wal");
}

// A game kept move by move: taken-back moves replaced, the end written once,
// a game left without an end kept as unfinished; filters and deletion.
TEST(GameStore, KeepsGamesMoveByMoveAndFindsThemByFilter) {
  TempDir dir;
  GameStore store(dir.file("g.db"));
  GameRecorder first(store, against("Diana"));
  first.keep(moves({}));
  EXPECT_FALSE(first.id()) << "a game without a move has no row";
  first.keep(moves({"e4", "e5", "Nf3"}));
  first.keep(moves({"e4"}), 1);  // undo
  first.keep(moves({"e4", "c5"}, Outcome{"0-1", Termination::Resignation}), 1, 2);
  first.keep(moves({"e4", "c5", "d4"}));  // after its end nothing changes
  GameRecorder second(store, against("Gnome", common::BLACK));
  second.keep(moves({"d4"}));
  second.leave();
  GameRecorder third(store, against("gnome"));
  third.keep(moves({"c4"}));  // its program was killed here

  const auto all = store.games();
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].id, *third.id()) << "newest first";
  const StoredGame& g = all[2];
  EXPECT_EQ(g.record.san, (std::vector<std::string>{"e4", "c5"}));
  EXPECT_EQ(g.record.outcome->why, Termination::Resignation);
  EXPECT_EQ(g.player_points(), 0.0);
  EXPECT_EQ(std::pair(g.undos, g.hints), std::pair(1, 2));
  EXPECT_TRUE(all[1].ended && !all[1].record.outcome);
  EXPECT_TRUE(!all[0].ended && !all[0].record.outcome);

  const auto ids = [&](auto set) {
    GameFilter f;
    set(f);
    std::vector<std::int64_t> out;
    for (const auto& game : store.games(f)) out.push_back(game.id);
    return out;
  };
  EXPECT_EQ(ids([](GameFilter& f) { f.persona = "GNOME"; }), (std::vector<std::int64_t>{*third.id(), *second.id()}));
  EXPECT_EQ(ids([](GameFilter& f) { f.result = "lost"; }), std::vector<std::int64_t>{*first.id()});
  EXPECT_EQ(ids([](GameFilter& f) { f.result = "unfinished"; }).size(), 2u);
  EXPECT_EQ(ids([](GameFilter& f) { f.since = "2000-01-01", f.until = "2999-12-31"; }).size(), 3u);
  EXPECT_TRUE(ids([](GameFilter& f) { f.until = "2000-01-01"; }).empty());
  EXPECT_TRUE(store.remove(*first.id()));
  EXPECT_FALSE(store.remove(*first.id()));
  EXPECT_EQ(store.games().size(), 2u);
}

// Four processes each play a long game into one database at once: every move arrives.
TEST(GameStore, SeveralProcessesWritingAtOnceLoseNoMove) {
  TempDir dir;
  const std::string path = dir.file("g.db");
  { GameStore create(path); }
  constexpr int kWriters = 4, kPlies = 150;
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      int status = 0;
      try {
        GameStore store(path);
        GameRecorder game(store, against(fmt::format("Writer{}", w)));
        PlayedGame record = moves({});
        for (int ply = 0; ply < kPlies; ++ply) {
          record.san.push_back(fmt::format("m{}", ply));
          record.comments.emplace_back();
          game.keep(record);
        }
      } catch (...) {
        status = 1;
      }
      ::_exit(status);
    }
    children.push_back(pid);
  }
  for (const pid_t pid : children) {
    int status = -1;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  const auto games = GameStore(path).games();
  ASSERT_EQ(games.size(), std::size_t(kWriters));
  for (const StoredGame& g : games) {
    ASSERT_EQ(g.record.san.size(), std::size_t(kPlies)) << g.header.persona;
    for (int ply = 0; ply < kPlies; ++ply) EXPECT_EQ(g.record.san[ply], fmt::format("m{}", ply));
  }
}

// A stored game goes out through the PGN writer and comes back through the reader unchanged.
TEST(GameStore, ExportedGamesImportAsTheyWere) {
  TempDir dir;
  GameStore store(dir.file("g.db"));
  GameHeader h = against("HOUD20c", common::BLACK);
  h.persona_elo = 1500;
  h.clock = TimeControl{milliseconds(300000), milliseconds(5000)};
  h.started = "2025-02-03 04:05:06";
  const std::int64_t id = store.add_game(h);
  PlayedGame played = moves({"f3", "e5", "g4", "Qh4#"}, Outcome{"0-1", Termination::Checkmate});
  played.comments[2] = "a fallback";
  store.update(id, played, 0, 0, 0);
  const std::string pgn = to_pgn(pgn_of(store.games(by_id(id)).at(0)));
  std::istringstream in(pgn + pgn);
  const auto read = read_pgn(in);
  GameStore other(dir.file("other.db"));
  const GameStore::Imported imported = other.import(read.at(0));
  EXPECT_TRUE(imported.added);
  const StoredGame back = other.games(by_id(imported.id)).at(0);
  EXPECT_EQ(to_pgn(pgn_of(back)), testing_support::replace_all(pgn, "ai-players play", "ai-players import"));
  EXPECT_EQ(back.header.human_side, common::BLACK);
  EXPECT_EQ(back.header.persona, "HOUD20c");
  EXPECT_EQ(back.header.persona_elo, 1500);
  // A game kept already is not added again: a file imported twice, an export imported back. On
  // another day it is another game.
  EXPECT_FALSE(other.import(read.at(1)).added);
  const GameStore::Imported again = store.import(read.at(1));
  EXPECT_FALSE(again.added);
  EXPECT_EQ(again.id, id);
  PgnGame next_day = read.at(1);
  next_day.set_tag("Date", "2025.02.04");
  EXPECT_TRUE(store.import(next_day).added);
  PgnGame broken = read.at(1);
  broken.san[1] = "Ke2";
  EXPECT_NE(testing_support::error_of<UserError>([&] { store.import(broken); }).find("not legal"), std::string::npos);
}

// The rating: the table's fit of the counted games, each persona an anchor at
// its measured rating, with one virtual draw per persona met.
TEST(PlayerRating, MatchesADirectFitAndLeavesOutWhatTheRulesSay) {
  const std::map<std::string, MeasuredRating> measured{
      {"Diana", {1266.1, 138, 128, 0}},   {"Gnome", {690.7, 325, 144, 0}},   {"Talvo", {-532.9, 0, 80, -1}},
      {"HOUD20c:1350", {1350, 0, 112, 0}}, {"HOUD20c:1500", {1500, 0, 112, 0}}};
  std::vector<StoredGame> games;
  const auto add = [&](const std::string& persona, std::optional<int> elo, const std::string& result) {
    StoredGame g;
    g.id = static_cast<std::int64_t>(games.size()) + 1;
    g.header = against(persona);
    g.header.persona_elo = elo;
    g.record = moves({"e4"}, Outcome{result, Termination::Resignation});
    games.push_back(g);
    return &games.back();
  };
  // Counted: 2.5 of 4 against Gnome, 1.5 of 4 against Diana, 0.5 of 2 against HOUD20c at 1400 (read at 1400).
  for (const char* r : {"1-0", "1-0", "0-1", "1/2-1/2"}) add("Gnome", 750, r);
  for (const char* r : {"1-0", "0-1", "0-1", "1/2-1/2"}) add("Diana", 1350, r);
  for (const char* r : {"1/2-1/2", "0-1"}) add("HOUD20c", 1400, r);
  add("Diana", 1350, "1-0")->header.start_fen = "4k3/8/8/8/8/8/8/4K2R w K - 0 1";
  add("Diana", 1350, "1-0")->undos = 1;
  add("Gnome", 750, "1-0")->hints = 1;
  add("Diana", 1350, "*")->record.outcome.reset();
  add("Talvo", 100, "1-0");
  add("Verevovera", 2500, "0-1");
  add("HOUD20c", 2000, "0-1");  // beyond the measured strengths
  StoredGame* between = add("Gnome", 750, "1-0");
  between->header.human_side.reset();

  const PlayerStanding none = rate_player({*between}, measured);
  EXPECT_TRUE(!none.rating && standing_text(none).starts_with("No rating yet")) << standing_text(none);
  const PlayerStanding s = rate_player(games, measured);
  ASSERT_TRUE(s.rating);
  EXPECT_EQ(s.counted.size(), 10u);

  // The same games as a table's fit: each persona an anchor at its measured rating.
  std::vector<GameScore> scored;
  for (const auto& [opponent, results] : std::vector<std::pair<std::string, std::vector<double>>>{
           {"G", {1, 1, 0, .5}}, {"D", {1, 0, 0, .5}}, {"H", {.5, 0}}})
    for (double points : results) scored.push_back({"Human", opponent, points});
  const auto table = fit_ratings(scored, {{"G", 690.7}, {"D", 1266.1}, {"H", 1400}}, kPlayerPriorDraws).players;
  const PlayerRating direct = *std::find_if(table.begin(), table.end(), [](auto& p) { return p.name == "Human"; });
  const double best = direct.rating;
  EXPECT_NEAR(s.rating->rating, best, 1e-6);
  EXPECT_NEAR(s.rating->low, direct.low, 1e-6);
  EXPECT_NEAR(s.rating->high, direct.high, 1e-6);

  const auto next = suggest_opponent(best, 0.5, measured);
  testing_support::expect_as_in_file("player_rating.txt", standing_text(s) + suggestion_text(*next, s) + "\n");
}

// The suggestion is the candidate whose expected score is nearest the target,
// the engine persona at any multiple of 10 between its measured strengths.
TEST(PlayerRating, SuggestsTheOpponentNearestTheTarget) {
  const std::map<std::string, MeasuredRating> measured{
      {"Gnome", {690, 300, 100, 0}}, {"Diana", {1266, 130, 100, 0}}, {"HOUD20c:1350", {1350, 0, 100, 0}},
      {"HOUD20c:1500", {1400, 0, 100, 0}}, {"Talvo", {-500, 0, 80, -1}}};
  const auto pick = [&](double rating, double target) {
    const auto o = suggest_opponent(rating, target, measured);
    return fmt::format("{} {:.1f} {:.3f}", o->name, o->rating, o->expected);
  };
  EXPECT_EQ(pick(1000, 0.5), "Diana 1266.0 0.822");  // Gnome scores 0.144: further from the target
  EXPECT_EQ(pick(1000, 0.2), "Gnome 690.0 0.144");
  EXPECT_EQ(pick(1372, 0.5), "HOUD20c:1420 1373.3 0.502");  // 1420 asked is read at 1373.3
  EXPECT_EQ(pick(-400, 0.5), "Gnome 690.0 0.998");  // Talvo is only bounded
  EXPECT_EQ(pick(3000, 0.5), "HOUD20c:1500 1400.0 0.000");
}

}  // namespace
}  // namespace ai_players::app
