// The beginner personas: one rate decides between random moves, capture
// mania, and near-best moves with a non-silly fall-back.
#include "ai_players/personas/beginner_gang.h"

#include <algorithm>
#include <utility>
#include <cmath>
#include <cstdlib>

#include "ai_players/core/analysis.h"
#include "ai_players/core/errors.h"
#include "ai_players/core/random.h"
#include "ai_players/core/text.h"

namespace ai_players {

std::string to_text(const BeginnerRate& rate) {
  if (std::holds_alternative<RandomRate>(rate)) return "random";
  return std::get<Number>(rate).text();
}

namespace {

// A "NOVICE" takes its strength from its rate (0.27 -> 270.0). The rate
// "random" has no number to scale, so the given elo stays.
Number novice_elo(const std::string& name, const BeginnerRate& d2_rate, Number elo) {
  if (name != "NOVICE") return elo;
  const Number* rate = std::get_if<Number>(&d2_rate);
  if (!rate) return elo;
  if (rate->is_integer()) return Number(static_cast<long long>(rate->value()) * 1000);
  return Number(rate->value() * 1000);
}

}  // namespace

bool BEGINNER_GANG::accepts(const std::string& name, const BeginnerRate& d2_rate, Number elo) {
  if (const Number* rate = std::get_if<Number>(&d2_rate))
    if (!(-1.0 <= rate->value() && rate->value() <= 1.0)) return false;
  return novice_elo(name, d2_rate, elo) != Number(-1);
}

BEGINNER_GANG::BEGINNER_GANG(const std::string& name, BeginnerRate d2_rate, Number elo, engine::EngineConfig config)
    : AI_BASIC(name, novice_elo(name, d2_rate, elo), std::nullopt, std::move(config)),
      D2_RATE(d2_rate),
      constructed_rate_(d2_rate) {
  if (const Number* rate = std::get_if<Number>(&D2_RATE)) require(-1.0 <= rate->value() && rate->value() <= 1.0);
  require(ELO != Number(-1));
  common::echo(format_s("gang:BEGINNER; elo:%s; D2_RATE:%s", ELO, to_text(D2_RATE)));
}

MovePtr BEGINNER_GANG::GetReply_(std::optional<double> /*error_margin*/) {
  // The upper beginners play near their best on every reply, whatever their row says.
  if (ELO.value() > 800) D2_RATE = Number(0.8 + random_real() * 0.2);
  if (std::holds_alternative<RandomRate>(D2_RATE)) return get_random_reply_();
  const double rate = std::get<Number>(D2_RATE).value();
  if (rate < 0 && chance(-rate)) return get_capture_mania_reply_();

  // The higher the rate, the farther the filters look and the more often
  // knight attacks are noticed.
  const double sqrate = std::sqrt(std::max(rate, 0.0));
  const int x = static_cast<int>(7 * uniform(sqrate, 1.0) + 1);
  SEE_RANGE = std::max(std::min(x, 7), 2);
  SCAN_N = chance(sqrate + 0.2);

  TopMoves top = ListTopMoves(40, 16, 2, std::nullopt, 1);
  if (MovePtr topmove = ConsiderTopD2Moves(top.bestline.score, top.topmoves, rate, top.analyses)) {
    common::echo("topmove (considertopd2moves)");
    return topmove;
  }
  DEBUG_analyses = top.analyses;
  DEBUG_topD2moves = top.topmoves;
  return SelectNonSillyMove(top.topmoves, 3);
}

MovePtr BEGINNER_GANG::FallbackReply_() {
  if (std::holds_alternative<RandomRate>(D2_RATE)) return get_random_reply_();
  return AI_BASIC::FallbackReply_();
}

std::string BEGINNER_GANG::FallbackWords_() const {
  return std::holds_alternative<RandomRate>(D2_RATE) ? "plays a random move" : AI_BASIC::FallbackWords_();
}

MovePtr BEGINNER_GANG::get_random_reply_() {
  common::echo("random");
  return choice(legalmoves);
}

MovePtr BEGINNER_GANG::get_capture_mania_reply_() {
  using namespace common;
  const std::vector<Analysis> analyses = obtain_engine_thoughts(2, 6);
  // Cut short before the engine said anything: the steps that need its best
  // move are skipped, the greed needs no search.
  MovePtr bestmove;
  int score = 0;
  if (!analyses.empty()) {
    const Analysis& bestreply = analyses.front();
    score = bestreply.score;
    bestmove = board::make_move(bestreply.pv_list.at(0), legalmoves);
  }
  echo(bestmove ? "_get_capture_mania_reply" : "_get_capture_mania_reply: cut short, no engine line");

  // Mates, queen captures and castling are too obvious to pass up.
  if (bestmove && (std::abs(score) >= MATE_IN(2) || (std::abs(bestmove->Piece) == Queen && bestmove->Captured != 0) ||
                   bestmove->IsCastlingMove))
    return bestmove;

  MoveList capture_moves;
  for (const MovePtr& m : legalmoves)
    if (m->Captured != 0) capture_moves.push_back(m);

  // A big capture by a piece other than the queen qualifies twice, doubling its weight.
  MoveList filtered;
  for (const MovePtr& m : capture_moves)
    if (std::abs(m->Captured) >= Rook) filtered.push_back(m);
  for (const MovePtr& m : capture_moves)
    if (std::abs(m->Piece) != Queen && std::abs(m->Captured) > Pawn) filtered.push_back(m);

  if (filtered.empty())
    for (const MovePtr& m : legalmoves)
      if (std::abs(m->ExtraAddedPiece) == Queen) filtered.push_back(m);
  if (filtered.empty())
    for (const MovePtr& m : capture_moves)
      if (std::abs(m->Piece) == Pawn || std::abs(m->Piece) == King) filtered.push_back(m);
  if (filtered.empty() && bestmove && board.MoveNumber > 20 && score > 1200) filtered.push_back(bestmove);
  if (filtered.empty() && board.MoveNumber < 20)
    for (const MovePtr& m : legalmoves)
      if (std::abs(m->Piece) != King) filtered.push_back(m);
  if (filtered.empty()) filtered = legalmoves;
  return choice(filtered);
}

}  // namespace ai_players
