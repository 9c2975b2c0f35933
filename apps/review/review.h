// Game review: every move of a game judged against the engine's best, as the
// preview persona judges a human's move, then written out as annotated PGN,
// a per-player summary and an evaluation graph.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ai_players/host/board.h"
#include "ai_players/personas/verevovera.h"
#include "pgn/pgn_game.h"
#include "players/move_marks.h"

namespace ai_players::app {

// The search a review runs in every position unless told otherwise (the
// docs/review.md says why this depth).
inline constexpr int kReviewDepth = 16;

struct MoveReview {
  int side = common::WHITE;  // the mover
  int number = 1;            // the move number
  std::string san;
  std::string coord;         // the move played, e2e4
  std::string fen;           // the position it was played in
  int played_score = 0;      // after the move, mover's view (engine units)
  int best_score = 0;        // of the engine's best move, mover's view
  bool played_best = false;
  std::string best_san;                 // the engine's best move
  std::string best_coord;
  std::vector<std::string> best_line;   // the engine's best line in SAN
  int loss = 0;                         // centipawns, capped
  Judgement judgement = Judgement::Good;

  int white_score() const { return side == common::WHITE ? played_score : -played_score; }
};

struct GameReview {
  int game = 0;  // in the file, from 1
  PgnGame record;
  std::string start_fen;
  int depth = kReviewDepth;
  std::vector<MoveReview> moves;
};

// What the adviser says about one move; Verevovera::Ask_For_Preview in the program.
using PreviewFn = std::function<Preview(const board::MoveList& history, const board::Move& move,
                                        const board::MoveList& legal, const std::string& start_fen)>;
// A judge of its own for each worker, made in the worker's thread (an engine
// lives as long as the thread that started it).
using JudgeMaker = std::function<PreviewFn()>;
// What a review reports after each judged move (and once before the first):
// how many are judged, of the game's total, and the move just judged, so
// that its mark can be shown at once.
struct ReviewStep {
  std::size_t done = 0, total = 0;
  const MoveReview* judged = nullptr;  // none in the first report
  std::size_t index = 0;               // the judged move's place in the game, from 0
  // In the first report only: every move as played, none judged yet.
  const std::vector<MoveReview>* moves = nullptr;
};
// Called from any worker, one call at a time; what it throws stops the review.
using ReviewProgress = std::function<void(const ReviewStep&)>;

// The start position of a record: its FEN tag, or the standard start.
// Throws board::FenError for a bad FEN.
std::string start_fen_of(const PgnGame& record);

// Judges every move, `jobs` positions at a time: worker k takes the moves
// k, k + jobs, ..., so that its engine's memory of the game still helps and
// the marks do not depend on timing. An engine that fails gets one fresh
// start per worker. Throws what PgnGame::moves, a judge or `progress` throws.
GameReview review_game(int game, const PgnGame& record, const JudgeMaker& make_judge, int jobs, int depth,
                       const ReviewProgress& progress = {});
// One judge, in this thread.
GameReview review_game(int game, const PgnGame& record, const PreviewFn& preview, int depth = kReviewDepth,
                       const ReviewProgress& progress = {});

// The game with an eval comment and NAG on every move and the best line as a
// variation where the move played was not the best.
std::string annotated_pgn(const GameReview& review);

// Per player: moves, average centipawn loss, NAG counts and the worst moves.
std::string summary_text(const GameReview& review);
// The moves as a game score, a marked move with its loss and the best move:
// "15. Bxd7+ ?? (−8.7) best: Qb8+".
std::string moves_text(const GameReview& review);
// The players over several games, by name; empty for fewer than two games.
std::string totals_text(const std::vector<GameReview>& reviews);

// The score after every move from White's side on a winning-chance scale,
// marked moves drawn by kind; every point carries its move's index (data-ply).
std::string evaluation_svg(const GameReview& review);

}  // namespace ai_players::app
