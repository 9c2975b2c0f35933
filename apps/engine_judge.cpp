#include "engine_judge.h"

#include <sstream>

#include <fmt/format.h>

#include "ai_players/core/errors.h"
#include "ai_players/host/common.h"

namespace ai_players::app {

bool parse_info_score(const std::string& line, Evaluation& eval) {
  std::istringstream in(line);
  std::string word;
  if (!(in >> word) || word != "info") return false;
  while (in >> word) {
    if (word != "score") continue;
    std::string kind, next;
    int value = 0;
    if (!(in >> kind >> value)) return false;
    if (in >> next && (next == "lowerbound" || next == "upperbound")) return false;
    if (kind == "cp") eval = Evaluation{value, std::nullopt};
    else if (kind == "mate") eval = Evaluation{0, value};
    else return false;
    return true;
  }
  return false;
}

EngineJudge::EngineJudge(const std::string& engine, int depth) : process_(engine, "the adjudicating engine"), depth_(depth) {
  process_.write("uci\n");
  wait_for("uciok");
  process_.write("isready\n");
  wait_for("readyok");
}

void EngineJudge::wait_for(std::string_view token) {
  for (;;) {
    const std::string line = process_.read_line_within(kPatience);
    if (line.rfind(token, 0) == 0) return;
  }
}

Evaluation EngineJudge::evaluate(const std::string& start_fen, const board::MoveList& moves) {
  std::string command = start_fen == common::FEN_New_Game ? "position startpos" : "position fen " + start_fen;
  if (!moves.empty()) command += " moves";
  for (const auto& move : moves) command += " " + move->to_coord();
  process_.write(command + "\n");
  process_.write(fmt::format("go depth {}\n", depth_));
  std::istringstream fen(start_fen);
  std::string board_part, side;
  fen >> board_part >> side;
  const bool black_to_move = (side == "b") != (moves.size() % 2 == 1);
  Evaluation eval;
  for (;;) {
    const std::string line = process_.read_line_within(kPatience);
    if (line.rfind("bestmove", 0) == 0) break;
    parse_info_score(line, eval);
  }
  if (black_to_move) {
    eval.cp = -eval.cp;
    if (eval.mate) eval.mate = -*eval.mate;
  }
  return eval;
}

}  // namespace ai_players::app
