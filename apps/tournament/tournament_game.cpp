#include "tournament/tournament_game.h"

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "pgn/game_pgn.h"

namespace ai_players::app {

namespace {

// Thrown by a mover once the judge has spoken, to end the game there.
struct Adjudicated : MoverFailure {
  Adjudicated() : MoverFailure("adjudicated") {}
};

}  // namespace

PgnGame play_tournament_game(const GameTerms& terms, const Mover& white, const Mover& black, const Judge& judge) {
  const std::vector<std::string>& book = terms.opening.moves;
  std::optional<Verdict> verdict;
  Adjudicator adjudicator(terms.adjudication);
  auto with_book = [&](const Mover& mover) {
    return Mover([&book, &verdict, &mover](const MoveRequest& request) {
      if (request.history.size() < book.size()) {
        const std::string& text = book[request.history.size()];
        board::MovePtr move = board::find_move(request.legal, text);  // coordinates or SAN
        if (!move) throw board::IllegalMoveError(fmt::format("the book move {} is not a legal move there", text));
        return MoveReply{move, ""};
      }
      if (verdict) throw Adjudicated();
      return mover(request);
    });
  };
  // The judge looks at every position from the end of the opening on; its
  // time is not on the players' clocks.
  MoveObserver observer;
  if (judge)
    observer = [&](const PlayedGame& game) {
      if (!verdict && game.moves.size() >= book.size())
        verdict = adjudicator.add(static_cast<int>(game.moves.size()), judge(game.start_fen, game.moves));
    };
  const std::string fen = terms.opening.fen.empty() ? std::string(common::FEN_New_Game) : terms.opening.fen;
  PlayedGame game = play_game(with_book(white), with_book(black),
                              GameSetup{fen, terms.max_plies, terms.clock, std::nullopt}, observer);
  const Termination why = game.outcome->why;
  if (verdict && (why == Termination::Abandoned || why == Termination::Unterminated)) {
    game.outcome = Outcome{verdict->result, Termination::Adjudication};
    game.final_comment = verdict->reason;
  } else if (why == Termination::Unterminated) {
    game.outcome = Outcome{"1/2-1/2", Termination::Adjudication};
    game.final_comment = fmt::format("adjudicated: a draw at the {}-ply limit", terms.max_plies);
  }
  return pgn_of(game, GameTags{terms.event, terms.site, terms.round, terms.white, terms.black, terms.white_elo,
                               terms.black_elo, terms.clock, terms.opening.name, terms.white_search,
                              terms.black_search});
}

namespace {

std::string clock_text(const std::optional<TimeControl>& clock) { return clock ? clock->pgn() : ""; }

}  // namespace

std::string terms_to_json(const GameTerms& t) {
  nlohmann::json j{{"event", t.event},   {"site", t.site},     {"round", t.round},
                   {"white", t.white},   {"black", t.black},   {"opening", t.opening.name},
                   {"fen", t.opening.fen}, {"moves", t.opening.moves}, {"max_plies", t.max_plies},
                   {"clock", clock_text(t.clock)}, {"seed", t.seed}, {"adjudicate", t.adjudicate},
                   {"win_cp", t.adjudication.win_cp}, {"win_plies", t.adjudication.win_plies},
                   {"engine", t.settings.engine.value_or("")},
                   {"engine_timeout_ms", t.settings.engine_timeout ? t.settings.engine_timeout->count() : 0}};
  if (!t.white_search.empty()) j["white_search"] = t.white_search;
  if (!t.black_search.empty()) j["black_search"] = t.black_search;
  if (t.white_elo) j["white_elo"] = *t.white_elo;
  if (t.black_elo) j["black_elo"] = *t.black_elo;
  return j.dump();
}

GameTerms terms_from_json(const std::string& line) {
  try {
    const nlohmann::json j = nlohmann::json::parse(line);
    GameTerms t;
    t.white = j.at("white");
    t.black = j.at("black");
    t.event = j.value("event", t.event);
    t.site = j.value("site", t.site);
    t.round = j.value("round", t.round);
    t.opening.name = j.value("opening", "");
    t.opening.fen = j.value("fen", std::string(common::FEN_New_Game));
    t.opening.moves = j.value("moves", std::vector<std::string>{});
    t.max_plies = j.value("max_plies", 0);
    if (const std::string clock = j.value("clock", ""); !clock.empty()) t.clock = parse_time_control(clock);
    t.seed = j.value("seed", std::uint64_t{0});
    t.adjudicate = j.value("adjudicate", false);
    t.adjudication.win_cp = j.value("win_cp", t.adjudication.win_cp);
    t.adjudication.win_plies = j.value("win_plies", t.adjudication.win_plies);
    if (const std::string engine = j.value("engine", ""); !engine.empty()) t.settings.engine = engine;
    const long long timeout = j.value("engine_timeout_ms", PersonaSettings::kDefaultEngineTimeout.count());
    t.settings.engine_timeout.reset();
    if (timeout > 0) t.settings.engine_timeout = std::chrono::milliseconds(timeout);
    t.white_search = j.value("white_search", "");
    t.black_search = j.value("black_search", "");
    if (j.contains("white_elo")) t.white_elo = j.at("white_elo").get<int>();
    if (j.contains("black_elo")) t.black_elo = j.at("black_elo").get<int>();
    return t;
  } catch (const nlohmann::json::exception& e) {
    throw UserError(std::string("the terms of a game cannot be read: ") + e.what());
  }
}

}  // namespace ai_players::app
