// libFuzzer target for every parser that reads outside text: FEN, SAN and
// coordinate moves, the engine's info lines, a GUI's position, go and
// setoption commands, PGN games and opening books (EPD or PGN). Any exception of ours is a clean refusal; a crash, a hang or a
// sanitizer report is a bug.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "ai_players/core/errors.h"
#include "ai_players/engine/ai_basic.h"
#include "ai_players/host/board.h"
#include "ai_players/host/common.h"
#include <sstream>

#include "pgn/openings.h"
#include "pgn/pgn_reader.h"
#include "uci/uci_protocol.h"

namespace {

using namespace ai_players;

// An engine that takes every line and never speaks: the parser needs no more.
class SilentEngine : public engine::LineChannel {
 public:
  void write(std::string_view) override {}
  std::optional<std::string> read_line(std::optional<engine::Clock::time_point>) override { return ""; }
  void wake() override {}
  void terminate() override {}
  void kill() override {}
  const std::string& name() const override { return name_; }

 private:
  std::string name_ = "silent";
};

AI_BASIC& player() {
  static std::unique_ptr<AI_BASIC> p = [] {
    common::ScopedEchoSink quiet([](std::string_view) {});
    engine::EngineConfig config;
    config.path = "/bin/true";
    config.launch = [](const std::string&, const std::string&) { return std::make_unique<SilentEngine>(); };
    return std::make_unique<AI_BASIC>("fuzz", 0, std::nullopt, config);
  }();
  return *p;
}

template <class F>
void refused_cleanly(F f) {
  try {
    f();
  } catch (const std::exception&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  static ScopedBugprintSink quiet_diagnostics([](std::string_view) {});
  refused_cleanly([&] {
    const board::Board position(text);
    (void)position.legal_moves();
    (void)position.export_FEN();
    (void)position.game_end();
  });
  refused_cleanly([&] { (void)board::Board().parse_move(text); });
  refused_cleanly([&] {
    const board::Board middlegame("r1bq1rk1/pp3ppp/2nbpn2/2pp4/3P4/2PBPN2/PP1N1PPP/R1BQ1RK1 w - - 0 8");
    (void)middlegame.parse_move(text);
  });
  refused_cleanly([&] { (void)player().analyse_engine_outputline_(text); });
  refused_cleanly([&] { (void)app::parse_position(text); });
  refused_cleanly([&] { (void)app::parse_go(text, common::WHITE); });
  refused_cleanly([&] { (void)app::parse_setoption(text); });
  refused_cleanly([&] {
    std::istringstream in(text);
    std::vector<std::string> problems;
    (void)app::read_pgn(in, &problems);
  });
  refused_cleanly([&] {
    std::istringstream in(text);
    (void)app::read_openings(in, "fuzz");
  });
  return 0;
}
