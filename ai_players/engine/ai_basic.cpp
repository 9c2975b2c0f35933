#include "ai_players/engine/ai_basic.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>

#include "ai_players/core/errors.h"
#include "ai_players/core/text.h"
#include "ai_players/engine/engine_process.h"
#include "ai_players/engine/platform.h"
#include "ai_players/engine/uci_tokens.h"

namespace ai_players {

namespace eng = ai_players::engine;

namespace {

// A bare command name is looked up in PATH, as the shell would.
std::string resolve_engine_path(const std::string& path) {
  if (path.find('/') != std::string::npos) return path;
  const char* env = std::getenv("PATH");
  std::string dirs = env ? env : "";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    auto end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
    const std::string candidate = dir + "/" + path;
    if (eng::platform().is_executable(candidate)) return candidate;
    start = end + 1;
  }
  return path;
}

}  // namespace

AI_BASIC::AI_BASIC(const std::string& basename, Number elo, std::optional<std::string> enginename,
                   eng::EngineConfig config)
    : ELO(elo), config_(std::move(config)), basename_(basename) {
  require(!enginename || *enginename == HOUDINI);
  common::echo(format_s("%s %s", basename, elo));
  Name = format_s("%s (%s)", basename, elo);
  DEBUG = false;
  start_fen = std::string(common::FEN_New_Game);
  myside = 0;
  oppside = 0;

  const bool houdini = enginename.has_value() && !enginename->empty();
  const eng::Platform& sys = eng::platform();
  if (config_.path) {
    enginepath = resolve_engine_path(*config_.path);
    if (!sys.is_executable(*enginepath))
      throw Error(format_s("The chess engine %s is not executable", *enginepath));
    engine_command = "exec " + eng::shell_quote(*enginepath);  // the engine itself becomes our child
  } else if (houdini && sys.path_exists("c:\\")) {
    enginepath = "data\\engines\\Houdini_20c_Pro_w32.exe";
    if (sys.path_exists("c:\\Houdini_20c_Pro_w32.exe")) enginepath = "c:\\Houdini_20c_Pro_w32.exe";
    if (sys.path_exists("c:\\Houdini_20c_Pro_x64.exe")) enginepath = "c:\\Houdini_20c_Pro_x64.exe";
    engine_command = *enginepath;
  } else if (sys.path_exists("c:\\") || sys.platform_id.starts_with("win")) {
    enginepath = "data\\engines\\talvo_engine32.exe";
    if (sys.absolute_path(*enginepath).find("c:") == std::string::npos &&
        sys.path_exists("c:\\stockfish-222-64-ja-intel.exe"))
      enginepath = "c:\\stockfish-222-64-ja-intel.exe";
    engine_command = *enginepath;
  } else if (houdini) {
    engine_command = std::string("WINEPREFIX=/home/durnel/.houdwine64 ") +
                     "/home/durnel/.PlayOnLinux/wine/linux-amd64/1.3.28/bin/wine64 " +
                     "engines/Houdini_20c_Pro_x64.exe";
  } else {
    enginepath = "data/engines/stockfish-222-64-ja";
    if (!sys.is_executable(*enginepath)) sys.run_shell(format_s("chmod 755 %s", *enginepath));
    if (!sys.is_executable(*enginepath)) {
      common::echo("Unable to change permissions on engine to make it executable.");
      throw Error(format_s("The chess engine %s is not executable", *enginepath));
    }
    engine_command = *enginepath;
  }
  launch_engine_();
}

void AI_BASIC::launch_engine_() {
  const std::string name = enginepath.value_or(engine_command);
  std::unique_ptr<eng::LineChannel> fresh =
      config_.launch ? config_.launch(engine_command, name)
                     : std::make_unique<eng::EngineProcess>(engine_command, name);
  {
    std::lock_guard<std::mutex> lock(engine_mutex_);
    engine = std::move(fresh);
  }
  engine_broken = false;
  search_.stop_sent = false;
  uci_answered_ = false;
  writeIntoEngine("uci");
  writeIntoEngine("ucinewgame");
  writeIntoEngine("setoption name Contempt value 0");
  writeIntoEngine("setoption name Threads value 1");
}

void AI_BASIC::restart_engine() {
  if (abandoned_) throw EngineError(format_s("%s was shut down; its engine is not restarted", Name));
  {
    std::lock_guard<std::mutex> lock(engine_mutex_);
    if (engine) engine->terminate();
  }
  launch_engine_();
  engine_started_();
}

std::string AI_BASIC::engine_name() const {
  std::lock_guard<std::mutex> lock(engine_mutex_);
  return engine ? engine->name() : enginepath.value_or(engine_command);
}

// The engine object ends the engine: closes its pipes, waits briefly, kills.
AI_BASIC::~AI_BASIC() = default;

void AI_BASIC::writeIntoEngine(std::string_view line) {
  const auto end = line.find_last_not_of(" \t\n\r\v\f");
  std::string text(line.substr(0, end == std::string_view::npos ? 0 : end + 1));
  text += '\n';
  try {
    engine->write(text);
  } catch (...) {
    bugprint(text, " ^^^^^", Name);
    throw;
  }
}

std::string AI_BASIC::readFromEngine() {
  std::optional<std::string> line;
  while (!(line = engine->read_line())) {
  }
  if (!is_valid_utf8(*line))
    throw EngineError(format_s("The chess engine %s wrote a line that is not valid UTF-8 (garbled output): %s",
                               engine->name(), quoted_excerpt(*line)));
  return *line;
}


}  // namespace ai_players
