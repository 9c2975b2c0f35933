// ai-players play: a human plays a persona in the terminal.
#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <random>
#include <string>

#include <fmt/format.h>

#include "ai_players/core/errors.h"
#include "ai_players/core/random.h"
#include "ai_players/core/text.h"
#include "ai_players/personas/verevovera.h"
#include "commands.h"
#include "game.h"
#include "library_output.h"
#include "persona_factory.h"
#include "score_text.h"
#include "start_position.h"

namespace ai_players::app {
namespace {

struct PlayOptions {
  std::string persona;
  std::string color = "white";
  std::string fen;
  std::uint64_t seed = 0;
  bool seeded = false;
  bool preview = true;
  bool verbose = false;
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

// Asks until the human types a legal move; none when they quit or the input ends.
board::MovePtr ask_human_move(const board::Board& position, const board::MoveList& legal) {
  for (;;) {
    std::cout << "Your move: " << std::flush;
    std::string line;
    if (!std::getline(std::cin, line)) {
      std::cout << "\nEnd of input: the game is left unfinished.\n";
      return nullptr;
    }
    const std::string text = strip(line);
    if (text == "quit" || text == "exit") {
      std::cout << "You left the game.\n";
      return nullptr;
    }
    if (text == "moves") {
      std::cout << "Legal moves: " << legal_list(legal) << '\n';
      continue;
    }
    if (text.empty() || text == "help") {
      std::cout << "Type a move in SAN (Nf3, exd5, O-O, e8=Q) or coordinates (g1f3, e7e8q); "
                   "'moves' lists the legal moves, 'quit' ends the game.\n";
      continue;
    }
    try {
      return same_move(legal, position.parse_move(text)->to_coord());
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
  ai_players::seed(options.seeded ? options.seed : std::random_device{}());

  LibraryOutput output(options.verbose);
  const auto persona = start_persona(name, output);
  std::unique_ptr<Verevovera> adviser;
  try {
    if (options.preview) adviser = std::make_unique<Verevovera>();
  } catch (const EngineError& e) {
    throw std::runtime_error(describe_failure("Verevovera was starting its engine", e, output.diagnostics()));
  }

  std::cout << fmt::format("You play {} against {}. Type moves in SAN (Nf3) or coordinates (g1f3); "
                           "'moves' lists the legal moves, 'quit' ends the game.\n",
                           options.color, persona->Name);
  board::Board position(start_fen);
  board::MoveList history;
  for (;;) {
    std::cout << '\n' << position.to_text() << std::flush;
    if (const auto end = outcome_of(position)) {
      std::cout << fmt::format("Game over: {} ({})\n", end->result, end->termination);
      return;
    }
    const board::MoveList legal = position.legal_moves();
    board::MovePtr move;
    if (position.side_to_move == human_side) {
      move = ask_human_move(position, legal);
      if (!move) return;
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
      try {
        const auto reply = persona->GetReply(history, legal, start_fen);
        move = same_move(legal, reply->to_coord());
        if (!move) throw std::runtime_error("it answered an illegal move " + reply->to_coord());
      } catch (const std::exception& e) {
        throw std::runtime_error(describe_failure(choosing(*persona), e, output.diagnostics()));
      }
      std::cout << fmt::format("{} plays {}\n", name, move->to_SAN(legal));
    }
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
  CLI::Option* seed = cmd->add_option("--seed", options->seed, "seed of the persona's random draws");
  cmd->add_flag("!--no-preview", options->preview, "do not judge your moves with Verevovera");
  cmd->add_flag("--verbose", options->verbose, "show the personas' own messages on standard error");
  cmd->callback([options, seed] {
    options->seeded = seed->count() > 0;
    run_play(*options);
  });
}

}  // namespace ai_players::app
