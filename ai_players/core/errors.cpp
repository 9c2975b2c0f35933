#include "ai_players/core/errors.h"

#include <string_view>

namespace ai_players {

namespace {

// "ai_players::MovePtr ai_players::AI_BASIC::SelectNonSillyMove(const MoveList&, int)" -> "SelectNonSillyMove".
std::string bare_function(std::string_view signature) {
  std::string_view head = signature.substr(0, signature.find('('));
  if (const auto colon = head.rfind("::"); colon != std::string_view::npos) head.remove_prefix(colon + 2);
  if (const auto blank = head.rfind(' '); blank != std::string_view::npos) head.remove_prefix(blank + 1);
  return std::string(head.empty() ? signature : head);
}

// The path from the project's own folder on, as people find the file.
std::string_view project_path(std::string_view file) {
  const auto at = file.rfind("ai_players/");
  return at == std::string_view::npos ? file : file.substr(at);
}

}  // namespace

std::string describe(const AssertionError& error) {
  return "an internal check failed in " + bare_function(error.function()) + " (" +
         std::string(project_path(error.file())) + ":" + std::to_string(error.line()) + ")";
}

}  // namespace ai_players
