// ai-players play: a human plays a persona in the terminal.
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <memory>
#include <random>
#include <string>

#include <fmt/format.h>

#include "ai_players/core/errors.h"
#include "ai_players/core/random.h"
#include "ai_players/core/text.h"
#include "ai_players/personas/verevovera.h"
#include "ai_players/personas/safe_reply.h"
#include "cli_options.h"
#include "commands.h"
#include "game.h"
#include "library_output.h"
#include "persona_factory.h"
#include "pgn.h"
#include "score_text.h"
#include "start_position.h"
#include "time_control.h"

namespace ai_players::app {
namespace {

struct PlayOptions {
  std::string persona;
  std::string color = "white";
  std::string fen;
  std::optional<std::uint64_t> seed;
  bool preview = true;
  bool verbose = false;
  long long movetime_ms = 0;  // the persona's time per move; 0: its own pace
  std::string tc;             // the persona's clock ("60+1"); the human's time is not kept
  std::string pgn;            // where the game is saved when it ends; empty: nowhere
  PersonaSettings settings;
};

board::MovePtr same_move(const board::MoveList& legal, const std::string& coord) {
  for (const auto& m : legal)
    if (m->to_coord() == coord) return m;
  return nullptr;
}

std::string san_of(const board::MoveList& legal, const std::string& coord) {
  const auto m = same_move(legal, coord);
  return m ? m->to_SAN(legal) : coord;
}

std::string legal_list(const board::MoveList& legal) {
  std::vector<std::string> sans;
  for (const auto& m : legal) sans.push_back(m->to_SAN(legal));
  std::sort(sans.begin(), sans.end());
  std::string out;
  for (const auto& s : sans) out += (out.empty() ? "" : " ") + s;
  return out;
}

std::string preview_text(const Preview& p, const std::string& human_san, const std::string& best_san) {
  if (human_san == best_san)
    return fmt::format("Your move {} is the engine's best ({})", human_san, score_text(p.best_score));
  return fmt::format("Your move {} scored {} against the engine's best {} ({})", human_san,
                     score_text(p.actual_score), best_san, score_text(p.best_score));
}

// The board as to_text draws it, turned around when Black sits at the bottom.
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

enum class HumanAction { Move, Quit, Undo, Hint };

struct HumanInput {
  HumanAction action = HumanAction::Quit;
  board::MovePtr move;
};

const char* kHelp =
    "Type a move in SAN (Nf3, exd5, O-O, e8=Q) or coordinates (g1f3, e7e8q); 'moves' lists the legal moves, "
    "'hint' shows the engine's best, 'undo' takes back your last move, 'quit' ends the game.";

// Asks until the human types a legal move or a command; quits at the end of input.
HumanInput ask_human_move(const board::Board& position, const board::MoveList& legal) {
  for (;;) {
    std::cout << "Your move: " << std::flush;
    std::string line;
    if (!std::getline(std::cin, line)) {
      std::cout << "\nEnd of input: the game is left unfinished.\n";
      return {};
    }
    const std::string text = strip(line);
    if (text == "quit" || text == "exit") {
      std::cout << "You left the game.\n";
      return {};
    }
    if (text == "undo") return {HumanAction::Undo, nullptr};
    if (text == "hint") return {HumanAction::Hint, nullptr};
    if (text == "moves") {
      std::cout << "Legal moves: " << legal_list(legal) << '\n';
      continue;
    }
    if (text.empty() || text == "help") {
      std::cout << kHelp << '\n';
      continue;
    }
    try {
      return {HumanAction::Move, same_move(legal, position.parse_move(text)->to_coord())};
    } catch (const board::IllegalMoveError& e) {
      std::cout << fmt::format("'{}' is not a legal move here: {}. Try again ('moves' lists them).\n", text,
                               e.what());
    }
  }
}

void run_play(const PlayOptions& options) {
  const std::string start_fen = checked_start_fen(options.fen);
  const std::string name = canonical_persona_name(options.persona);
  const int human_side = options.color == "white" ? common::WHITE : common::BLACK;
  ai_players::seed(seed_or_random(options.seed));
  std::optional<TimeControl> clock;
  if (!options.tc.empty()) clock = parse_time_control(options.tc);
  milliseconds persona_left = clock ? clock->base : milliseconds(0);

  LibraryOutput output(options.verbose);
  const auto persona = start_persona(name, output, options.settings);
  std::unique_ptr<Verevovera> adviser;
  try {
    if (options.preview) {
      adviser = std::make_unique<Verevovera>(engine_config(options.settings, false));
      adviser->engine_timeout = options.settings.engine_timeout;
    }
  } catch (const EngineError& e) {
    throw std::runtime_error(describe_failure("Verevovera was starting its engine", e, output.diagnostics()));
  }

  std::cout << fmt::format("You play {} against {}. Type moves in SAN (Nf3) or coordinates (g1f3); "
                           "'moves' lists the legal moves, 'hint' shows the engine's best, 'undo' takes back "
                           "your last move, 'quit' ends the game.\n",
                           options.color, persona->Name);
  board::Board position(start_fen);
  board::MoveList history;
  std::vector<std::string> sans;
  // Saves the game as it stands, whichever way it ends.
  auto save = [&](const std::optional<Outcome>& end) {
    if (options.pgn.empty()) return;
    PgnGame game;
    game.event = "ai-players play";
    game.date = pgn_date_today();
    game.round = "1";
    const std::string opponent = persona->Name;
    game.white = human_side == common::WHITE ? "Human" : opponent;
    game.black = human_side == common::WHITE ? opponent : "Human";
    game.result = end ? end->result : "*";
    game.termination = end ? "normal" : "unterminated";
    if (start_fen != common::FEN_New_Game) game.fen = start_fen;
    game.san = sans;
    std::ofstream out(options.pgn);
    if (out << to_pgn(game)) std::cout << "The game is saved in " << options.pgn << ".\n";
    else std::cout << "Could not write " << options.pgn << ".\n";
  };
  auto hint = [&](const board::MoveList& legal) {
    try {
      if (!adviser) {
        adviser = std::make_unique<Verevovera>(engine_config(options.settings, false));
        adviser->engine_timeout = options.settings.engine_timeout;
      }
      // Any legal move will do as the one judged: the preview's best line starts with the best.
      const Preview p = adviser->Ask_For_Preview(history, *legal.front(), legal, start_fen);
      const bool first_is_best = p.best_line.empty() || p.best_line.front() == legal.front()->to_coord();
      const std::string best = first_is_best ? legal.front()->to_SAN(legal) : san_of(legal, p.best_line.front());
      std::cout << fmt::format("Hint: {} ({})\n", best, score_text(p.best_score));
    } catch (const std::exception& e) {
      std::cout << describe_failure("Verevovera was looking for a hint", e, output.diagnostics()) << '\n';
    }
  };
  bool redraw = true;
  for (;;) {
    if (redraw) std::cout << '\n' << board_text(position, human_side == common::BLACK) << std::flush;
    redraw = true;
    if (const auto end = outcome_of(position)) {
      std::cout << fmt::format("Game over: {} ({})\n", end->result, end->termination);
      save(end);
      return;
    }
    const board::MoveList legal = position.legal_moves();
    board::MovePtr move;
    if (position.side_to_move == human_side) {
      const HumanInput input = ask_human_move(position, legal);
      if (input.action == HumanAction::Quit) {
        save(std::nullopt);
        return;
      }
      if (input.action == HumanAction::Hint) {
        hint(legal);
        redraw = false;
        continue;
      }
      if (input.action == HumanAction::Undo) {
        // Your move and the reply to it; the persona's first move stays.
        if (history.size() < 2) {
          std::cout << "There is no move of yours to take back.\n";
          redraw = false;
          continue;
        }
        history.resize(history.size() - 2);
        sans.resize(sans.size() - 2);
        position = board::Board(start_fen);
        for (const auto& m : history) position.make_internal_move(*m);
        std::cout << "Took back your last move and " << name << "'s reply.\n";
        continue;
      }
      move = input.move;
      if (adviser) {
        try {
          const Preview p = adviser->Ask_For_Preview(history, *move, legal, start_fen);
          const std::string best = p.best_line.empty() ? "?" : san_of(legal, p.best_line.front());
          std::cout << preview_text(p, move->to_SAN(legal), best) << '\n';
        } catch (const std::exception& e) {
          throw std::runtime_error(describe_failure("Verevovera was judging your move", e, output.diagnostics()));
        }
      }
    } else {
      persona->clear_interrupt();
      persona->stop_at.reset();
      const auto started = std::chrono::steady_clock::now();
      if (options.movetime_ms > 0) persona->stop_at = started + milliseconds(options.movetime_ms);
      if (clock) {
        ClockReading reading;
        reading.remaining = persona_left;
        reading.increment = clock->increment;
        reading.overhead = milliseconds(10);
        persona->stop_at = started + *move_budget(reading);
      }
      try {
        const SafeReply reply = reply_safely(*persona, history, legal, start_fen);
        move = same_move(legal, reply.move->to_coord());
        if (!reply.note.empty()) std::cout << reply.note << '\n';
      } catch (const PersonaFailure& e) {
        std::cout << e.what() << "\nThe game cannot go on.\n";
        save(std::nullopt);
        return;
      }
      if (clock) {
        persona_left -= std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - started);
        if (persona_left < milliseconds(0)) {
          std::cout << fmt::format("{} ran out of time: you win on time.\n", name);
          save(Outcome{human_side == common::WHITE ? "1-0" : "0-1", "time forfeit"});
          return;
        }
        persona_left += clock->increment;
      }
      std::cout << fmt::format("{} plays {}\n", name, move->to_SAN(legal));
      if (clock) std::cout << fmt::format("{}'s clock: {:.1f} s\n", name, persona_left.count() / 1000.0);
    }
    sans.push_back(move->to_SAN(legal));
    position.make_internal_move(*move);
    history.push_back(move);
  }
}

}  // namespace

void add_play_command(CLI::App& app) {
  auto options = std::make_shared<PlayOptions>();
  CLI::App* cmd = app.add_subcommand("play", "play a persona in the terminal");
  cmd->add_option("--persona", options->persona, "your opponent ('ai-players list' shows them)")->required();
  cmd->add_option("--color", options->color, "your colour")->check(CLI::IsMember({"white", "black"}));
  cmd->add_option("--fen", options->fen, "start position (FEN)");
  cmd->add_option("--pgn", options->pgn, "save the game to this PGN file when it ends or you quit");
  add_seed_option(cmd, options->seed, "seed of the persona's random draws");
  add_clock_options(cmd, options->tc, options->movetime_ms,
                    "the persona's clock: base seconds + increment, e.g. 60+1 (yours is not kept)",
                    "milliseconds the persona may think per move");
  add_engine_timeout_option(cmd, options->settings);
  cmd->add_flag("!--no-preview", options->preview, "do not judge your moves with Verevovera");
  cmd->add_flag("--verbose", options->verbose, "show the personas' own messages on standard error");
  cmd->callback([options] { run_play(*options); });
}

}  // namespace ai_players::app
