#include "players/human_game.h"

#include <fmt/format.h>

#include "ai_players/core/text.h"

namespace ai_players::app {

using SteadyClock = std::chrono::steady_clock;

HumanGame::HumanGame(HumanGameSetup setup)
    : setup_(std::move(setup)), state_(setup_.start_fen, setup_.clock), turn_started_(SteadyClock::now()) {
  player_.name = canonical_persona_name(setup_.persona);
  player_.persona = make_persona(player_.name, setup_.settings);
  if (setup_.preview) {
    adviser_ = std::make_unique<Verevovera>(engine_config(setup_.settings, false));
    adviser_->engine_timeout = setup_.settings.engine_timeout;
  }
}

HumanGame::~HumanGame() = default;

HumanGame::View HumanGame::view() const {
  const std::lock_guard lock(mutex_);
  View v;
  v.record = state_.record();
  v.fen = state_.position().export_FEN();
  v.side_to_move = state_.side_to_move();
  v.thinking = thinking_;
  if (!state_.over() && !thinking_ && v.side_to_move == setup_.human_side) v.legal = state_.legal();
  v.white_left = state_.time_left(common::WHITE);
  v.black_left = state_.time_left(common::BLACK);
  return v;
}

void HumanGame::require_humans_turn() const {
  if (state_.over()) throw NotNowError("the game is over");
  if (thinking_) throw NotNowError(player_.name + " is still choosing its move");
  if (state_.side_to_move() != setup_.human_side) throw NotNowError("it is not your turn");
}

board::MovePtr HumanGame::read_move(const std::string& text) const {
  const std::lock_guard lock(mutex_);
  require_humans_turn();
  if (const auto move = board::find_move(state_.legal(), text)) return move;
  try {
    state_.position().parse_move(text);  // says why not
  } catch (const board::IllegalMoveError& e) {
    throw UserError(fmt::format("{} is not a legal move here: {}", quoted_excerpt(text, 100), e.what()));
  }
  throw UserError(fmt::format("{} is not a legal move here", quoted_excerpt(text, 100)));
}

std::optional<MoveJudgement> HumanGame::judge(const board::Move& move) {
  if (!adviser_) return std::nullopt;
  std::optional<GameState> before;
  {
    const std::lock_guard lock(mutex_);
    require_humans_turn();
    before = state_;
  }
  const std::lock_guard engines(engines_);
  return judge_move(*adviser_, *before, move, setup_.preview_depth);
}

MoveJudgement HumanGame::hint() {
  std::optional<GameState> now;
  {
    const std::lock_guard lock(mutex_);
    require_humans_turn();
    now = state_;
  }
  if (!adviser_) throw NotAvailableError("hints need the adviser's engine, which this game runs without");
  const std::lock_guard engines(engines_);
  return best_move(*adviser_, *now, setup_.preview_depth);
}

void HumanGame::play_human(const board::Move& move) {
  const std::lock_guard lock(mutex_);
  require_humans_turn();
  const auto spent = std::chrono::duration_cast<milliseconds>(SteadyClock::now() - turn_started_);
  if (!state_.charge(spent)) return;  // the flag fell before the move
  state_.play(move);
  turn_started_ = SteadyClock::now();
}

void HumanGame::undo() {
  const std::lock_guard lock(mutex_);
  if (thinking_) throw NotNowError(player_.name + " is still choosing its move");
  if (state_.over()) throw NotNowError("the game is over; start a new one");
  const auto& moves = state_.record().moves;
  const int first_mover = board::Board(state_.record().start_fen).side_to_move;
  std::optional<std::size_t> last_own;
  for (std::size_t i = 0; i < moves.size(); ++i)
    if ((i % 2 == 0 ? first_mover : -first_mover) == setup_.human_side) last_own = i;
  if (!last_own) throw UserError("there is no move of yours to take back");
  state_.take_back(moves.size() - *last_own);
  turn_started_ = SteadyClock::now();
}

void HumanGame::resign() {
  const std::lock_guard lock(mutex_);
  if (state_.over()) throw NotNowError("the game is over");
  if (thinking_) throw NotNowError(player_.name + " is still choosing its move");
  state_.end(Outcome{win_for(-setup_.human_side), Termination::Resignation},
             setup_.human_side == common::WHITE ? "White resigns" : "Black resigns");
}

bool HumanGame::personas_turn() const {
  const std::lock_guard lock(mutex_);
  return !state_.over() && !thinking_ && state_.side_to_move() != setup_.human_side;
}

std::optional<PersonaMove> HumanGame::reply() {
  board::MoveList history, legal;
  std::optional<SteadyClock::time_point> deadline;
  const auto started = SteadyClock::now();
  {
    const std::lock_guard lock(mutex_);
    if (state_.over() || thinking_ || state_.side_to_move() == setup_.human_side)
      throw NotNowError("it is not " + player_.name + "'s turn");
    thinking_ = true;
    history = state_.record().moves;
    legal = state_.legal();
    deadline = state_.move_deadline(started, setup_.think_limit);
  }
  std::optional<SafeReply> answer;
  std::string failure;
  try {
    const std::lock_guard engines(engines_);
    answer = ask_persona(player_, history, legal, setup_.start_fen, deadline);
  } catch (const std::exception& e) {
    failure = e.what();
  }
  const auto thought = std::chrono::duration_cast<milliseconds>(SteadyClock::now() - started);
  const std::lock_guard lock(mutex_);
  thinking_ = false;
  turn_started_ = SteadyClock::now();
  if (!answer) {
    state_.end(Outcome{"*", Termination::Abandoned}, player_.name + " could not move: " + failure);
    return std::nullopt;
  }
  if (!state_.charge(thought)) return std::nullopt;
  PersonaMove move{answer->move->to_SAN(legal), answer->move->to_coord(), answer->note, answer->cut_short, thought};
  state_.play(*answer->move, answer->note);
  return move;
}

void HumanGame::move_now() { player_.persona->interrupt(); }

void HumanGame::abandon() {
  player_.persona->abandon();
  if (adviser_) adviser_->abandon();
}

PgnGame HumanGame::pgn(const std::string& event, const std::string& site) const {
  const std::lock_guard lock(mutex_);
  GameTags tags;
  tags.event = event;
  tags.site = site;
  tags.round = "1";
  const bool human_white = setup_.human_side == common::WHITE;
  (human_white ? tags.white : tags.black) = kHumanName;
  (human_white ? tags.black : tags.white) = player_.name;
  (human_white ? tags.black_elo : tags.white_elo) = player_.strength();
  tags.clock = setup_.clock;
  return pgn_of(state_.record(), tags);
}

}  // namespace ai_players::app
