#include "terminal/terminal_play.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include <fmt/format.h>

#include "ai_players/core/text.h"
#include "players/library_output.h"

namespace ai_players::app {
namespace {

const char* kHelp =
    "Type a move in SAN (Nf3, exd5, O-O, e8=Q) or coordinates (g1f3, e7e8q); 'moves' lists the legal moves, "
    "'hint' shows the engine's best, 'undo' takes back your last move, 'resign' gives up, 'quit' ends the game.";

std::string legal_list(const board::MoveList& legal) {
  std::vector<std::string> sans;
  for (const auto& m : legal) sans.push_back(m->to_SAN(legal));
  std::sort(sans.begin(), sans.end());
  return fmt::format("{}", fmt::join(sans, " "));
}

// "there is no move" -> "There is no move."
std::string sentence(std::string text) {
  if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
  return text + ".";
}

class Session {
 public:
  Session(const TerminalPlay& options, HumanGame& game, std::istream& in, std::ostream& out)
      : options_(options), game_(game), in_(in), out_(out) {}

  void run() {
    out_ << fmt::format("You play {} against {}. {}\n", game_.human_side() == common::WHITE ? "white" : "black",
                        game_.persona_name(), kHelp);
    bool redraw = true;
    for (;;) {
      const HumanGame::View view = game_.view();
      if (redraw) out_ << '\n' << board_text(board::Board(view.fen), game_.human_side() == common::BLACK) << std::flush;
      redraw = true;
      if (view.record.outcome) return finish(view);
      if (game_.personas_turn()) {
        persona_move();
        continue;
      }
      if (!human_turn(redraw)) return save();
    }
  }

 private:
  void persona_move() {
    const auto reply = game_.reply();
    if (!reply) return;
    if (!reply->note.empty()) out_ << reply->note << '\n';
    out_ << fmt::format("{} plays {}\n", game_.persona_name(), reply->san);
  }

  // False when the person leaves.
  bool human_turn(bool& redraw) {
    out_ << "Your move: " << std::flush;
    std::string line;
    if (!std::getline(in_, line)) {
      out_ << "\nEnd of input: the game is left unfinished.\n";
      return false;
    }
    const std::string text = strip(line);
    redraw = false;
    try {
      if (text == "quit" || text == "exit") {
        out_ << "You left the game.\n";
        return false;
      }
      if (text == "moves") out_ << "Legal moves: " << legal_list(game_.view().legal) << '\n';
      else if (text == "hint") {
        const MoveJudgement best = game_.hint();
        out_ << fmt::format("Hint: {} ({})\n", best.best_san, best.best.text());
      }
      else if (text.empty() || text == "help") out_ << kHelp << '\n';
      else if (text == "undo") {
        game_.undo();
        out_ << "Took back your last move and " << game_.persona_name() << "'s reply.\n";
        redraw = true;
      } else if (text == "resign") {
        game_.resign();
        redraw = true;
      } else {
        play(text);
        redraw = true;
      }
    } catch (const UserError& e) {
      out_ << sentence(e.what()) << '\n';
    } catch (const std::exception& e) {
      out_ << describe_failure("Verevovera was looking at your game", e, {}) << '\n';
    }
    return true;
  }

  void play(const std::string& text) {
    board::MovePtr move;
    try {
      move = game_.read_move(text);
    } catch (const NotNowError&) {
      throw;
    } catch (const UserError& e) {
      throw UserError(std::string(e.what()) + ". Try again ('moves' lists them)");
    }
    if (const auto judgement = game_.judge(*move)) out_ << judgement->text << '\n';
    game_.play_human(*move);
  }

  void finish(const HumanGame::View& view) {
    out_ << fmt::format("Game over: {} ({})\n", view.record.outcome->result, termination_text(view.record.outcome->why));
    if (!view.record.final_comment.empty()) out_ << view.record.final_comment << '\n';
    save();
  }

  void save() {
    if (options_.pgn_file.empty()) return;
    std::ofstream file(options_.pgn_file);
    if (file << to_pgn(game_.pgn("ai-players play", "?"))) out_ << "The game is saved in " << options_.pgn_file << ".\n";
    else out_ << "Could not write " << options_.pgn_file << ".\n";
  }

  const TerminalPlay& options_;
  HumanGame& game_;
  std::istream& in_;
  std::ostream& out_;
};

}  // namespace

std::string board_text(const board::Board& position, bool black_view) {
  const std::string text = position.to_text();
  if (!black_view) return text;
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  if (lines.size() != 11) return text;
  std::string out = lines[0] + '\n';
  for (int row = 8; row >= 1; --row) {
    const std::string& line = lines[row];  // "8 | r n b q k b n r |"
    std::string pieces;
    for (int file = 7; file >= 0; --file) pieces += fmt::format(" {}", line[4 + 2 * file]);
    out += fmt::format("{} |{} |\n", line[0], pieces);
  }
  return out + lines[9] + "\n    h g f e d c b a\n";
}

void play_in_terminal(const TerminalPlay& options, std::istream& in, std::ostream& out) {
  LibraryOutput output(options.verbose);
  std::unique_ptr<HumanGame> game;
  try {
    game = std::make_unique<HumanGame>(options.game);
  } catch (const EngineError& e) {
    throw std::runtime_error(describe_failure("the game's engines were starting", e, output.diagnostics()));
  }
  Session(options, *game, in, out).run();
}

}  // namespace ai_players::app
