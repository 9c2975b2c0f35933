#include "uci_session.h"

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <sstream>
#include <stdexcept>

#include <fmt/format.h>

#include "ai_players/engine/engine_config.h"
#include "ai_players/engine/uci_tokens.h"
#include "library_output.h"

namespace ai_players::app {
namespace {

using engine::split_tokens;

std::string joined(const std::vector<std::string>& w, std::size_t from, std::size_t to) {
  std::string out;
  for (std::size_t i = from; i < to && i < w.size(); ++i) out += (out.empty() ? "" : " ") + w[i];
  return out;
}

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

}  // namespace

UciGame parse_position(std::string_view args) {
  const auto w = split_tokens(args);
  const auto moves_at = static_cast<std::size_t>(std::find(w.begin(), w.end(), "moves") - w.begin());
  UciGame game;
  if (w.empty()) throw std::invalid_argument("position needs startpos or fen");
  if (w[0] == "fen") {
    if (moves_at < 2) throw std::invalid_argument("position fen needs a FEN");
    game.start_fen = joined(w, 1, moves_at);
    try {
      game.position = board::Board(game.start_fen);
    } catch (const board::FenError& e) {
      throw std::invalid_argument(fmt::format("bad FEN '{}': {}", game.start_fen, e.what()));
    }
  } else if (w[0] != "startpos" || moves_at != 1) {
    throw std::invalid_argument("position needs startpos or fen <FEN>, then optionally moves");
  }
  for (std::size_t i = moves_at + 1; i < w.size(); ++i) {
    board::MovePtr played;
    for (const auto& m : game.position.legal_moves())
      if (m->to_coord() == w[i]) played = m;
    if (!played)
      throw std::invalid_argument(
          fmt::format("illegal move {} in {}", w[i], game.position.export_FEN()));
    game.position.make_internal_move(*played);
    game.history.push_back(played);
  }
  return game;
}

UciSession::UciSession(std::string persona, std::vector<PersonaEntry> entries, Output output)
    : output_(std::move(output)), entries_(std::move(entries)), persona_name_(std::move(persona)) {}

UciSession::~UciSession() { end(); }

void UciSession::send(const std::string& line) {
  if (!ended_) output_(line);
}

void UciSession::info(std::string_view text) {
  std::istringstream in{std::string(text)};
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) send("info string " + line);
}

bool UciSession::handle(std::string_view line) {
  const auto w = split_tokens(line);
  if (w.empty()) return true;
  const std::string& cmd = w[0];
  const std::string_view rest =
      w.size() > 1 ? line.substr(line.find(w[1], line.find(cmd) + cmd.size())) : std::string_view();
  if (cmd == "uci") {
    identify();
  } else if (cmd == "isready") {
    send("readyok");
  } else if (cmd == "ucinewgame") {
    game_ = UciGame{};
    if (persona_ && !busy_) start_new_game(*persona_);
  } else if (cmd == "setoption") {
    set_option(rest);
  } else if (cmd == "position") {
    try {
      game_ = parse_position(rest);
    } catch (const std::invalid_argument& e) {
      info(fmt::format("{}; the position is unchanged", e.what()));
    }
  } else if (cmd == "go") {
    go();
  } else if (cmd == "quit") {
    end();
    return false;
  } else if (cmd == "stop" || cmd == "ponderhit" || cmd == "debug" || cmd == "register") {
    // Nothing to do. A reply cannot be cut short: after stop its bestmove comes when it is ready.
  } else {
    info("unknown command: " + std::string(line));
  }
  return true;
}

void UciSession::identify() {
  const std::string current = wanted_persona_.value_or(persona_name_);
  send("id name " + current);
  send("id author ai_players");
  std::string combo = "option name Persona type combo default " + current;
  bool listed = false;
  for (const auto& e : entries_) {
    if (!e.buildable) continue;
    combo += " var " + e.name;
    listed = listed || e.name == current;
  }
  if (!listed) combo += " var " + current;
  send(combo);
  const auto engine = engine_path_ ? engine_path_ : engine::find_engine(false);
  send("option name Engine type string default " + engine.value_or("<empty>"));
  send("uciok");
}

void UciSession::set_option(std::string_view args) {
  const auto w = split_tokens(args);
  const auto value_at = static_cast<std::size_t>(std::find(w.begin(), w.end(), "value") - w.begin());
  if (w.empty() || w[0] != "name") return info("setoption needs: name <option> value <value>");
  const std::string name = lower(joined(w, 1, value_at));
  const std::string value = joined(w, value_at + 1, w.size());
  const std::string current = wanted_persona_.value_or(persona_name_);
  if (name == "persona") {
    try {
      const std::string canonical = canonical_persona_name(value);
      for (const auto& e : entries_)
        if (e.name == canonical && !e.buildable)
          throw PersonaError(fmt::format("persona '{}' cannot be built", canonical));
      wanted_persona_ = canonical;
    } catch (const PersonaError& e) {
      info(fmt::format("{}; keeping {}", e.what(), current));
    }
  } else if (name == "engine") {
    if (value.empty() || value == "<empty>") {
      engine_path_.reset();
    } else if (::access(value.c_str(), X_OK) != 0) {
      return info(fmt::format("the engine {} is not an executable file; keeping the current one", value));
    } else {
      engine_path_ = value;
    }
    rebuild_ = true;
  } else {
    info("unknown option: " + joined(w, 1, value_at));
  }
}

std::unique_ptr<AI_BASIC> UciSession::build(const std::string& name) {
  // Only called while no reply runs, so the environment is ours to change.
  PersonaSettings settings;
  settings.engine = engine_path_;
  return make_persona(name, settings);
}

bool UciSession::ensure_persona() {
  if (persona_failed_.exchange(false)) persona_.reset();  // its engine may be gone: start afresh
  if (rebuild_) persona_.reset();
  rebuild_ = false;
  if (wanted_persona_) {
    const std::string wanted = *std::exchange(wanted_persona_, std::nullopt);
    try {
      persona_ = build(wanted);
      persona_name_ = wanted;
    } catch (const std::exception& e) {
      info(fmt::format("cannot switch to {}: {}; keeping {}", wanted, e.what(), persona_name_));
    }
  }
  if (!persona_) {
    try {
      persona_ = build(persona_name_);
    } catch (const std::exception& e) {
      info(fmt::format("cannot build {}: {}", persona_name_, e.what()));
      return false;
    }
  }
  return true;
}

void UciSession::go() {
  wait_for_reply();  // a GUI waits for bestmove before the next go; this keeps one reply at a time
  const board::MoveList legal = game_.position.legal_moves();
  if (legal.empty() || !ensure_persona()) return send("bestmove 0000");
  busy_ = true;
  worker_ = std::thread([this, persona = persona_.get(), history = game_.history, legal,
                         start_fen = game_.start_fen] {
    std::string best = "0000";
    try {
      best = persona->GetReply(history, legal, start_fen)->to_coord();
    } catch (const std::exception& e) {
      persona_failed_ = true;
      info(describe_failure(choosing(*persona), e, {}));
    }
    send("bestmove " + best);
    busy_ = false;
  });
}

void UciSession::wait_for_reply() {
  if (worker_.joinable()) worker_.join();
}

void UciSession::finish() {
  wait_for_reply();
  end();
}

void UciSession::end() {
  if (ended_.exchange(true)) return;
  // Killing the engine ends a reply that waits for it: its next read finds the output closed.
  if (busy_ && persona_) persona_->interrupt();
  wait_for_reply();
  persona_.reset();
}

}  // namespace ai_players::app
