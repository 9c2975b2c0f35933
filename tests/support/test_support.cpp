#include "support/test_support.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

namespace testing_support {

ScopedEnv::ScopedEnv(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
  if (const char* old = ::getenv(name_.c_str())) saved_ = old;
  if (value)
    ::setenv(name_.c_str(), value->c_str(), 1);
  else
    ::unsetenv(name_.c_str());
}

ScopedEnv::~ScopedEnv() {
  if (saved_)
    ::setenv(name_.c_str(), saved_->c_str(), 1);
  else
    ::unsetenv(name_.c_str());
}

Position::Position(const std::string& moves, std::string_view fen) : board(fen) {
  std::istringstream in(moves);
  for (std::string m; in >> m;) board.make_internal_move(*history.emplace_back(board.parse_move(m)));
}

void place(ai_players::AI_BASIC& p, const std::string& fen, const std::string& moves) {
  const Position at(moves, fen);
  p.start_fen = fen;
  p.board = at.board;
  p.game_history = at.history;
  p.legalmoves = at.legal();
  p.myside = p.board.side_to_move;
  p.oppside = -p.myside;
}

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "ai_players_test_XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}
TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

int count_of(const std::string& text, const std::string& part) {
  int n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) text.replace(at, from.size(), to);
  return text;
}

std::string dateless(const std::string& pgn) {
  return std::regex_replace(pgn, std::regex(R"(\[Date "[^"]*"\])"), "[Date \"-\"]");
}

std::string read_file(const std::string& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void expect_as_in_file(const std::string& name, const std::string& text) {
  const std::string path = std::string(EXPECTED_DIR) + "/" + name;
  if (const char* bless = ::getenv("AI_PLAYERS_BLESS"); bless && std::string(bless) == "1") return write_file(path, text);
  ASSERT_TRUE(std::filesystem::exists(path)) << path << " is missing: AI_PLAYERS_BLESS=1 writes it";
  EXPECT_EQ(text, read_file(path)) << "differs from " << path;
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream out(path);
  out << text;
}

void write_executable(const std::string& path, const std::string& text) {
  write_file(path, text);
  std::filesystem::permissions(path, std::filesystem::perms::owner_all);
}

std::string scripted_engine_file(const TempDir& dir, const std::string& name, const std::string& script,
                                 const std::string& log) {
  const std::string path = dir.file(name);
  write_file(path + ".script", script);
  write_executable(path, "#!/bin/sh\nFAKE_ENGINE_SCRIPT='" + path + ".script' " +
                             (log.empty() ? "" : "FAKE_ENGINE_LOG='" + log + "' ") + "exec '" + fake_engine_path() + "'\n");
  return path;
}

std::vector<pid_t> descendants(pid_t root) {
  std::vector<pid_t> found{root};
  for (std::size_t i = 0; i < found.size(); ++i) {
    // Children belong to the thread that started them, so every thread is asked.
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(found[i]) + "/task", ec)) {
      std::ifstream children(task.path() / "children");
      for (pid_t child; children >> child;) found.push_back(child);
    }
  }
  return {found.begin() + 1, found.end()};
}

bool ends_within(pid_t pid, std::chrono::milliseconds limit) {
  const auto alive = [pid] {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    try {
      text.assign(std::istreambuf_iterator<char>(stat), {});
    } catch (const std::ios_base::failure&) {
      return false;  // the process went while its file was read
    }
    return text.rfind(')') != std::string::npos && text.at(text.rfind(')') + 2) != 'Z';
  };
  for (auto until = std::chrono::steady_clock::now() + limit; alive();) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace testing_support
