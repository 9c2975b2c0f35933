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

class AI_BASIC {
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

  // ---- request control: how a host keeps a reply within its time.
  // A search still running this long after its "go" is told "stop"; none: no limit.
  std::optional<std::chrono::milliseconds> engine_timeout;
  // The host's clock: searches running at this moment are told "stop", later
  // ones are skipped, and the persona chooses among the candidates found.
  std::optional<engine::Clock::time_point> stop_at;
  // How long a stopped engine may take to send its "bestmove" before it is
  // killed (and restarted at the next request).
  std::chrono::milliseconds stop_grace{2000};
  // What the engine is doing, for messages ("searching ... at depth 7").
  std::string activity;

  // Ends the persona's engine at once and refuses to start another: a reply
  // running in another thread fails quickly. For a host that is shutting
  // down; callable from any thread.
  void abandon();

  // Cuts the current reply short, as stop_at does; callable from any thread.
  // Stays in force until clear_interrupt() or the start of the next reply.
  void interrupt();
  void clear_interrupt();
  // Whether the current (or last) reply was cut short.
  bool cut_short() const { return cut_short_; }
  // The engine as people know it (its path, not the shell command).
  std::string engine_name() const;
  // A fresh engine in place of the current one, with the start-up lines sent.
  void restart_engine();
  // The engine was killed or died; the next reply starts a fresh one.
  bool engine_broken = false;
  // Starts a reply: a broken engine is replaced and the cut-short state reset.
  void begin_request();

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
  // The probe's last line for each principal variation ("multipv N"); used
  // as the candidates when the reply is cut short during the probe.
  std::map<int, std::string> probe_lines_;
  void remember_probe_line_(const std::string& line);
  std::vector<Analysis> analyses_of_probe_(int multipv, const std::vector<std::string>& smoveslist);
  // Sends a search command and arms its watchdog.
  void start_search_(std::string_view go_command, bool may_cut = true);
  // The next line of the running search. Sends "stop" when the search's
  // watchdog or the host's clock runs out or interrupt() is called, and kills
  // the engine (EngineTimeout) when no line comes within stop_grace after it.
  std::string next_search_line_();
  // "stop" for the running search; `cut` marks the reply as cut short.
  void stop_search_(bool cut);
  bool search_stop_sent_() const { return stop_sent_; }
  // Whether the reply should stop searching now (clock, interrupt).
  bool time_is_up_() const;
  // Called after (re)starting the engine; personas re-send their own options.
  virtual void engine_started_() {}
  // An engine line that cannot be read, as an error naming the engine.
  [[noreturn]] void bad_engine_line_(std::string_view line, const std::exception& why);

 private:
  std::atomic<bool> interrupted_{false};
  std::atomic<bool> abandoned_{false};
  mutable std::mutex engine_mutex_;  // guards `engine` against wake() from other threads
  bool cut_short_ = false;
  bool may_cut_ = true;
  std::optional<std::chrono::milliseconds> watchdog_;
  bool stop_sent_ = false;
  engine::Clock::time_point go_sent_at_{};
  engine::Clock::time_point stop_sent_at_{};
  engine::EngineConfig config_;
  void launch_engine_();
};

}  // namespace ai_players
