// The persona rosters a host lists.
#include <gtest/gtest.h>

#include "ai_players/personas/rosters.h"

using namespace ai_players;

namespace {

// "name strength rate", the rate in its text form: integers and reals stay apart.
std::vector<std::string> rows(const std::vector<RosterRow>& list) {
  std::vector<std::string> out;
  for (const RosterRow& r : list) out.push_back(r.name + " " + std::to_string(r.strength) + " " + to_text(r.rate));
  return out;
}

TEST(Rosters, RowsInOrderWithTheirExactRates) {
  EXPECT_EQ(rows(get_beginner_list()),
            (std::vector<std::string>{"Talvo 100 random", "Isis 250 -0.94", "Iduna 350 -0.64", "Horus 450 0.0",
                                      "Hera 550 0.05", "Gremlin 650 0.15", "Gnome 750 0.27", "disabled.Freya 850 1",
                                      "disabled.Fortuna 950 1", "disabled.Epona 1050 1"}));
  EXPECT_EQ(rows(get_strong_list()),
            (std::vector<std::string>{"disabled.Elf_Princess 1150 1", "disabled.Donar 1250 1", "Diana 1350 0.06",
                                      "disabled.Cerridwen 1450 1", "disabled.Ceres 1550 1", "disabled.Bragi 1650 1",
                                      "disabled.Bellona 1750 1", "disabled.Athena 1850 1", "disabled.Apollo 1950 1",
                                      "disabled.Xylon 2050 1"}));
}

}  // namespace
