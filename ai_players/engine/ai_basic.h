// AI_BASIC: the base of every persona. Owns the engine process and holds the
// engine dialogue and all shared analysis, choice and filter operations.
#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "ai_players/core/analysis.h"
#include "ai_players/core/number.h"
#include "ai_players/engine/engine_config.h"
#include "ai_players/engine/line_channel.h"
#include "ai_players/engine/search_control.h"
#include "ai_players/host/board.h"
#include "ai_players/host/common.h"

namespace ai_players {

using board::MoveList;
using board::MovePtr;

// What ListTopMoves returns: the qualifying moves, the best line, all lines.
struct TopMoves {
  MoveList topmoves;
  Analysis bestline;
  std::vector<Analysis> analyses;
};

class AI_BASIC : public engine::HostControl {
 public:
  static constexpr std::string_view HOUDINI = "Houdini_20c_Pro_w32.exe";

  AI_BASIC(const std::string& basename, Number elo,
           std::optional<std::string> enginename = std::nullopt, engine::EngineConfig config = {});
  virtual ~AI_BASIC();
  AI_BASIC(const AI_BASIC&) = delete;
  AI_BASIC& operator=(const AI_BASIC&) = delete;

  // ---- base fields
  std::string Name;
  Number ELO;
  board::Board board;
  bool DEBUG = false;
  std::string start_fen;
  int myside = 0;   // WHITE or BLACK once a reply was asked for; 0 before
  int oppside = 0;
  std::optional<std::string> enginepath;  // unset on the wine branch
  std::unique_ptr<engine::LineChannel> engine;
  std::string engine_command;  // what the shell was given to start the engine
  // The depth the last candidate search ran at (the probe's choice for a node budget).
  int last_search_depth = 0;

  // ---- request fields (set by GetReply)
  MoveList game_history;
  MoveList legalmoves;

  // ---- probe record
  std::vector<std::string> elines{std::string()};

  // ---- master sequence
  int MasterMove_Depth = 0;
  std::optional<int> MasterMove_M_Balance;  // none until the first master move

  // ---- filter settings and diagnostics, set by the personas per reply
  int SEE_RANGE = 2;
  bool SCAN_N = false;
  std::vector<Analysis> DEBUG_analyses;
  MoveList DEBUG_topD2moves;

  // ---- request control: how a host keeps a reply within its time. The
  // host's fields (engine_timeout, ready_timeout, stop_at, stop_grace) are
  // engine::HostControl's, in engine/search_control.h; the calls are here.
  // What the engine is doing, for messages ("searching ... at depth 7").
  std::string activity;
  // What went wrong with the engine in this reply (killed, replaced), for messages.
  std::string engine_trouble;

  // Ends the persona's engine at once and refuses to start another: a reply
  // running in another thread fails quickly. For a host that is shutting
  // down; callable from any thread.
  void abandon();

  // Cuts short the reply that runs, as stop_at does; when none runs, the next
  // one. The end of that reply ends it. Callable from any thread.
  void interrupt();
  // Drops an interrupt that came between replies.
  void clear_interrupt();
  // Whether the current (or last) reply was cut short.
  bool cut_short() const { return cut_short_; }
  // Whether the reply must not start another search: the clock ran out, the
  // reply was interrupted or cut short, or it has run too long. A search
  // asked for outside any reply is a reply of its own.
  bool out_of_time() const;
  // Whether the engine was killed and replaced during the current (or last) reply.
  bool engine_replaced() const { return engine_replaced_; }
  // What the current (or last) reply's analysis says of a move (coordinates,
  // "e2e4"): the deepest of the lines its choice was made from that begin
  // with it, the latest of that depth. None when no such line was found (a
  // random move, an opening move played by heart, a quick move).
  std::optional<Analysis> line_for(std::string_view coord) const;
  // The engine as people know it (its path, not the shell command).
  std::string engine_name() const;
  // The persona's name without its strength, as notes call it ("Horus").
  const std::string& base_name() const { return basename_; }
  // A fresh engine in place of the current one, with the start-up lines sent.
  void restart_engine();
  // The engine was killed or died; the next reply starts a fresh one.
  bool engine_broken = false;

  // One reply, from the host's request to its answer. GetReply opens one, and
  // so does reply_safely around a persona's own choice and its fallback; only
  // the outermost counts. It starts the reply's state afresh (nothing found
  // for an earlier position answers this one; a broken engine is replaced),
  // and its end ends an interrupt.
  class ReplyScope {
   public:
    explicit ReplyScope(AI_BASIC& persona);
    ~ReplyScope();
    ReplyScope(const ReplyScope&) = delete;
    ReplyScope& operator=(const ReplyScope&) = delete;

   private:
    AI_BASIC& persona_;
  };

  // Starts a request outside any reply: a broken engine is replaced and the
  // cut-short state reset. (A search asked for on its own does this itself.)
  void begin_request();

  // Starts a new game: the engine is told "ucinewgame" and must answer
  // "isready" within engine_timeout, but never less than ready_timeout (with
  // no engine_timeout, whenever it does); every per-game field goes back to
  // its value in a freshly built persona, so that a seeded game played after
  // it is the game a fresh persona plays. Throws EngineError.
  void new_game();

  // For a reply cut short before any candidate was found: the engine's move
  // from one depth-1 search (with stop_grace to answer), or a random legal
  // move when the engine failed in this reply or does not answer in time.
  // `searched` tells which. Needs the request fields set.
  MovePtr quick_move(bool* searched = nullptr);

  // ---- engine line I/O
  void writeIntoEngine(std::string_view line);
  std::string readFromEngine();

  // ---- engine dialogue
  void MakeMovesFromStartPos(const MoveList& moves);
  std::vector<Analysis> obtain_engine_thoughts(int multipv, int depth = 0,
                                               std::optional<long long> nodes = std::nullopt,
                                               std::string_view smoves = "");
  std::vector<Analysis> o_t_get_analyses_(int multipv, int depth, std::vector<std::string> smoveslist);
  int o_t_get_depth_(int multipv, int depth, std::optional<long long> nodes);
  std::tuple<int, int, std::vector<std::string>> analyse_engine_outputline_(std::string_view engineline);
  // The same without the diagnostic, for lines that may well be incomplete.
  static std::tuple<int, int, std::vector<std::string>> parse_pv_line_(std::string_view engineline);

  // ---- reply driver and move choice
  MovePtr GetReply(const MoveList& game_history, const MoveList& legalmoves,
                   std::string_view start_fen = common::FEN_New_Game, bool isMasterMove = false,
                   std::optional<double> error_margin = std::nullopt);
  // The persona's own choice; the base class has none.
  virtual MovePtr GetReply_(std::optional<double> error_margin);
  // A move in the persona's style for when its own choice failed (a set-up
  // position it has no rule for, say): by default a uniform choice among its
  // top moves within a beginner's error margin. Needs the request fields set.
  virtual MovePtr FallbackReply_();
  // What the fallback does, in words that follow the persona's name and "so
  // it": "plays among its best moves".
  virtual std::string FallbackWords_() const;

  MoveList& EnhanceMovesInfo(const std::vector<Analysis>& analyses);
  TopMoves ListTopMoves(double error_margin, int multipv, int depth = 0,
                        std::optional<long long> nodes = std::nullopt,
                        std::optional<int> mate_limit = std::nullopt);
  // Returns nullptr when the persona should choose otherwise.
  MovePtr ConsiderTopD2Moves(int best_score, const MoveList& topD2moves, double d2_rate,
                             const std::vector<Analysis>& analyses);
  MovePtr GetMasterMove(double nodes = 1048576, double error_margin = 7);
  // Returns nullptr when the master sequence is over.
  MovePtr GetMasterMove_Continuation_(long long nodes = 524288);
  int calc_material_balance(int colour = 0) const;

  // ---- silly-move filters
  MovePtr SelectNonSillyMove(const MoveList& topD2moves, int analyse_depth);
  MovePtr nonSilly_capture_mania_(const MoveList& topD2moves, const board::Move& lastply,
                                  const MoveList& filtered);
  MoveList Filter_LastPlyThreats(const board::Move& lastply, int SEEING_DISTANCE);
  MoveList Filter_SillyPlacements(const MoveList& moveslist);
  MoveList Filter_SuicideMoves(const MoveList& moveslist, bool SCAN_N, int SEEING_DISTANCE);
  MoveList Filter_QueenProtection(const MoveList& moveslist, const board::Move& lastply);
  [[noreturn]] MoveList Filter_KB2_Square_Protection(const MoveList& moveslist);

 protected:
  // The board on the game's position, without telling the engine.
  void replay_board_(const MoveList& moves);
  // Throws CutShortError for a search that found nothing because time ran out.
  void require_candidates_(const std::vector<Analysis>& analyses);
  // The probe's last line of each principal variation ("multipv N"), parsed:
  // the candidates when the reply is cut short during this very probe.
  std::map<int, Analysis> probe_lines_;
  void remember_probe_line_(const std::string& line);
  // Keeps lines the reply's choice is made from, for line_for().
  void remember_reply_lines_(const std::vector<Analysis>& lines);
  std::vector<Analysis> analyses_of_probe_(int multipv, const std::vector<std::string>& smoveslist) const;
  // Sends a search command and arms its watchdog. A search that must run
  // although time is up (may_cut false) is not stopped by the clock; half of
  // stop_grace is its watchdog and half its time to answer "stop".
  void start_search_(std::string_view go_command, bool may_cut = true);
  // The next line of the running search, or none once it is over without a
  // bestmove: under a limit, the engine did not answer "stop" within
  // stop_grace and was killed (and a fresh one started). Sends "stop" when
  // the watchdog, the host's clock, the reply's bound or interrupt() says so.
  std::optional<std::string> next_search_line_();
  // "stop" for the running search; `cut` marks the reply as cut short.
  void stop_search_(bool cut);
  bool search_stop_sent_() const { return search_.stop_sent; }
  // Called after (re)starting the engine; personas re-send their own options.
  virtual void engine_started_() {}
  // Called by new_game(); personas put back the fields their replies change.
  virtual void reset_game_() {}
  // Called first thing in GetReply; personas forget what they said of their last reply.
  virtual void reply_asked_() {}

 private:
  mutable std::mutex engine_mutex_;  // guards `engine` against wake() from other threads
  bool cut_short_ = false;
  bool engine_replaced_ = false;
  int reply_depth_ = 0;
  std::optional<engine::Clock::time_point> reply_deadline_;
  engine::SearchWatch search_;  // the running search's watchdog
  engine::EngineConfig config_;
  std::string basename_;
  void launch_engine_();
  void begin_reply_();
  void start_reply_state_();
  void end_reply_();
  // Whether the host set a limit that is in force: engine_timeout, or the
  // clock, the reply's bound or an interrupt has come.
  bool host_bounds_time_() const;
  // Sends "stop" when a limit says so; kills the engine (true) once it has
  // not answered "stop" within its grace.
  bool search_given_up_();
  // When the running search's reading must wake to check its limits; none: never.
  std::optional<engine::Clock::time_point> search_wake_at_() const;
  // The engine did not answer "stop": it is killed and replaced.
  void give_up_search_();
  // A line of the engine's answers to "uci" and "isready" before `deadline`
  // (`patience` after they were asked, for the message); with none, whenever it comes.
  std::string read_checked_line_(std::optional<engine::Clock::time_point> deadline, std::chrono::milliseconds patience);
  bool uci_answered_ = false;  // the running engine said uciok
  std::map<std::string, Analysis, std::less<>> reply_lines_;  // by their first move
};

}  // namespace ai_players
