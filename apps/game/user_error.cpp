#include "game/user_error.h"

namespace ai_players::app {

std::string message_line(std::string_view message) {
  std::string line;
  bool broken = false;
  for (const char c : message) {
    if (c == '\n' || c == '\r' || (broken && c == ' ')) {
      broken = true;
      continue;
    }
    if (broken && !line.empty()) line += "; ";
    broken = false;
    if (line.size() >= kMessageLimit) {
      // Not in the middle of a character.
      while (!line.empty() && (static_cast<unsigned char>(line.back()) & 0xC0) == 0x80) line.pop_back();
      if (!line.empty() && (static_cast<unsigned char>(line.back()) & 0x80)) line.pop_back();
      return line + "...";
    }
    line += c;
  }
  return line;
}

}  // namespace ai_players::app
