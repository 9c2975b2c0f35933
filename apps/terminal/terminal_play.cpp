#include "terminal/terminal_play.h"

#include <algorithm>
#include <future>
#include <optional>

#include <fmt/format.h>

#include "ai_players/core/text.h"
#include "players/library_output.h"
#include "players/measured_ratings.h"
#include "games_db/game_store.h"
#include "pgn/pgn_file.h"
#include "terminal/board_view.h"

namespace ai_players::app {
namespace {

using namespace std::chrono_literals;

constexpr auto kTick = 250ms;

constexpr const char* kNotKept = "Play goes on, but your games are not kept from here on (--pgn FILE saves them).";

enum class Leaving { Quit, EndOfInput, Interrupted };  // how often the ticker and the clock are looked at

std::string help_text(const std::string& persona) {
  return fmt::format(
      "Moves: SAN in any case where it is clear (Nf3, nf3, exd5, O-O, e8=Q) or\n"
      "coordinates (g1f3). While {} thinks, Enter makes it move now.\n"
      "  moves   your legal moves        hint    the engine's best move for you\n"
      "  undo    take back your move     draw    offer a draw\n"
      "  resign  give the game up        new     a new game (new black: play black)\n"
      "  flip    turn the board round    board   show the board again\n"
      "  review  how each move scored    quit    leave (--pgn saves the games)\n",
      persona);
}

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

std::string seconds(milliseconds ms) {
  if (ms.count() % 1000 == 0) return fmt::format("{} s", ms.count() / 1000);
  return fmt::format("{:.1f} s", static_cast<double>(ms.count()) / 1000);
}

class Session {
 public:
  Session(const TerminalPlay& options, LineInput& in, std::ostream& out)
      : options_(options), setup_(options.game), input_(in), out_(out) {
    if (!options.pgn_file.empty()) file_.emplace(options.pgn_file, options.pgn_mode);
    if (options.db) {
      try {
        store_.emplace(*options.db);
      } catch (const StoreError& e) {
        out_ << wrapped(std::string(e.what()) + " " + kNotKept) << '\n';
      }
    }
  }

  // What the file could not take, once the session is over.
  std::optional<std::string> unsaved() const {
    if (!file_ || written_ == games_.size()) return std::nullopt;
    const std::size_t n = games_.size() - written_;
    return fmt::format("{} game{} not saved: {}", n, n == 1 ? "" : "s", save_error_);
  }

  Leaving run() {
    start();
    for (;;) {
      if (input_.interrupted()) return leave(Leaving::Interrupted);
      const HumanGame::View view = game_->view();
      keep(view.record);
      if (view.record.outcome && !finished_) finish(view);
      if (game_->personas_turn()) {
        persona_turn();
        continue;
      }
      const auto line = read_command(view);
      if (!line) {
        if (input_.interrupted()) return leave(Leaving::Interrupted);
        if (input_.ended()) return leave(Leaving::EndOfInput);
        continue;  // the clock ran out meanwhile
      }
      if (!command(strip(*line))) return leave(Leaving::Quit);
    }
  }

 private:
  void start() {
    game_ = std::make_unique<HumanGame>(setup_);
    finished_ = false;
    archived_ = false;
    black_view_ = setup_.human_side == common::BLACK;
    drawn_.clear();
    undos_ = hints_ = 0;
    if (store_) recorder_.emplace(*store_, person_game_header(*game_, "play"));
    out_ << wrapped(fmt::format("You play {} against {} ({}); {}. Type 'help' for the commands.",
                                setup_.human_side == common::WHITE ? "white" : "black", game_->persona_name(),
                                strength_label(game_->persona_name(), game_->persona_strength()), time_terms()))
         << '\n';
    if (!game_->personas_turn()) draw(true);
  }

  std::string time_terms() const {
    if (const auto& clock = game_->clock()) return fmt::format("each side has a clock of {}", clock->text());
    if (const auto limit = game_->think_limit())
      return fmt::format("{} thinks at most {} a move", game_->persona_name(), seconds(*limit));
    return fmt::format("{} thinks without a time limit", game_->persona_name());
  }

  // The board and the panel beside it; only when the position changed, unless `always`.
  void draw(bool always = false) {
    const HumanGame::View v = game_->view();
    if (!always && drawn_ == v.fen) return;
    drawn_ = v.fen;
    const std::string last = v.record.moves.empty() ? "" : v.record.moves.back()->to_coord();
    const bool human_white = setup_.human_side == common::WHITE;
    std::vector<std::string> panel{
        fmt::format("You ({}) vs {} ({})", human_white ? "white" : "black", game_->persona_name(),
                    strength_label(game_->persona_name(), game_->persona_strength()))};
    if (v.white_left)
      panel.push_back(fmt::format("Clocks: you {}, {} {}", clock_text(*(human_white ? v.white_left : v.black_left)),
                                  game_->persona_name(), clock_text(*(human_white ? v.black_left : v.white_left))));
    else
      panel.push_back(time_terms());
    panel.emplace_back();
    for (auto& row : move_rows(v.record, 7)) panel.push_back(std::move(row));
    panel.resize(10);
    panel.push_back("'help' lists the commands");
    out_ << '\n' << side_by_side(board_lines(v.fen, black_view_, last), panel, 24) << std::flush;
  }

  // The next line typed; none when the input ended or was interrupted, or the
  // human's clock ran out while they thought.
  std::optional<std::string> read_command(const HumanGame::View& view) {
    if (view.record.outcome) {
      out_ << "Next ('new', 'review', 'quit'): " << std::flush;
    } else if (view.white_left) {
      const auto mine = setup_.human_side == common::WHITE ? view.white_left : view.black_left;
      out_ << fmt::format("Your move ({}): ", clock_text(*mine)) << std::flush;
    } else {
      out_ << "Your move: " << std::flush;
    }
    for (;;) {
      if (auto line = input_.next(kTick)) return line->text;
      if (input_.interrupted() || input_.ended()) {
        out_ << '\n';
        return std::nullopt;
      }
      if (game_->flag_check()) {
        out_ << "\nYour time ran out.\n";
        return std::nullopt;
      }
    }
  }

  // False when the person leaves.
  bool command(const std::string& text) {
    const auto space = text.find(' ');
    const std::string word = lower(text.substr(0, space));
    const std::string arg = space == std::string::npos ? "" : lower(strip(text.substr(space + 1)));
    try {
      if (word == "quit" || word == "exit") return false;
      if (word.empty() || word == "help") out_ << help_text(game_->persona_name());
      else if (word == "new") new_game(arg);
      else if (word == "flip") black_view_ = !black_view_, draw(true);
      else if (word == "board") draw(true);
      else if (word == "review") review();
      else if (finished_) out_ << "The game is over: 'new' starts another, 'review' goes through it, 'quit' leaves.\n";
      else if (word == "moves") out_ << wrapped("Legal moves: " + legal_list(game_->view().legal)) << '\n';
      else if (word == "hint") hint();
      else if (word == "undo") undo();
      else if (word == "resign") game_->resign();
      else if (word == "draw") offer_draw();
      else play(text);
    } catch (const UserError& e) {
      out_ << wrapped(sentence(e.what())) << '\n';
    } catch (const std::exception& e) {
      out_ << wrapped(describe_failure("the adviser was looking at your game", e, {})) << '\n';
    }
    return true;
  }

  void hint() {
    const MoveJudgement best = game_->hint();
    ++hints_;
    out_ << fmt::format("Hint: {} ({})\n", best.best_san, best.best.text());
  }

  void undo() {
    game_->undo();
    ++undos_;
    out_ << "Took back your last move and " << game_->persona_name() << "'s reply.\n";
    draw(true);
  }

  void offer_draw() {
    const DrawAnswer answer = game_->offer_draw();
    out_ << (answer.accepted ? game_->persona_name() + " accepts the draw.\n"
                             : game_->persona_name() + " declines the draw: " + answer.reason + ".\n");
  }

  void play(const std::string& text) {
    board::MovePtr move;
    try {
      move = game_->read_move(text);
    } catch (const NotNowError&) {
      throw;
    } catch (const UserError& e) {
      throw UserError(std::string(e.what()) + ". Try again ('moves' lists them, 'help' the commands)");
    }
    // The preview only helps: when it fails the move is played all the same.
    try {
      if (const auto judgement = game_->judge(*move)) out_ << wrapped(judgement->text) << '\n';
    } catch (const NotNowError&) {
      throw;
    } catch (const std::exception& e) {
      out_ << wrapped("No preview (" + describe_failure("the adviser was judging your move", e, {}) + ")") << '\n';
    }
    game_->play_human(*move);
  }

  void new_game(const std::string& colour) {
    if (!colour.empty() && colour != "white" && colour != "black")
      throw UserError("'new' takes the colour you play: 'new white' or 'new black'");
    if (!colour.empty()) setup_.human_side = colour == "white" ? common::WHITE : common::BLACK;
    archive();
    save();
    left();
    start();
  }

  void review() {
    if (!options_.review) throw NotAvailableError("reviews are not available here");
    if (game_->view().record.moves.empty()) throw UserError("there are no moves to review yet");
    out_ << "Reviewing every move...\n" << std::flush;
    out_ << options_.review(*game_);
  }

  void persona_turn();
  void ticker(const HumanGame::View& view);

  void finish(const HumanGame::View& view) {
    finished_ = true;
    draw();
    out_ << wrapped(fmt::format("Game over: {} ({}){}", view.record.outcome->result,
                                termination_text(view.record.outcome->why),
                                view.record.final_comment.empty() ? "" : ". " + view.record.final_comment))
         << '\n';
    archive();
    save();
    out_ << "'new' plays another game, 'review' goes through this one, 'quit' leaves.\n";
  }

  // The current game joins the games of the session, once.
  void archive() {
    if (archived_ || (game_->view().record.moves.empty() && !finished_)) return;
    archived_ = true;
    games_.push_back(to_pgn(game_->pgn("ai-players play", "?", static_cast<int>(games_.size()) + 1)));
  }

  // The games done with and not written yet go to the file, each whole; what
  // the file refuses is tried again with the next game.
  void save() {
    if (!file_ || written_ == games_.size()) return;
    std::string text;
    for (std::size_t i = written_; i < games_.size(); ++i) text += games_[i];
    try {
      file_->append(text);
      written_ = games_.size();
      out_ << "The game is saved in " << options_.pgn_file << ".\n";
    } catch (const Error& e) {
      save_error_ = e.what();
      out_ << wrapped(sentence(save_error_)) << '\n';
    }
  }

  Leaving leave(Leaving how) {
    if (how == Leaving::Interrupted) out_ << "Interrupted.\n";
    if (how == Leaving::EndOfInput) out_ << "End of input.\n";
    const bool moved = !game_->view().record.moves.empty();
    if (!finished_ && moved) out_ << "The game is left unfinished.\n";
    // A session without a game still leaves its file a game, as played so far.
    if (!archived_ && (moved || games_.empty())) {
      archived_ = true;
      games_.push_back(to_pgn(game_->pgn("ai-players play", "?", static_cast<int>(games_.size()) + 1)));
    }
    save();
    left();
    return how;
  }

  // The game as it stands goes to the database; a database that fails is
  // said once and left, and the game goes on.
  void keep(const PlayedGame& record) {
    stored([&] { recorder_->keep(record, undos_, hints_); });
  }
  void left() {
    keep(game_->view().record);
    stored([&] { recorder_->leave(); });
  }
  template <class F>
  void stored(F f) {
    if (!recorder_) return;
    try {
      f();
    } catch (const StoreError& e) {
      out_ << wrapped(std::string(e.what()) + " " + kNotKept) << '\n';
      recorder_.reset();
      store_.reset();
    }
  }

  const TerminalPlay& options_;
  HumanGameSetup setup_;
  LineInput& input_;
  std::ostream& out_;
  std::unique_ptr<HumanGame> game_;
  std::optional<PgnFile> file_;
  std::optional<GameStore> store_;
  std::optional<GameRecorder> recorder_;  // the current game's, while the store works
  int undos_ = 0, hints_ = 0;             // in the current game
  std::vector<std::string> games_;  // the PGN of every game of the session that is done with
  std::size_t written_ = 0;         // how many of them the file holds
  std::string save_error_;          // why the file refused the last of them
  std::string drawn_;               // the position last drawn
  bool black_view_ = false;
  bool finished_ = false;  // the current game's end was said
  bool archived_ = false;
};

void Session::persona_turn() {
  const auto started = std::chrono::steady_clock::now();
  auto reply = std::async(std::launch::async, [this] {
    struct Wake {  // the loop below waits on the input: the reply's end, however it ends, wakes it
      LineInput& input;
      ~Wake() { input.wake(); }
    } wake{input_};
    return game_->reply();
  });
  bool hurried = false;
  while (reply.wait_for(0ms) != std::future_status::ready) {
    if (options_.live) ticker(game_->view());
    if (input_.interrupted()) {
      game_->move_now();
      if (reply.wait_for(3s) != std::future_status::ready) game_->abandon();
      break;
    }
    if (hurried) {
      reply.wait_for(kTick);
      continue;
    }
    // A line typed while it thinks makes it move now; a command typed then waits its turn.
    if (auto line = input_.next_since(started, kTick)) {
      hurried = true;
      game_->move_now();
      if (!strip(line->text).empty()) input_.put_back(std::move(*line));
    }
  }
  if (options_.live) out_ << fmt::format("\r{:79}\r", "");
  const auto move = reply.get();
  if (!move) return;
  if (!move->note.empty()) out_ << wrapped(move->note) << '\n';
  std::string after = move->thought >= 100ms ? seconds(move->thought) : "";
  if (move->cut_short) after += after.empty() ? "cut short" : ", cut short";
  out_ << fmt::format("{} plays {}{}\n", game_->persona_name(), move->san, after.empty() ? "" : " (" + after + ")");
  if (!game_->view().record.outcome) draw();
}

void Session::ticker(const HumanGame::View& view) {
  std::string line = fmt::format("{} is thinking: {}", game_->persona_name(), seconds(view.thinking_for));
  if (view.engine.searches > 1) line += fmt::format(", search {}", view.engine.searches);
  if (view.engine.depth > 0) line += fmt::format(", depth {}", view.engine.depth);
  line += " (Enter: move now)";
  out_ << fmt::format("\r{:79.79}", line) << std::flush;
}

}  // namespace

void play_in_terminal(const TerminalPlay& options, LineInput& in, std::ostream& out) {
  LibraryOutput output(options.verbose);
  try {
    Session session(options, in, out);
    session.run();
    if (const auto lost = session.unsaved()) throw Error(*lost);
  } catch (const EngineError& e) {
    throw std::runtime_error(describe_failure("the game's engines were starting", e, output.diagnostics()));
  }
}

}  // namespace ai_players::app
