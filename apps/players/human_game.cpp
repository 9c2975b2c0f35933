#include "players/human_game.h"

#include <algorithm>
#include <cctype>

#include <fmt/format.h>

#include "ai_players/core/text.h"
#include "game/move_reason.h"
#include "game/user_error.h"

namespace ai_players::app {

using SteadyClock = std::chrono::steady_clock;

namespace {

std::string upper_first(std::string text) {
  if (!text.empty()) text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
  return text;
}

// The legal moves `text` names when the case of its letters is not taken at
// its word: "NF3", "nf3", "E2E4", "o-o". A text whose case picks one move
// ("Bxc3") is read as typed.
board::MoveList typed_moves(const board::MoveList& legal, const std::string& text) {
  const std::string low = lower(text);
  for (const auto& m : legal)
    if (m->to_coord() == low) return {m};  // coordinates, in either case
  const auto exact = board::find_move(legal, text);
  if (exact && text != low) return {exact};
  std::string high = low;
  for (char& c : high) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  board::MoveList found;
  for (const std::string& variant : {text, low, upper_first(low), high}) {
    const auto m = board::find_move(legal, variant);
    const auto same = [&](const board::MovePtr& f) { return f->to_coord() == m->to_coord(); };
    if (m && std::none_of(found.begin(), found.end(), same)) found.push_back(m);
  }
  return found;
}

}  // namespace

HumanGame::HumanGame(HumanGameSetup setup)
    : setup_(std::move(setup)), state_(setup_.start_fen, setup_.clock, true), turn_started_(SteadyClock::now()) {
  for (const std::string& text : setup_.moves) {
    if (state_.over()) throw UserError(fmt::format("the game was over before its move {}", echoed(text)));
    const auto typed = typed_moves(state_.legal(), text);
    if (typed.size() != 1) throw UserError(fmt::format("{} is not a legal move in the game", echoed(text)));
    state_.play(*typed[0]);
  }
  const PersonaId id = resolve_persona(setup_.persona);
  player_.name = id.name;
  PersonaSettings watched = setup_.settings;
  watched.launch = EngineWatch::watched(watch_, watched.launch);
  player_.persona = make_persona(id, watched);
  if (setup_.human_pace) pace_.emplace(setup_.pace_seed);
  if (setup_.preview) {
    adviser_ = std::make_unique<Verevovera>(engine_config(setup_.settings, false));
    adviser_->engine_timeout = setup_.settings.engine_timeout;
  }
}

HumanGame::~HumanGame() = default;

milliseconds HumanGame::turn_time() const {
  return std::chrono::duration_cast<milliseconds>(SteadyClock::now() - turn_started_);
}

HumanGame::View HumanGame::view() const {
  const std::lock_guard lock(mutex_);
  View v;
  v.record = state_.record();
  v.fen = state_.position().export_FEN();
  v.side_to_move = state_.side_to_move();
  v.thinking = thinking_;
  if (thinking_) {
    v.thinking_for = turn_time();
    v.engine = watch_->read();
  }
  if (!state_.over() && !thinking_ && v.side_to_move == setup_.human_side) v.legal = state_.legal();
  v.white_left = state_.time_left(common::WHITE);
  v.black_left = state_.time_left(common::BLACK);
  v.clock_runs = state_.clock_runs();
  if (v.clock_runs && !state_.over()) {
    auto& running = v.side_to_move == common::WHITE ? v.white_left : v.black_left;
    running = std::max(milliseconds(0), *running - turn_time());
  }
  return v;
}

bool HumanGame::flag_check() {
  const std::lock_guard lock(mutex_);
  if (state_.over() || thinking_ || state_.side_to_move() != setup_.human_side || !state_.clock_runs()) return false;
  if (turn_time() <= *state_.time_left(setup_.human_side)) return false;
  state_.charge(turn_time());  // ends the game on time
  return true;
}

void HumanGame::require_humans_turn() const {
  if (state_.over()) throw NotNowError("the game is over");
  if (thinking_) throw NotNowError(player_.name + " is still choosing its move");
  if (state_.side_to_move() != setup_.human_side) throw NotNowError("it is not your turn");
}

board::MovePtr HumanGame::read_move(const std::string& text) const {
  const std::lock_guard lock(mutex_);
  require_humans_turn();
  const board::MoveList found = typed_moves(state_.legal(), text);
  if (found.size() == 1) return found.front();
  if (found.size() > 1)
    throw UserError(fmt::format("{} could be {} or {}: write a piece's letter in capitals (B for a bishop)",
                                echoed(text), found[0]->to_SAN(state_.legal()),
                                found[1]->to_SAN(state_.legal())));
  if (const std::string why = why_not_legal(state_.position(), text); !why.empty())
    throw UserError(fmt::format("{} is not legal: {}", echoed(text), why));
  throw UserError(fmt::format("{} is not a move here (write moves as Nf3, exd5, O-O, e8=Q or e2e4)", echoed(text)));
}

GameState HumanGame::state_on_humans_turn() const {
  const std::lock_guard lock(mutex_);
  require_humans_turn();
  return state_;
}

std::optional<MoveJudgement> HumanGame::judge(const board::Move& move) {
  if (!adviser_) return std::nullopt;
  const GameState before = state_on_humans_turn();
  const std::lock_guard engines(engines_);
  return judge_move(*adviser_, before, move, setup_.preview_depth);
}

MoveJudgement HumanGame::hint() {
  const GameState now = state_on_humans_turn();
  if (!adviser_) throw NotAvailableError("hints need the adviser's engine, which --no-preview switched off");
  const std::lock_guard engines(engines_);
  return best_move(*adviser_, now, setup_.preview_depth);
}

void HumanGame::play_human(const board::Move& move) {
  const std::lock_guard lock(mutex_);
  require_humans_turn();
  if (!state_.charge(turn_time())) return;  // the flag fell before the move
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

DrawAnswer answer_draw(Score score, std::size_t plies) {
  const int cp = score.value();
  if (cp <= -kDrawWelcomeMargin) return {true, score, ""};
  if (cp >= kDrawDeclineMargin) return {false, score, "it thinks it is better"};
  if (plies < kDrawEarliestPly) return {false, score, "it is too early; it takes a draw in a level game from move 30 on"};
  return {true, score, ""};
}

DrawAnswer HumanGame::offer_draw() {
  if (!adviser_) throw NotAvailableError("a draw offer needs the adviser's engine, which --no-preview switched off");
  std::optional<GameState> now;
  {
    const std::lock_guard lock(mutex_);
    require_humans_turn();
    now = state_;
  }
  MoveJudgement best;
  {
    const std::lock_guard engines(engines_);
    best = best_move(*adviser_, *now, setup_.preview_depth);
  }
  const DrawAnswer answer = answer_draw(-best.best, now->record().moves.size());
  const std::lock_guard lock(mutex_);
  if (!answer.accepted) return answer;
  if (state_.over() || state_.record().moves.size() != now->record().moves.size())
    return DrawAnswer{false, answer.score, "the game has moved on"};
  state_.end(Outcome{"1/2-1/2", Termination::Agreement}, player_.name + " accepts your draw offer");
  return answer;
}

bool HumanGame::personas_turn() const {
  const std::lock_guard lock(mutex_);
  return !state_.over() && !thinking_ && state_.side_to_move() != setup_.human_side;
}

std::optional<PersonaMove> HumanGame::reply() {
  board::MoveList history, legal;
  std::optional<board::Board> before;
  std::optional<SteadyClock::time_point> deadline;
  const auto started = SteadyClock::now();
  {
    const std::lock_guard lock(mutex_);
    before = state_.position();
    if (state_.over() || thinking_ || state_.side_to_move() == setup_.human_side)
      throw NotNowError("it is not " + player_.name + "'s turn");
    thinking_ = true;
    history = state_.record().moves;
    legal = state_.legal();
    deadline = state_.move_deadline(started, setup_.think_limit);
    turn_started_ = started;
    watch_->reset();
  }
  std::optional<SafeReply> answer;
  std::string failure;
  try {
    const std::lock_guard engines(engines_);
    answer = ask_persona(player_, history, legal, setup_.start_fen, deadline);
  } catch (const std::exception& e) {
    failure = e.what();
  }
  if (answer && pace_) keep_pace(*before, *answer->move, history.empty() ? nullptr : history.back(), started, deadline);
  const auto thought = std::chrono::duration_cast<milliseconds>(SteadyClock::now() - started);
  const std::lock_guard lock(mutex_);
  player_.persona->clear_interrupt();  // a "move now" that came late must not cut the next reply
  pace_cut_ = false;
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

void HumanGame::keep_pace(const board::Board& before, const board::Move& reply, const board::MovePtr& last,
                          SteadyClock::time_point started, std::optional<SteadyClock::time_point> deadline) {
  const bool from_start = setup_.start_fen == common::FEN_New_Game;
  auto until = started + pace_->time_for(before, reply, last.get(), player_.strength(), from_start);
  if (deadline) until = std::min(until, *deadline);
  std::unique_lock lock(mutex_);
  pace_cv_.wait_until(lock, until, [this] { return pace_cut_; });
}

// Also before the reply has begun: the host asks as soon as it is the
// persona's turn, and the reply's thread may not have started yet.
void HumanGame::move_now() {
  const std::lock_guard lock(mutex_);
  if (state_.over() || state_.side_to_move() == setup_.human_side) return;
  player_.persona->interrupt();
  pace_cut_ = true;
  pace_cv_.notify_all();
}

void HumanGame::abandon() {
  player_.persona->abandon();
  if (adviser_) adviser_->abandon();
  const std::lock_guard lock(mutex_);
  pace_cut_ = true;
  pace_cv_.notify_all();
}

PgnGame HumanGame::pgn(const std::string& event, const std::string& site, int round) const {
  const std::lock_guard lock(mutex_);
  GameTags tags;
  tags.event = event;
  tags.site = site;
  tags.round = std::to_string(round);
  const bool human_white = setup_.human_side == common::WHITE;
  (human_white ? tags.white : tags.black) = kHumanName;
  (human_white ? tags.black : tags.white) = player_.name;
  (human_white ? tags.black_elo : tags.white_elo) = player_.strength();
  tags.clock = setup_.clock;
  return pgn_of(state_.record(), tags);
}

}  // namespace ai_players::app
