// AI_BASIC: the base of every persona. Owns the engine process and holds the
// engine dialogue and all shared analysis, choice and filter operations.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "ai_players/core/analysis.h"
#include "ai_players/core/number.h"
#include "ai_players/engine/engine_process.h"
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
           std::optional<std::string> enginename = std::nullopt);
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
  std::unique_ptr<engine::EngineProcess> engine;
  // How long one engine read may wait; none = no limit.
  std::optional<std::chrono::milliseconds> read_timeout;
  // Set when a read timed out: the engine may still be searching, so the next
  // exchange first brings it back to rest.
  bool engine_resync_needed = false;
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
  // readFromEngine for the read loops: an ended stream is an EngineError
  // instead of an endless run of empty reads.
  std::string next_engine_line_();
  // After a timed-out read: "stop", "isready", and discard output up to "readyok".
  void resync_engine_();
};

}  // namespace ai_players
