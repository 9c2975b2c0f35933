// What a tournament says while it runs: a line per finished game, as match
// runners print it, and the standings so far.
#pragma once

#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "pgn/pgn_game.h"
#include "tournament/schedule.h"

namespace ai_players::app {

// Points and scored games per player as the games come in.
class Standings {
 public:
  explicit Standings(std::vector<std::string> names) : names_(std::move(names)) {}
  void add(const std::string& white, const std::string& black, const std::string& result);
  // "Gnome 3/4  Horus 1/4", best first, cut at about `limit` characters.
  std::string line(std::size_t limit) const;

 private:
  std::vector<std::string> names_;
  std::map<std::string, std::pair<double, int>> score_;
};

class TournamentLog {
 public:
  TournamentLog(std::ostream& out, std::vector<std::string> names, std::size_t total);
  // "Finished game 12 (Gnome vs Talvo): 1-0 {checkmate}", then the standings.
  void finished(const ScheduledGame& game, const PgnGame& pgn);
  void failed(const ScheduledGame& game, const std::string& why);
  std::size_t done() const { return done_; }

 private:
  std::ostream& out_;
  Standings standings_;
  std::size_t total_;
  std::size_t done_ = 0;
};

}  // namespace ai_players::app
