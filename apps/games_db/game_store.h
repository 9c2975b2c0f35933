// The player's games, kept in a local SQLite database: every game of `play`
// (and of `serve`) as it is played, and games imported from PGN. Several
// processes may write at once (WAL, a busy timeout); every move is committed
// on its own, so a killed program loses at most the move in flight.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "game/game_state.h"
#include "game/user_error.h"
#include "pgn/game_pgn.h"
#include "players/human_game.h"

namespace ai_players::app {

namespace sql {
class Connection;
}

// Why the games cannot be kept, in one sentence for the player: a file that
// is no games database, one from a newer version, a folder that cannot be
// written, a database another program keeps locked.
struct StoreError : UserError {
  using UserError::UserError;
};

inline constexpr int kGamesSchemaVersion = 3;
// The SQL that takes the schema from version `from` to from + 1.
const char* games_migration(int from);

// What is known of a game when it starts.
struct GameHeader {
  std::string source;  // "play", "serve", "import"
  std::string started;  // UTC, "2026-01-31 18:05:00"; empty: now
  std::string white, black;
  std::optional<int> human_side;  // common::WHITE or BLACK; none: no person played
  std::string persona;            // the other side when a person played; else empty
  std::optional<int> persona_elo;
  std::optional<TimeControl> clock;
  std::string start_fen{common::FEN_New_Game};
};

// A person's game against a persona as it starts, from `source` ("play", "serve").
GameHeader person_game_header(const HumanGame& game, std::string source);

struct StoredGame {
  std::int64_t id = 0;
  GameHeader header;
  PlayedGame record;  // SAN, comments and the outcome; no move objects
  bool ended = false;  // false: still going on, or its program was killed
  int undos = 0, hints = 0;
  // The player's points (1, 0.5, 0), none when the game has no result or no person played.
  std::optional<double> player_points() const;
};

// Which games: all the fields given must hold.
struct GameFilter {
  std::optional<std::int64_t> id;
  std::string persona;  // any case
  std::string result;   // the player's: "won", "lost", "drawn", "unfinished"
  std::string since, until;  // "2026-01-31", both days included
};

class GameStore {
 public:
  // $XDG_DATA_HOME/ai-players/games.db, else ~/.local/share/ai-players/games.db.
  static std::string default_path();

  // Opens the database, creating it and its folder when missing, and brings
  // its schema up to date. Throws StoreError with one sentence.
  explicit GameStore(std::string path, std::chrono::milliseconds busy_timeout = std::chrono::seconds(5));
  ~GameStore();
  GameStore(const GameStore&) = delete;
  GameStore& operator=(const GameStore&) = delete;
  const std::string& path() const { return path_; }

  // A new game without moves; its id.
  std::int64_t add_game(const GameHeader& header);
  // Makes the stored moves those of `record`: the first `kept` stay, the
  // rest are replaced; its outcome, once it has one, ends the game.
  void update(std::int64_t id, const PlayedGame& record, std::size_t kept, int undos, int hints);
  // Ends a game that has no outcome: the player left it (unterminated).
  void leave(std::int64_t id);
  // A PGN game as a stored one; its moves are checked on our board
  // (UserError for one that is not legal). A game kept already (the same
  // players, start, result and moves, on the same day when the PGN has a
  // date) is not added again: importing a file twice, or an export of this
  // database, adds nothing.
  struct Imported {
    std::int64_t id = 0;
    bool added = false;  // false: the game was kept already, as `id`
  };
  Imported import(const PgnGame& game);

  // Newest first, moves included.
  std::vector<StoredGame> games(const GameFilter& filter = {}) const;
  // Whether there was such a game; its review goes with it.
  bool remove(std::int64_t id);

  // A game's review at a search depth, as its reader wrote it, for the moves
  // `san`; it replaces the one kept for other moves. None when the moves or
  // the depth differ.
  void keep_review(std::int64_t id, int depth, const std::vector<std::string>& san, const std::string& review);
  std::optional<std::string> review(std::int64_t id, int depth, const std::vector<std::string>& san) const;

  // What the store says of a failure: one sentence naming the file.
  std::string explain(const std::exception& e) const;

 private:
  void migrate();
  std::optional<std::int64_t> find_kept(const GameHeader& header, const PlayedGame& record) const;
  std::string path_;
  std::unique_ptr<sql::Connection> db_;
};

// Keeps one game in a store while it is played: each call writes only what
// changed since the last (new moves, moves taken back, the end). The game
// gets its row with its first move.
class GameRecorder {
 public:
  GameRecorder(GameStore& store, GameHeader header) : store_(store), header_(std::move(header)) {}
  // Goes on keeping a stored game that was left unfinished, continued from its last move.
  GameRecorder(GameStore& store, const StoredGame& game);
  void keep(const PlayedGame& record, int undos = 0, int hints = 0);
  // The player leaves the game as it stands.
  void leave();
  std::optional<std::int64_t> id() const { return id_; }

 private:
  GameStore& store_;
  GameHeader header_;
  std::optional<std::int64_t> id_;
  std::vector<std::string> san_;  // as stored
  bool ended_ = false;
  int undos_ = 0, hints_ = 0;
};

// The stored game as PGN, through the one writer every command uses.
PgnGame pgn_of(const StoredGame& game);

}  // namespace ai_players::app
