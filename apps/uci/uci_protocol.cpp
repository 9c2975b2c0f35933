#include "uci/uci_protocol.h"

#include <algorithm>
#include <cctype>
#include <iterator>

#include <fmt/format.h>

#include "ai_players/core/score.h"
#include "ai_players/core/text.h"
#include "ai_players/engine/uci_tokens.h"
#include "game/numbers.h"
#include "game/user_error.h"

namespace ai_players::app {
namespace {

using engine::split_tokens;

std::string joined(const std::vector<std::string>& w, std::size_t from, std::size_t to) {
  std::string out;
  for (std::size_t i = from; i < to && i < w.size(); ++i) out += (out.empty() ? "" : " ") + w[i];
  return out;
}

std::size_t index_or_end(const std::vector<std::string>& w, const char* word) {
  return static_cast<std::size_t>(std::find(w.begin(), w.end(), word) - w.begin());
}

}  // namespace

std::string uci_safe_text(std::string_view text) {
  static const std::pair<const char*, const char*> plain[] = {
      {"depth", "plies"},        {"seldepth", "sel-plies"}, {"score", "eval"},        {"cp", "centipawns"},
      {"mate", "mating"},        {"pv", "line"},            {"multipv", "lines"},     {"nodes", "positions"},
      {"nps", "speed"},          {"time", "duration"},      {"currmove", "move-now"}, {"hashfull", "hash-use"},
      {"bestmove", "best-move"}, {"ponder", "pondering"},   {"lowerbound", "at-least"}, {"upperbound", "at-most"},
      {"refutation", "answer"},  {"currline", "line-now"},  {"wdl", "odds"},           {"string", "text"}};
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t j = i;
    while (j < text.size() && std::isalnum(static_cast<unsigned char>(text[j]))) ++j;
    if (j == i) {
      out += text[i] == '\n' || text[i] == '\r' ? ' ' : text[i];
      ++i;
      continue;
    }
    const std::string word(text.substr(i, j - i));
    const auto* found = std::find_if(std::begin(plain), std::end(plain), [&](const auto& p) { return word == p.first; });
    out += found == std::end(plain) ? word : found->second;
    i = j;
  }
  return out;
}

std::optional<ReplyTimes> reply_times(const GoRequest& go, bool engine_keeps_time) {
  constexpr std::chrono::milliseconds reserve{150};
  if (go.infinite || go.ponder) return std::nullopt;
  const auto budget = move_budget(go.clock);
  if (!budget) return std::nullopt;
  auto limit = *budget;
  if (engine_keeps_time && !go.clock.movetime && go.clock.remaining)
    limit = std::max(limit, (*go.clock.remaining - go.clock.overhead) / 2);
  return ReplyTimes{limit - std::min(reserve, limit / 4), limit};
}

UciCommand split_command(std::string_view line) {
  const auto w = split_tokens(line);
  if (w.empty()) return {};
  const auto first = line.find(w[0]);
  const auto rest = w.size() > 1 ? line.find(w[1], first + w[0].size()) : std::string_view::npos;
  return {w[0], rest == std::string_view::npos ? std::string() : std::string(line.substr(rest))};
}

UciGame parse_position(std::string_view args) {
  const auto w = split_tokens(args);
  const std::size_t moves_at = index_or_end(w, "moves");
  UciGame game;
  if (w.empty()) throw UserError("position needs startpos or fen");
  if (w[0] == "fen") {
    if (moves_at < 2) throw UserError("position fen needs a FEN");
    game.start_fen = joined(w, 1, moves_at);
    try {
      game.position = board::Board(game.start_fen);
    } catch (const board::FenError& e) {
      throw UserError(fmt::format("bad FEN {}: {}", echoed(game.start_fen), e.what()));
    }
  } else if (w[0] != "startpos" || moves_at != 1) {
    throw UserError("position needs startpos or fen <FEN>, then optionally moves");
  }
  for (std::size_t i = moves_at + 1; i < w.size(); ++i) {
    const board::MovePtr played = board::find_move(game.position.legal_moves(), w[i]);
    if (!played || played->to_coord() != w[i])
      throw UserError(fmt::format("illegal move {} in {}", w[i].substr(0, 10), game.position.export_FEN()));
    game.position.make_internal_move(*played);
    game.history.push_back(played);
  }
  return game;
}

GoRequest parse_go(std::string_view args, int side_to_move) {
  const auto w = split_tokens(args);
  GoRequest go;
  const bool white = side_to_move == common::WHITE;
  const auto ms = [](const std::string& v, const std::string& what) {
    // GUIs send negative times when a clock has run out; count them as nothing left.
    return std::chrono::milliseconds(std::max(0LL, read_whole(v, what, -(1LL << 40), 1LL << 40)));
  };
  for (std::size_t i = 0; i < w.size(); ++i) {
    const std::string& key = w[i];
    static const std::vector<std::string> limit_keys = {"wtime", "btime", "winc",  "binc",    "movestogo",
                                                        "depth", "nodes", "mate", "movetime"};
    if (i + 1 < w.size() && std::find(limit_keys.begin(), limit_keys.end(), key) != limit_keys.end())
      go.limits += (go.limits.empty() ? "" : " ") + key + " " + w[i + 1];
    if (key == "infinite") go.infinite = true;
    else if (key == "ponder") go.ponder = true;
    else if (key == "searchmoves") break;  // the moves to the end of the line; a persona chooses among all
    else if (i + 1 >= w.size()) continue;
    else if (key == (white ? "wtime" : "btime")) go.clock.remaining = ms(w[++i], key);
    else if (key == (white ? "winc" : "binc")) go.clock.increment = ms(w[++i], key);
    else if (key == "movetime") go.clock.movetime = ms(w[++i], key);
    else if (key == "movestogo") {
      const auto n = static_cast<int>(read_whole(w[++i], key, 0, 10000));
      if (n > 0) go.clock.moves_to_go = n;
    } else if (key == "depth") go.depth = static_cast<int>(read_whole(w[++i], key, 1, 99));
    else if (key == "nodes") go.nodes = read_whole(w[++i], key, 1, 1LL << 50);
    else if (key == "mate") go.mate = static_cast<int>(read_whole(w[++i], key, 1, 99));
    else if (key == "wtime" || key == "btime" || key == "winc" || key == "binc") ++i;  // the other side's clock
  }
  return go;
}

std::vector<std::string> legal_prefix(const board::Board& position, const std::vector<std::string>& pv) {
  std::vector<std::string> out;
  board::Board after = position;
  for (const std::string& coord : pv) {
    const board::MovePtr move = board::find_move(after.legal_moves(), coord);
    if (!move || move->to_coord() != coord) break;
    after.make_internal_move(*move);
    out.push_back(coord);
  }
  return out;
}

std::string result_info(const board::Board& position, const std::string& move, const std::optional<Analysis>& line) {
  const std::vector<std::string> pv = line ? legal_prefix(position, line->pv_list) : std::vector<std::string>{};
  if (pv.empty() || pv.front() != move) return "info pv " + move;
  const Score score(line->score);
  return fmt::format("info depth {} score {} {} pv {}", line->depth, score.is_mate() ? "mate" : "cp",
                     score.is_mate() ? score.mate() : score.value(), joined(pv, 0, pv.size()));
}

std::string with_movetime(std::string_view limits, std::chrono::milliseconds movetime) {
  auto w = split_tokens(limits);
  for (std::size_t i = 0; i + 1 < w.size(); ++i)
    if (w[i] == "movetime") w[i + 1] = std::to_string(movetime.count());
  return joined(w, 0, w.size());
}

std::string option_line(const UciOption& o) {
  switch (o.kind) {
    case UciOption::Kind::Check: return fmt::format("option name {} type check default {}", o.name, o.value);
    case UciOption::Kind::Spin:
      return fmt::format("option name {} type spin default {} min {} max {}", o.name, o.value, o.min, o.max);
    case UciOption::Kind::Combo: {
      std::string line = fmt::format("option name {} type combo default {}", o.name, o.value);
      for (const auto& v : o.vars) line += " var " + v;
      return line;
    }
    case UciOption::Kind::String: break;
  }
  return fmt::format("option name {} type string default {}", o.name, o.value.empty() ? "<empty>" : o.value);
}

SetOption parse_setoption(std::string_view args) {
  const auto w = split_tokens(args);
  if (w.empty() || w[0] != "name") throw UserError("setoption needs: name <option> value <value>");
  const std::size_t value_at = index_or_end(w, "value");
  return {joined(w, 1, value_at), joined(w, value_at + 1, w.size())};
}

const UciOption* find_option(const std::vector<UciOption>& options, const std::string& name) {
  for (const auto& o : options)
    if (lower(o.name) == lower(name)) return &o;
  return nullptr;
}

std::string checked_value(const UciOption& o, const std::string& value) {
  switch (o.kind) {
    case UciOption::Kind::Check:
      if (lower(value) == "true" || lower(value) == "false") return lower(value);
      throw UserError(fmt::format("{} must be true or false, not {}", o.name, echoed(value)));
    case UciOption::Kind::Spin: return std::to_string(read_whole(value, o.name, o.min, o.max));
    case UciOption::Kind::Combo:  // Persona, the one combo, is checked where the persona is built
    case UciOption::Kind::String: break;
  }
  return value == "<empty>" ? std::string() : value;
}

}  // namespace ai_players::app
