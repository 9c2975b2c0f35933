#include "pgn/game_pgn.h"

#include "ai_players/host/common.h"

namespace ai_players::app {

PgnGame pgn_of(const PlayedGame& game, const GameTags& tags) {
  const Outcome outcome = game.outcome.value_or(Outcome{"*", Termination::Unterminated});
  PgnGame pgn = with_roster(tags.event, tags.site, tags.round, tags.white, tags.black, outcome.result);
  if (game.start_fen != common::FEN_New_Game) {
    pgn.set_tag("SetUp", "1");
    pgn.set_tag("FEN", game.start_fen);
  }
  pgn.set_tag("Termination", pgn_termination(outcome.why));
  if (tags.white_elo) pgn.set_tag("WhiteElo", std::to_string(*tags.white_elo));
  if (tags.black_elo) pgn.set_tag("BlackElo", std::to_string(*tags.black_elo));
  if (tags.clock) pgn.set_tag("TimeControl", tags.clock->pgn());
  if (!tags.opening.empty()) pgn.set_tag("Opening", tags.opening);
  if (!tags.white_search.empty()) pgn.set_tag("WhiteSearch", tags.white_search);
  if (!tags.black_search.empty()) pgn.set_tag("BlackSearch", tags.black_search);
  pgn.set_tag("PlyCount", std::to_string(game.san.size()));
  pgn.san = game.san;
  pgn.comments = game.comments;
  pgn.final_comment = game.final_comment;
  if (pgn.final_comment.empty() && game.outcome && by_the_rules(outcome.why))
    pgn.final_comment = termination_text(outcome.why);
  return pgn;
}

}  // namespace ai_players::app
