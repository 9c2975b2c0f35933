// A person playing a persona: the one game that the terminal (`play`) and
// the browser (`serve`) both drive, so that each rule (move input, undo,
// resignation, clocks, previews, hints, the PGN) is written once.
//
// Safe to use from several threads: the persona's reply runs without the
// game's lock, so the state can be shown (and the reply cut short) meanwhile.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ai_players/personas/verevovera.h"
#include "game/game_state.h"
#include "game/user_error.h"
#include "pgn/game_pgn.h"
#include "players/engine_watch.h"
#include "players/human_pace.h"
#include "players/move_judgement.h"
#include "players/persona_factory.h"
#include "players/persona_player.h"

namespace ai_players::app {

// How long a persona may think about a move in a game against a person when
// nobody says otherwise: people wait for an answer, and a search left alone
// (HOUD20c's depth 30) can take minutes.
inline constexpr milliseconds kDefaultThinkLimit{10000};

// A persona offered a draw takes it as a player would: never when the engine
// finds it this far ahead or more (centipawns, from its side); in a level
// game only from move 30 on, as tournaments rule; at once when it is losing
// by kDrawWelcomeMargin or more.
inline constexpr int kDrawDeclineMargin = 50;
inline constexpr std::size_t kDrawEarliestPly = 60;
inline constexpr int kDrawWelcomeMargin = 200;

struct HumanGameSetup {
  std::string persona;  // a name make_persona knows
  int human_side = common::WHITE;
  std::string start_fen{common::FEN_New_Game};
  std::optional<TimeControl> clock;  // both sides' clocks; none: no clock
  // The persona's time per move when there is no clock; none: no limit.
  std::optional<milliseconds> think_limit = kDefaultThinkLimit;
  bool preview = true;                      // an adviser judges the human's moves and gives hints
  int preview_depth = 7;
  PersonaSettings settings;
  // Played before the game is handed over (a stored game continued), in SAN
  // or coordinates; no clock is charged for them.
  std::vector<std::string> moves;  // A person's pace (players/human_pace.h): the persona's move is held back
  // until a player of its strength would have played it. Off: as soon as it
  // is chosen. Its draws come from a stream of their own, seeded here.
  bool human_pace = false;
  std::uint64_t pace_seed = 0;
};

// The persona's answer, as it was played.
struct PersonaMove {
  std::string san;
  std::string coord;
  std::string note;  // a fallback or restart, for people; empty when all went well
  bool cut_short = false;
  milliseconds thought{0};
};

// The persona's answer to a draw offer, and the score it went by.
struct DrawAnswer {
  bool accepted = false;
  Score score;         // the position for the persona, as the adviser's engine sees it
  std::string reason;  // a refusal's, as the player is told it: "it thinks it is better"
};
// The answer to a draw offered when the persona's score is `score` and
// `plies` moves have been played.
DrawAnswer answer_draw(Score score, std::size_t plies);

class HumanGame {
 public:
  // Builds the persona (and the adviser); throws PersonaError, or EngineError
  // when an engine cannot be started.
  explicit HumanGame(HumanGameSetup setup);
  ~HumanGame();

  const std::string& persona_name() const { return player_.name; }
  int persona_strength() const { return player_.strength(); }
  int human_side() const { return setup_.human_side; }
  bool has_adviser() const { return adviser_ != nullptr; }
  int preview_depth() const { return setup_.preview_depth; }

  const std::optional<TimeControl>& clock() const { return setup_.clock; }
  std::optional<milliseconds> think_limit() const { return setup_.clock ? std::nullopt : setup_.think_limit; }

  struct View {
    PlayedGame record;
    std::string fen;
    board::MoveList legal;  // empty unless the human is to move
    int side_to_move = common::WHITE;
    bool thinking = false;
    milliseconds thinking_for{0};  // while thinking: since the reply began
    EngineWatch::Reading engine;   // while thinking: the persona's searches so far
    std::optional<milliseconds> white_left, black_left;  // as they stand now, the running clock included
    bool clock_runs = false;  // each side's first move is free
  };
  View view() const;
  // Ends the game when the human's flag has fallen while they think; whether it did.
  bool flag_check();

  // The legal move `text` names (SAN in either case, or coordinates); throws
  // UserError saying why not, NotNowError when it is not the human's turn.
  board::MovePtr read_move(const std::string& text) const;
  // The adviser's judgement of the human's move, before it is played; none
  // without an adviser. Throws what the engine throws.
  std::optional<MoveJudgement> judge(const board::Move& move);
  // Plays the human's move; their clock is charged since their turn began.
  // A move after the flag fell loses on time instead.
  void play_human(const board::Move& move);
  // The adviser's best move for the human; NotNowError when it is not the
  // human's turn, NotAvailableError without an adviser.
  MoveJudgement hint();
  // Takes back the human's last move and what was played after it. A game
  // that is over stays over (NotNowError); UserError when the human has no move yet.
  void undo();
  void resign();
  // The human offers a draw on their turn; the persona answers by the
  // adviser's score as kDrawDeclineMargin says, and an accepted draw ends the
  // game. NotAvailableError without an adviser.
  DrawAnswer offer_draw();

  // Whether the persona is to move in a game still going on.
  bool personas_turn() const;
  // The persona's reply, played: blocks while it thinks. A persona that can
  // give no move ends the game as abandoned (and none is returned).
  std::optional<PersonaMove> reply();
  // Cuts the running reply short, or the one about to start in the
  // persona's turn; any thread.
  void move_now();
  // Ends the engines at once (the program is shutting down); any thread.
  void abandon();

  // The game as PGN, players named as every command names them.
  PgnGame pgn(const std::string& event, const std::string& site, int round = 1) const;

 private:
  void require_humans_turn() const;
  // A copy of the game, taken under the lock, when it is the human's turn.
  GameState state_on_humans_turn() const;
  milliseconds turn_time() const;
  // Holds the chosen reply back until a person's time for it, the think
  // deadline or a "move now", whichever comes first.
  void keep_pace(const board::Board& before, const board::Move& reply, const board::MovePtr& last,
                 std::chrono::steady_clock::time_point started,
                 std::optional<std::chrono::steady_clock::time_point> deadline);

  HumanGameSetup setup_;
  std::mutex engines_;  // one engine job at a time: a reply, a judgement, a hint
  std::shared_ptr<EngineWatch> watch_ = std::make_shared<EngineWatch>();
  PersonaPlayer player_;
  std::unique_ptr<Verevovera> adviser_;
  mutable std::mutex mutex_;  // guards what follows
  GameState state_;
  bool thinking_ = false;
  std::chrono::steady_clock::time_point turn_started_;
  std::optional<HumanPace> pace_;  // none: no person's pace
  std::condition_variable pace_cv_;
  bool pace_cut_ = false;  // a "move now" (or the end) came: no more holding back
};

}  // namespace ai_players::app
