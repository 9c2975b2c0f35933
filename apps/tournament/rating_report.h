// The rating table as the tournament and ratings commands print it, and the
// anchor they fix when the user names none.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "pgn/pgn_game.h"
#include "tournament/rating_fit.h"

namespace ai_players::app {

// "HOUD20c:1350=1350" -> {HOUD20c:1350, 1350}; throws UserError.
Anchor parse_anchor(const std::string& text);

// Every HOUD20c:N among the players at N (the engine's own calibrated
// scale); else, at its roster strength (or 0 when it is no persona), the
// player with the most games among those that neither won nor lost all of
// theirs, whose rating the games fix best. `why` says which.
std::vector<Anchor> default_anchors(const std::vector<std::string>& players, const std::vector<GameScore>& games,
                                    std::string& why);

// The table as the file the program reads measured strengths from: a header,
// then "name<TAB>rating<TAB>margin<TAB>games<TAB>bound<TAB>wins<TAB>draws<TAB>losses<TAB>low<TAB>high<TAB>prior",
// bound +1 for a lower bound, -1 for an upper bound (the rating column holds the bound).
std::string ratings_tsv(const RatingTable& table);

// Every pairing: games, the first-named player's W-D-L and score, the Elo
// difference with its 95 % interval, and the likelihood of superiority.
std::string format_head_to_head(const std::vector<GameScore>& games);

// The table, best first, then the anchors, the prior and the warnings.
std::string format_rating_table(const RatingTable& table, const std::string& anchor_note);

// The scored games of PGN games (by their Result tag, else the marker after
// the moves); unfinished ones are counted, not scored.
std::vector<GameScore> scores_from_pgn(const std::vector<PgnGame>& records, int& unfinished);

// The players of a list of games in order of first appearance.
std::vector<std::string> players_of(const std::vector<GameScore>& games);

}  // namespace ai_players::app
