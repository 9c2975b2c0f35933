// The rosters through which a host lists the gang personas.
#pragma once

#include <string>
#include <vector>

#include "ai_players/personas/beginner_gang.h"

namespace ai_players {

struct RosterRow {
  std::string name;
  int strength;
  BeginnerRate rate;  // a strong row's rate is always a number
};

std::vector<RosterRow> get_beginner_list();
std::vector<RosterRow> get_strong_list();

}  // namespace ai_players
