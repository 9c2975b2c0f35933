#include "games_db/game_store.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <fmt/format.h>

#include "ai_players/core/text.h"
#include "games_db/sqlite.h"
#include "tournament/rating_fit.h"

namespace ai_players::app {
namespace {

// "AIPG" in PRAGMA application_id: a database of ours, whatever its version.
constexpr std::int64_t kApplicationId = 0x41495047;

// Each step brings the schema from version i to i + 1, in one transaction
// with the version it writes. Steps are never edited once released.
constexpr const char* kMigrations[kGamesSchemaVersion] = {
    R"(CREATE TABLE games (
         id INTEGER PRIMARY KEY,
         source TEXT NOT NULL,
         started TEXT NOT NULL,
         white TEXT NOT NULL,
         black TEXT NOT NULL,
         human_side TEXT,
         persona TEXT NOT NULL DEFAULT '',
         persona_elo INTEGER,
         time_control TEXT,
         start_fen TEXT NOT NULL,
         result TEXT NOT NULL DEFAULT '*',
         termination TEXT,
         final_comment TEXT NOT NULL DEFAULT '');
       CREATE TABLE moves (
         game_id INTEGER NOT NULL,
         ply INTEGER NOT NULL,
         san TEXT NOT NULL,
         comment TEXT NOT NULL DEFAULT '',
         PRIMARY KEY (game_id, ply)) WITHOUT ROWID;)",
    // Undos and hints, which keep a game out of the player's rating; the list's order.
    R"(ALTER TABLE games ADD COLUMN undos INTEGER NOT NULL DEFAULT 0;
       ALTER TABLE games ADD COLUMN hints INTEGER NOT NULL DEFAULT 0;
       CREATE INDEX games_started ON games (started);)",
    // A game's review, kept for the moves it judged, so that it is shown again without the engine.
    R"(CREATE TABLE reviews (
         game_id INTEGER NOT NULL,
         depth INTEGER NOT NULL,
         moves TEXT NOT NULL,
         review TEXT NOT NULL,
         PRIMARY KEY (game_id, depth)) WITHOUT ROWID;)",
};

std::optional<Termination> termination_named(const std::string& text) {
  for (int i = 0; i <= static_cast<int>(Termination::Abandoned); ++i)
    if (termination_text(static_cast<Termination>(i)) == text) return static_cast<Termination>(i);
  return std::nullopt;
}

std::string side_text(std::optional<int> side) {
  return side ? (*side == common::WHITE ? "white" : "black") : "";
}

// An imported game's end when the rules did not end it: the PGN Termination
// tag where it says more than "normal", else a resignation or an agreed draw.
Termination imported_termination(const PgnGame& pgn) {
  const std::string tag = lower(pgn.tag("Termination"));
  if (const auto named = termination_named(tag); named && tag != "normal") return *named;
  if (pgn.result == "*") return Termination::Unterminated;
  return pgn.result == "1/2-1/2" ? Termination::Agreement : Termination::Resignation;
}

// "2024.05.01" -> "2024-05-01 00:00:00"; empty when the date is not whole.
std::string started_of(const std::string& date) {
  if (date.size() != 10 || date[4] != '.' || date[7] != '.') return {};
  for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
    if (date[i] < '0' || date[i] > '9') return {};
  return fmt::format("{}-{}-{} 00:00:00", date.substr(0, 4), date.substr(5, 2), date.substr(8, 2));
}

}  // namespace

const char* games_migration(int from) { return kMigrations[from]; }

std::optional<double> StoredGame::player_points() const {
  const auto white = white_points(record.outcome ? record.outcome->result : "*");
  if (!white || !header.human_side) return std::nullopt;
  return *header.human_side == common::WHITE ? *white : 1 - *white;
}

std::string GameStore::default_path() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data && data[0] == '/') return std::string(data) + "/ai-players/games.db";
  const char* home = std::getenv("HOME");
  if (!home || !*home) throw StoreError("There is no home folder for the games database; --db names a file.");
  return std::string(home) + "/.local/share/ai-players/games.db";
}

GameStore::GameStore(std::string path, std::chrono::milliseconds busy_timeout) : path_(std::move(path)) {
  const auto folder = std::filesystem::path(path_).parent_path();
  std::error_code error;
  if (!folder.empty()) std::filesystem::create_directories(folder, error);
  if (error)
    throw StoreError(fmt::format("The folder {} for the games database cannot be made: {}.", folder.string(),
                                 error.message()));
  // Two programs that open a new database at once may both try to turn it to
  // WAL, and SQLite then refuses one at once instead of waiting: try again.
  const auto give_up = std::chrono::steady_clock::now() + busy_timeout;
  for (;;) {
    try {
      db_ = std::make_unique<sql::Connection>(path_, true, busy_timeout);
      // WAL: readers never wait for the writer, and a writer's commit is one append.
      db_->exec("PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL");
      migrate();
      return;
    } catch (const sql::SqlError& e) {
      db_.reset();
      const bool busy = e.code == SQLITE_BUSY || e.code == SQLITE_LOCKED;
      if (!busy || std::chrono::steady_clock::now() >= give_up) throw StoreError(explain(e));
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
}

GameStore::~GameStore() = default;

void GameStore::migrate() {
  sql::Transaction t(*db_);
  const std::int64_t app = db_->integer("PRAGMA application_id");
  const std::int64_t version = db_->integer("PRAGMA user_version");
  if (app != kApplicationId && (app != 0 || version != 0 || db_->integer("SELECT count(*) FROM sqlite_master") > 0))
    throw StoreError(fmt::format("The file {} is another program's database, not a games database.", path_));
  if (version > kGamesSchemaVersion)
    throw StoreError(fmt::format("The games database {} was written by a newer ai-players (schema {}; this one knows "
                                 "up to {}).",
                                 path_, version, kGamesSchemaVersion));
  if (version == kGamesSchemaVersion) return;
  for (std::int64_t v = version; v < kGamesSchemaVersion; ++v) db_->exec(games_migration(static_cast<int>(v)));
  db_->exec(fmt::format("PRAGMA user_version = {}; PRAGMA application_id = {}", kGamesSchemaVersion, kApplicationId));
  t.commit();
}

std::string GameStore::explain(const std::exception& e) const {
  const auto* error = dynamic_cast<const sql::SqlError*>(&e);
  if (!error) return e.what();
  switch (error->code) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return fmt::format("The games database {} is locked by another program.", path_);
    case SQLITE_READONLY:
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
      return fmt::format("The games database {} cannot be written ({}).", path_, error->what());
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT: return fmt::format("The file {} is not a games database, or it is damaged.", path_);
    case SQLITE_FULL: return fmt::format("The disk that holds the games database {} is full.", path_);
    default: return fmt::format("The games database {} failed: {}.", path_, error->what());
  }
}

std::int64_t GameStore::add_game(const GameHeader& h) {
  try {
    auto s = db_->prepare(
        "INSERT INTO games (source, started, white, black, human_side, persona, persona_elo, time_control, start_fen) "
        "VALUES (?, coalesce(?, strftime('%Y-%m-%d %H:%M:%S', 'now')), ?, ?, ?, ?, ?, ?, ?)");
    s.bind(1, h.source).bind(2, h.started.empty() ? std::nullopt : std::optional(h.started)).bind(3, h.white);
    s.bind(4, h.black).bind(5, h.human_side ? std::optional(side_text(h.human_side)) : std::nullopt);
    s.bind(6, h.persona).bind(7, h.persona_elo ? std::optional<std::int64_t>(*h.persona_elo) : std::nullopt);
    s.bind(8, h.clock ? std::optional(h.clock->pgn()) : std::nullopt).bind(9, h.start_fen);
    s.run();
    return db_->last_insert_id();
  } catch (const sql::SqlError& e) {
    throw StoreError(explain(e));
  }
}

void GameStore::update(std::int64_t id, const PlayedGame& record, std::size_t kept, int undos, int hints) {
  try {
    sql::Transaction t(*db_);
    db_->prepare("DELETE FROM moves WHERE game_id = ? AND ply >= ?").bind(1, id).bind(2, std::int64_t(kept)).run();
    auto insert = db_->prepare("INSERT INTO moves (game_id, ply, san, comment) VALUES (?, ?, ?, ?)");
    for (std::size_t ply = kept; ply < record.san.size(); ++ply) {
      insert.bind(1, id).bind(2, std::int64_t(ply)).bind(3, record.san[ply]);
      insert.bind(4, ply < record.comments.size() ? record.comments[ply] : std::string());
      insert.run();
    }
    auto s = db_->prepare("UPDATE games SET undos = ?, hints = ? WHERE id = ?");
    s.bind(1, std::int64_t(undos)).bind(2, std::int64_t(hints)).bind(3, id).run();
    if (record.outcome) {
      auto end = db_->prepare("UPDATE games SET result = ?, termination = ?, final_comment = ? WHERE id = ?");
      end.bind(1, record.outcome->result).bind(2, termination_text(record.outcome->why));
      end.bind(3, record.final_comment).bind(4, id).run();
    }
    t.commit();
  } catch (const sql::SqlError& e) {
    throw StoreError(explain(e));
  }
}

void GameStore::leave(std::int64_t id) {
  try {
    auto s = db_->prepare("UPDATE games SET termination = ? WHERE id = ? AND termination IS NULL");
    s.bind(1, termination_text(Termination::Unterminated)).bind(2, id).run();
  } catch (const sql::SqlError& e) {
    throw StoreError(explain(e));
  }
}

std::optional<std::int64_t> GameStore::find_kept(const GameHeader& h, const PlayedGame& record) const {
  try {
    auto s = db_->prepare("SELECT id, started FROM games WHERE white = ? AND black = ? AND start_fen = ? AND result = ?");
    s.bind(1, h.white).bind(2, h.black).bind(3, h.start_fen).bind(4, record.outcome ? record.outcome->result : "*");
    auto moves = db_->prepare("SELECT san FROM moves WHERE game_id = ? ORDER BY ply");
    while (s.step()) {
      if (!h.started.empty() && s.text(1).substr(0, 10) != h.started.substr(0, 10)) continue;
      std::vector<std::string> san;
      moves.bind(1, s.integer(0));
      while (moves.step()) san.push_back(moves.text(0));
      moves.reset();
      if (san == record.san) return s.integer(0);
    }
    return std::nullopt;
  } catch (const sql::SqlError& e) {
    throw StoreError(explain(e));
  }
}

GameStore::Imported GameStore::import(const PgnGame& pgn) {
  GameHeader h;
  h.source = "import";
  h.started = started_of(pgn.tag("Date"));
  h.white = pgn.tag("White");
  h.black = pgn.tag("Black");
  if (h.white == kHumanName || h.black == kHumanName) {
    h.human_side = h.white == kHumanName ? common::WHITE : common::BLACK;
    h.persona = h.white == kHumanName ? h.black : h.white;
    const std::string elo = pgn.tag(h.white == kHumanName ? "BlackElo" : "WhiteElo");
    if (!elo.empty() && elo.size() < 6 && elo.find_first_not_of("0123456789") == std::string::npos)
      h.persona_elo = std::stoi(elo);
  }
  if (const std::string tc = pgn.tag("TimeControl"); !tc.empty()) {
    try {
      h.clock = parse_time_control(tc);
    } catch (const UserError&) {
      // "-", "40/7200:3600" and the like: no clock we can play, kept out of the record
    }
  }
  h.start_fen = pgn.start_fen();
  PlayedGame record;
  record.start_fen = h.start_fen;
  board::Board position(h.start_fen);
  try {
    for (const auto& move : pgn.moves()) {
      record.san.push_back(move->to_SAN(position.legal_moves()));
      position.make_internal_move(*move);
    }
  } catch (const std::runtime_error& e) {
    throw UserError(e.what());
  }
  record.comments = pgn.comments;
  record.comments.resize(record.san.size());
  // The reader cannot tell a closing comment from the last move's: taken as
  // the closing one, which our writer puts last, so that the text comes back the same.
  record.final_comment = pgn.ending_comment();
  if (pgn.final_comment.empty() && !record.final_comment.empty()) record.comments.back().clear();
  if (const auto ruled = outcome_of(position); ruled && pgn.result == ruled->result)
    record.outcome = ruled;
  else if (pgn.result != "*")
    record.outcome = Outcome{pgn.result, imported_termination(pgn)};
  if (const auto kept = find_kept(h, record)) return {*kept, false};
  const std::int64_t id = add_game(h);
  update(id, record, 0, 0, 0);
  if (!record.outcome) leave(id);
  return {id, true};
}

std::vector<StoredGame> GameStore::games(const GameFilter& f) const {
  try {
    auto s = db_->prepare(
        "SELECT id, source, started, white, black, human_side, persona, persona_elo, time_control, start_fen, result, "
        "termination, final_comment, undos, hints FROM games "
        "WHERE (?1 IS NULL OR id = ?1) AND (?2 = '' OR lower(persona) = lower(?2)) "
        "AND (?3 = '' OR started >= ?3) AND (?4 = '' OR started < date(?4, '+1 day')) "
        "ORDER BY started DESC, id DESC");
    s.bind(1, f.id).bind(2, f.persona).bind(3, f.since).bind(4, f.until);
    auto moves = db_->prepare("SELECT san, comment FROM moves WHERE game_id = ? ORDER BY ply");
    std::vector<StoredGame> out;
    while (s.step()) {
      StoredGame g;
      g.id = s.integer(0);
      GameHeader& h = g.header;
      h.source = s.text(1), h.started = s.text(2), h.white = s.text(3), h.black = s.text(4);
      if (!s.is_null(5)) h.human_side = s.text(5) == "white" ? common::WHITE : common::BLACK;
      h.persona = s.text(6);
      if (!s.is_null(7)) h.persona_elo = static_cast<int>(s.integer(7));
      if (!s.is_null(8)) h.clock = parse_time_control(s.text(8));
      h.start_fen = g.record.start_fen = s.text(9);
      g.ended = !s.is_null(11);
      if (const auto why = termination_named(s.text(11)); why && *why != Termination::Unterminated)
        g.record.outcome = Outcome{s.text(10), *why};
      g.record.final_comment = s.text(12);
      g.undos = static_cast<int>(s.integer(13)), g.hints = static_cast<int>(s.integer(14));
      if (!f.result.empty()) {
        const auto points = g.player_points();
        const std::string mine = !g.record.outcome ? "unfinished"
                                 : !points        ? ""
                                 : *points == 1   ? "won"
                                 : *points == 0   ? "lost"
                                                  : "drawn";
        if (mine != f.result) continue;
      }
      moves.bind(1, g.id);
      while (moves.step()) {
        g.record.san.push_back(moves.text(0));
        g.record.comments.push_back(moves.text(1));
      }
      moves.reset();
      out.push_back(std::move(g));
    }
    return out;
  } catch (const sql::SqlError& e) {
    throw StoreError(explain(e));
  }
}

namespace {
std::string joined(const std::vector<std::string>& san) {
  std::string out;
  for (const auto& m : san) out += (out.empty() ? "" : " ") + m;
  return out;
}
}  // namespace

void GameStore::keep_review(std::int64_t id, int depth, const std::vector<std::string>& san, const std::string& review) {
  try {
    db_->prepare("INSERT OR REPLACE INTO reviews (game_id, depth, moves, review) VALUES (?, ?, ?, ?)")
        .bind(1, id).bind(2, std::int64_t{depth}).bind(3, joined(san)).bind(4, review).run();
  } catch (const sql::SqlError& e) {
    throw StoreError(explain(e));
  }
}

std::optional<std::string> GameStore::review(std::int64_t id, int depth, const std::vector<std::string>& san) const {
  try {
    auto s = db_->prepare("SELECT review FROM reviews WHERE game_id = ? AND depth = ? AND moves = ?");
    s.bind(1, id).bind(2, std::int64_t{depth}).bind(3, joined(san));
    if (s.step()) return s.text(0);
    return std::nullopt;
  } catch (const sql::SqlError& e) {
    throw StoreError(explain(e));
  }
}

bool GameStore::remove(std::int64_t id) {
  try {
    sql::Transaction t(*db_);
    db_->prepare("DELETE FROM moves WHERE game_id = ?").bind(1, id).run();
    db_->prepare("DELETE FROM reviews WHERE game_id = ?").bind(1, id).run();
    db_->prepare("DELETE FROM games WHERE id = ?").bind(1, id).run();
    const bool found = db_->changes() > 0;
    t.commit();
    return found;
  } catch (const sql::SqlError& e) {
    throw StoreError(explain(e));
  }
}

GameHeader person_game_header(const HumanGame& game, std::string source) {
  GameHeader h;
  h.source = std::move(source);
  const bool human_white = game.human_side() == common::WHITE;
  (human_white ? h.white : h.black) = kHumanName;
  (human_white ? h.black : h.white) = h.persona = game.persona_name();
  h.human_side = game.human_side();
  h.persona_elo = game.persona_strength();
  h.clock = game.clock();
  h.start_fen = game.view().record.start_fen;
  return h;
}

GameRecorder::GameRecorder(GameStore& store, const StoredGame& game)
    : store_(store), header_(game.header), id_(game.id), san_(game.record.san), ended_(game.ended),
      undos_(game.undos), hints_(game.hints) {}

void GameRecorder::keep(const PlayedGame& record, int undos, int hints) {
  if (ended_) return;
  if (!id_) {
    if (record.san.empty() && !record.outcome) return;
    id_ = store_.add_game(header_);
  }
  std::size_t kept = 0;
  while (kept < san_.size() && kept < record.san.size() && san_[kept] == record.san[kept]) ++kept;
  const bool same = kept == san_.size() && kept == record.san.size() && undos == undos_ && hints == hints_;
  if (same && !record.outcome) return;
  store_.update(*id_, record, kept, undos, hints);
  san_ = record.san;
  undos_ = undos, hints_ = hints;
  ended_ = record.outcome.has_value();
}

void GameRecorder::leave() {
  if (!id_ || ended_) return;
  ended_ = true;
  store_.leave(*id_);
}

PgnGame pgn_of(const StoredGame& game) {
  const GameHeader& h = game.header;
  GameTags tags;
  tags.event = "ai-players " + h.source;
  tags.round = "1";
  tags.white = h.white;
  tags.black = h.black;
  if (h.human_side) (*h.human_side == common::WHITE ? tags.black_elo : tags.white_elo) = h.persona_elo;
  tags.clock = h.clock;
  PgnGame pgn = pgn_of(game.record, tags);
  std::string date = h.started.substr(0, 10);
  std::replace(date.begin(), date.end(), '-', '.');
  pgn.set_tag("Date", date);
  return pgn;
}

}  // namespace ai_players::app
