// The session's options: what it announces, and what a setoption changes.
#include "uci/uci_session.h"

#include <unistd.h>

#include <algorithm>

#include <fmt/format.h>

#include "ai_players/core/text.h"
#include "ai_players/engine/engine_config.h"
#include "game/numbers.h"
#include "players/measured_ratings.h"

namespace ai_players::app {
namespace {

bool is_executable_file(const std::string& path) { return ::access(path.c_str(), X_OK) == 0; }

}  // namespace

namespace {

// The personas UCI_Elo may pick, with their measured ratings.
std::vector<std::pair<std::string, MeasuredRating>> measured_personas(const std::vector<PersonaEntry>& entries) {
  std::vector<std::pair<std::string, MeasuredRating>> out;
  for (const auto& e : entries)
    if (e.offered && e.buildable && e.gang != Gang::Engine)
      if (const auto m = measured_rating(e.name)) out.emplace_back(e.name, *m);
  return out;
}

}  // namespace

std::string persona_nearest(const std::vector<PersonaEntry>& entries, int elo) {
  std::string best;
  double best_gap = 0, best_rating = 0;
  for (const auto& [name, m] : measured_personas(entries)) {
    const double gap = std::abs(m.rating - elo);
    if (best.empty() || gap < best_gap || (gap == best_gap && m.rating < best_rating)) {
      best = name;
      best_gap = gap;
      best_rating = m.rating;
    }
  }
  return best;
}

std::pair<int, int> measured_range(const std::vector<PersonaEntry>& entries) {
  const auto all = measured_personas(entries);
  if (all.empty()) return {0, 0};
  double lowest = all.front().second.rating, highest = lowest;
  for (const auto& [name, m] : all) lowest = std::min(lowest, m.rating), highest = std::max(highest, m.rating);
  return {static_cast<int>(std::lround(lowest)), static_cast<int>(std::lround(highest))};
}

UciSession::UciSession(std::string persona, std::vector<PersonaEntry> entries, Output output,
                       PersonaSettings settings)
    : output_(std::move(output)),
      entries_(std::move(entries)),
      persona_name_(std::move(persona)),
      settings_(std::move(settings)) {
  for (const auto& e : entries_)
    if (e.name == persona_name_ && e.gang != Gang::Engine)
      if (const auto m = measured_rating(e.name)) uci_elo_ = static_cast<int>(std::lround(m->rating));
  settings_.launch = engines_.launcher(settings_.launch);
  worker_ = std::thread([this] { work(); });
  timer_ = std::thread([this] { timer(); });
}

UciSession::~UciSession() { end(); }

void UciSession::send(const std::string& line) {
  if (!silent_) output_(line);
}

void UciSession::chatter(std::string_view text) {
  if (debug_) info(text);
}

void UciSession::info(std::string_view text) {
  std::istringstream in{std::string(text)};
  for (std::string line; std::getline(in, line);)
    if (!strip(line).empty()) send("info string " + uci_safe_text(line));
}

std::string UciSession::current_persona() const {
  if (limit_strength_ && limited_persona_) return *limited_persona_;
  return wanted_persona_.value_or(persona_name_);
}

bool UciSession::handle(std::string_view line) {
  const UciCommand command = split_command(line);
  const std::string& cmd = command.name;
  const std::string_view rest = command.args;
  if (cmd.empty()) return true;
  if (cmd == "uci") {
    identify();
  } else if (cmd == "isready") {
    ready();
  } else if (cmd == "ucinewgame") {
    game_ = UciGame{};
    std::lock_guard<std::mutex> lock(mutex_);
    new_game_ = true;
    reseed_ = seed_.has_value();
  } else if (cmd == "setoption") {
    set_option(rest);
  } else if (cmd == "position") {
    try {
      game_ = parse_position(rest);
    } catch (const UserError& e) {
      info(fmt::format("{}; the position is unchanged", gui_excerpt(e.what())));
    }
  } else if (cmd == "go") {
    go(rest);
  } else if (cmd == "stop") {
    stop();
  } else if (cmd == "ponderhit") {
    ponderhit();
  } else if (cmd == "quit") {
    end();
    return false;
  } else if (cmd == "debug") {
    debug_ = strip(rest) == "on";
  } else if (cmd != "register") {
    info("unknown command: " + gui_excerpt(line));
  }
  return true;
}

void UciSession::identify() {
  std::lock_guard<std::mutex> lock(mutex_);
  send("id name " + current_persona());
  send("id author ai_players");
  for (const UciOption& option : options()) send(option_line(option));
  send("uciok");
}

std::vector<UciOption> UciSession::options() const {
  const std::string current = current_persona();
  std::vector<std::string> names;
  for (const auto& e : entries_) names.push_back(e.name);
  // On the measured scale alone: a GUI's Elo means what the calibration measured.
  auto [lowest, highest] = measured_range(entries_);
  if (highest == lowest) highest = lowest + 1;
  if (std::find(names.begin(), names.end(), current) == names.end()) names.push_back(current);
  const auto engine = settings_.engine ? settings_.engine : engine::find_engine(false);
  const long long timeout = settings_.engine_timeout ? settings_.engine_timeout->count() / 1000 : 0;
  return {UciOption::combo("Persona", current, names),
          UciOption::text("Engine", engine.value_or("")),
          UciOption::spin("Engine Timeout", timeout, 0, 3600),
          UciOption::spin("Threads", 1, 1, 1024),
          UciOption::spin("Hash", 16, 1, 33554432),
          UciOption::check("Ponder", false),
          UciOption::spin("Move Overhead", move_overhead_.count(), 0, 5000),
          UciOption::spin("MultiPV", 1, 1, 500),
          UciOption::check("UCI_LimitStrength", limit_strength_),
          UciOption::spin("UCI_Elo", std::clamp(uci_elo_, lowest, highest), lowest, highest),
          UciOption::text("Seed", seed_ ? std::to_string(*seed_) : "random")};
}

void UciSession::set_option(std::string_view args) {
  std::lock_guard<std::mutex> lock(mutex_);
  try {
    const SetOption set = parse_setoption(args);
    const std::vector<UciOption> known = options();
    const UciOption* option = find_option(known, set.name);
    if (!option) return info("unknown option: " + gui_excerpt(set.name));
    // Persona also takes names the list leaves out ("HOUD20c:1500"); its own reading checks them.
    apply_option(option->name, option->name == "Persona" ? set.value : checked_value(*option, set.value));
  } catch (const UserError& e) {
    info(fmt::format("{}; the option is unchanged", gui_excerpt(e.what())));
  }
}

// The value is one the option takes; the caller holds mutex_.
void UciSession::apply_option(const std::string& name, const std::string& value) {
  if (name == "Persona") {
    wanted_persona_ = playable_persona_name(value);
  } else if (name == "Engine") {
    if (!value.empty() && !is_executable_file(value))
      throw UserError(fmt::format("the engine {} is not an executable file", gui_excerpt(value)));
    settings_.engine = value.empty() ? std::nullopt : std::optional(value);
    rebuild_ = true;
  } else if (name == "Engine Timeout") {
    settings_.engine_timeout.reset();
    if (value != "0") settings_.engine_timeout = std::chrono::seconds(std::stoll(value));
  } else if (name == "Move Overhead") {
    move_overhead_ = std::chrono::milliseconds(std::stoll(value));
  } else if (name == "UCI_LimitStrength" || name == "UCI_Elo") {
    if (name == "UCI_LimitStrength") limit_strength_ = value == "true";
    else uci_elo_ = std::stoi(value);
    limited_persona_.reset();
    if (limit_strength_) {
      const std::string nearest = persona_nearest(entries_, uci_elo_);
      if (nearest.empty()) {
        info(fmt::format("UCI_Elo {}: no persona has a measured rating; playing as {}", uci_elo_, persona_name_));
      } else {
        limited_persona_ = nearest;
        info(fmt::format("UCI_Elo {}: playing as {}, measured at {}", uci_elo_, nearest,
                         measured_text(*measured_rating(nearest))));
      }
    }
  } else if (name == "Seed") {
    seed_.reset();
    if (lower(value) != "random" && !value.empty()) seed_ = read_seed(value, "Seed");
    reseed_ = seed_.has_value();
  }
  // Threads, Hash, MultiPV and Ponder are taken so that GUIs may send them; a
  // persona keeps its own engine settings, and pondering is the GUI's business.
}

}  // namespace ai_players::app
