// The gang personas a host can offer, weakest first. Rows whose names begin
// with "disabled." are listed for the host to decide about.
#include "ai_players/personas/rosters.h"

namespace ai_players {

std::vector<RosterRow> get_beginner_list() {
  return {
      {"Talvo", 100, RandomRate{}},
      {"Isis", 250, Number(-0.94)},
      {"Iduna", 350, Number(-0.64)},
      {"Horus", 450, Number(0.0)},
      {"Hera", 550, Number(0.05)},
      {"Gremlin", 650, Number(0.15)},
      {"Gnome", 750, Number(0.27)},
      {"disabled.Freya", 850, Number(1)},
      {"disabled.Fortuna", 950, Number(1)},
      {"disabled.Epona", 1050, Number(1)},
  };
}

std::vector<RosterRow> get_strong_list() {
  return {
      {"disabled.Elf_Princess", 1150, Number(1)},
      {"disabled.Donar", 1250, Number(1)},
      {"Diana", 1350, Number(0.06)},
      {"disabled.Cerridwen", 1450, Number(1)},
      {"disabled.Ceres", 1550, Number(1)},
      {"disabled.Bragi", 1650, Number(1)},
      {"disabled.Bellona", 1750, Number(1)},
      {"disabled.Athena", 1850, Number(1)},
      {"disabled.Apollo", 1950, Number(1)},
      {"disabled.Xylon", 2050, Number(1)},
  };
}

}  // namespace ai_players
