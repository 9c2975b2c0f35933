// The serve command's JSON API over loopback, against real engines.
#include <algorithm>
#include <chrono>
#include <fstream>
#include <future>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include "game/user_error.h"
#include "serve/game_server.h"
#include "support/fake_engine_session.h"
#include "support/test_support.h"

namespace ai_players::app {
namespace {

using json = nlohmann::json;

// A server on a free loopback port, with shallow previews and reviews.
ServeOptions options_with(int max_games, bool preview = true) {
  ServeOptions options;
  options.port = 0;
  options.max_games = max_games;
  options.preview = preview;
  options.preview_depth = 3;
  options.review_depth = 4;
  return options;
}

// The server, serving until the end of the test.
struct RunningServer {
  explicit RunningServer(const ServeOptions& options)
      : server(options), port(server.bind()), runner([this] { server.run(); }) {}
  ~RunningServer() { server.stop(); runner.join(); }

  // The status and the JSON body of a call.
  std::pair<int, json> call(const std::string& method, const std::string& path, const std::string& body = "") {
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(120, 0);
    httplib::Result res = method == "GET"      ? client.Get(path.c_str())
                          : method == "DELETE" ? client.Delete(path.c_str())
                                               : client.Post(path.c_str(), body, "application/json");
    if (!res) throw std::runtime_error(method + " " + path + ": no answer");
    const bool is_json = res->get_header_value("Content-Type") == "application/json";
    return {res->status, is_json ? json::parse(res->body) : json(res->body)};
  }
  json ok(const std::string& method, const std::string& path, const json& body = nullptr) {
    const auto [status, out] = call(method, path, body.is_null() ? "" : body.dump());
    return status / 100 == 2 ? out : throw std::runtime_error(method + " " + path + ": " + out.dump());
  }

  GameServer server;
  int port;
  std::thread runner;
};

TEST(ServeApi, ShortGameFromAFenEndsByMateWithPgnAndReview) {
  // Reviews and previews want the engine at full strength, not the one that limits it.
  const testing_support::ScopedEnv limited("AI_PLAYERS_ELO_ENGINE", "/nonexistent/limited");
  RunningServer s(options_with(2));
  const json created =
      s.ok("POST", "/api/games", {{"persona", "Talvo"}, {"fen", "6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - - 0 1"}});
  const std::string id = created["id"], game = "/api/games/" + id;
  const json hint = s.ok("GET", game + "/hint");
  json mated = s.ok("POST", game + "/moves", {{"move", "Rd8"}});
  EXPECT_EQ(s.call("POST", game + "/moves", json{{"move", "Kf1"}}.dump()).first, 409);
  // The review runs on its own: asking again says how far it got, then gives it.
  json review;
  testing_support::eventually([&] {
    review = s.ok("POST", game + "/review");
    EXPECT_TRUE(review["status"] != "running" || review["total"] == 1) << review.dump();
    return review["status"] != "running";
  });
  // As the page gets them: the states, hint, review and PGN (saved under the game's name); times and dates aside.
  mated["preview_ms"] = review["seconds"] = "-";
  review["pgn"] = testing_support::dateless(review["pgn"].get<std::string>());
  review["svg"] = review["svg"].get<std::string>().find("<svg") != std::string::npos;
  const auto pgn = httplib::Client("127.0.0.1", s.port).Get(game + "/pgn");
  ASSERT_TRUE(pgn);
  std::string said;
  for (const json& answer : {created, hint, mated, review}) said += answer.dump(1) + "\n";
  said += pgn->get_header_value("Content-Disposition") + "\n" + testing_support::dateless(pgn->body);
  testing_support::expect_as_in_file("serve_short_game.txt", testing_support::replace_all(said, id, "ID"));
}

TEST(ServeApi, AFailedPreviewIsSaidAndTheGameGoesOn) {
  testing_support::FakeEngine fake("on go depth 3\nsleep 20\ndie\n");  // the adviser's first search
  RunningServer s(options_with(1));
  const std::string game = "/api/games/" + s.ok("POST", "/api/games", {{"persona", "Talvo"}})["id"].get<std::string>();
  const json moved = s.ok("POST", game + "/moves", {{"move", "e4"}});
  EXPECT_TRUE(moved["preview"]["text"].get<std::string>().starts_with("No preview: The chess engine ")) << moved.dump();
  EXPECT_EQ(moved["moves"].size(), 2u) << moved.dump();
  EXPECT_GE(moved["preview_ms"], 20) << moved.dump();  // the time the preview took, failed or not
}

TEST(ServeApi, PersonaMovesFirstThenAWholeGameUntilTheEnd) {
  RunningServer s(options_with(2, false));
  // As the page asks: the game first, then the persona's move.
  const json waiting = s.ok("POST", "/api/games", {{"persona", "Talvo"}, {"color", "black"}, {"await_reply", false}});
  EXPECT_TRUE(waiting["reply"].is_null() && waiting["moves"].empty()) << waiting.dump();
  const std::string game = "/api/games/" + waiting["id"].get<std::string>();
  const json created = s.ok("POST", game + "/reply");
  ASSERT_TRUE(!created["reply"].is_null() && created["turn"] == "black") << created.dump();

  // Both sides play random moves until the rules end the game (or long enough).
  json state = created;
  int plies = 1;
  while (state["result"].is_null() && plies < 120) {
    const auto& legal = state["legal"];
    ASSERT_FALSE(legal.empty()) << state.dump();
    state = s.ok("POST", game + "/moves", {{"move", legal[plies % legal.size()]}});
    EXPECT_TRUE(state["preview"].is_null() && state["preview_ms"] == 0);  // no adviser on this server
    plies += state["reply"].is_null() ? 1 : 2;
    ASSERT_EQ(state["moves"].size(), static_cast<std::size_t>(plies));
  }
  EXPECT_EQ(s.ok("GET", game)["fen"], state["fen"]);
  EXPECT_EQ(s.call("GET", game + "/hint").first, state["result"].is_null() ? 503 : 409);
  if (state["result"].is_null()) {
    EXPECT_EQ(s.ok("POST", game + "/resign")["result"]["result"], "1-0");
  }
  EXPECT_EQ(s.ok("DELETE", game)["deleted"], created["id"]);
  EXPECT_EQ(s.server.game_count(), 0u);
  // Each side's first move is free; then your flag falls while you think, and the next look at the game ends it.
  const std::string flagged = "/api/games/" + s.ok("POST", "/api/games", {{"persona", "Talvo"}, {"tc", "0.1"}})["id"].get<std::string>();
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_TRUE(s.ok("POST", flagged + "/moves", {{"move", "e4"}})["time"]["clock"]["runs"]);
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_EQ(s.ok("GET", flagged)["result"]["result"], "0-1");
}

TEST(ServeApi, ErrorsAreJsonWithTheirStatusAndLeaveTheGameAloneUndoTakesBackMoves) {
  RunningServer s(options_with(1, false));
  const json created = s.ok("POST", "/api/games", {{"persona", "Talvo"}});
  const std::string game = "/api/games/" + created["id"].get<std::string>();
  // Each refusal's status and words; the game as it was; a start position checked apart, said without a flag's name.
  std::string said;
  const auto say = [&](const std::string& method, const std::string& path, const std::string& body = "") {
    const auto [status, answer] = s.call(method, path, body);
    said += method + " " + path + " " + body + "\n" + std::to_string(status) + " " + answer.dump() + "\n";
  };
  for (const char* body : {R"({"move": "e2e5"})", R"({"move": "Nf6"})", R"({"move": 12})", "{}", R"({"move": "e4")",
                           R"(["e4"])"})
    say("POST", game + "/moves", body);
  say("POST", game + "/undo", "{}");  // no move of yours yet
  say("POST", game + "/draw");        // no adviser on this server
  say("POST", game + "/reply");       // your turn, not the persona's
  say("GET", "/api/games/nosuchgame");
  say("GET", "/api/games/feed/pgn");  // an id of the right form, and no such game
  say("GET", "/api/games/feed");      // the same words, not a bare status
  say("POST", "/api/games/nosuchgame/moves", R"({"move": "e4"})");
  say("DELETE", "/api/games/nosuchgame");
  say("GET", "/api/nothing");
  say("POST", "/api/positions", R"({"fen": "8/8/8 w - - 0 1"})");
  for (const char* body : {R"({"persona": "Nobody"})", R"({"persona": "Talvo", "color": "green"})",
                           R"({"persona": "Talvo", "fen": "8/8/8 w - - 0 1"})", R"({"persona": "Talvo", "tc": "fast"})",
                           R"({"persona": "Talvo", "movetime_ms": -1})", R"({"persona": "Talvo", "await_reply": 1})",
                           R"({"persona": "Talvo"})"})  // the last: max_games is 1
    say("POST", "/api/games", body);
  said += s.ok("GET", game).dump() + "\n";
  said += s.ok("POST", "/api/positions", {{"fen", "7k/8/8/8/8/8/8/K6R b - - 0 1"}}).dump() + "\n";
  said += s.ok("GET", "/api/personas").dump(1) + "\n";  // only those that can play

  // Undo takes back your move and the reply.
  const json first = s.ok("POST", game + "/moves", {{"move", "e4"}});
  s.ok("POST", game + "/moves", {{"move", "d2d4"}});
  for (const json undone = s.ok("POST", game + "/undo"); const char* key : {"fen", "moves", "legal"})
    EXPECT_EQ(undone[key], first[key]) << key;
  EXPECT_EQ(s.ok("POST", game + "/undo")["fen"], created["fen"]);

  // Resigning ends the game for good: undo cannot bring it back.
  s.ok("POST", game + "/moves", {{"move", "Nf3"}});
  said += s.ok("POST", game + "/resign")["result"].dump() + "\n";
  say("POST", game + "/undo");
  said += s.ok("GET", game)["result"].dump() + "\n";
  testing_support::expect_as_in_file("serve_refusals.txt",
                                     testing_support::replace_all(said, created["id"].get<std::string>(), "ID"));
}

TEST(ServeApi, ThinkLimitsMoveNowAndTheProgressOfAReply) {
  // Verevovera's depth probe finds little and waits for "stop": only the clock or move-now ends it.
  testing_support::FakeEngine fake(
      "on go infinite\n> info depth 9 seldepth 9 multipv 1 score cp 10 nodes 500 nps 1000 pv e7e5\n"
      "on stop\n> bestmove e7e5\n");
  ServeOptions timed = options_with(3);  // serve --tc 300+5: a game that names no time gets it
  timed.clock = parse_time_control("300+5");
  RunningServer s(timed);
  EXPECT_EQ(s.ok("GET", "/api/defaults"), json({{"tc", "300+5"}, {"think_limit_ms", 10000}}));
  // A reply's note comes with it: in a set-up position Horus has no previous move to answer.
  const json noted = s.ok("POST", "/api/games", {{"persona", "Horus"}, {"color", "black"},
                                                 {"fen", "4k3/8/8/8/8/8/4P3/4K3 w - - 0 1"}});
  EXPECT_EQ(noted["time"]["tc"], "300+5");
  const json& clock = noted["time"]["clock"];  // each side's first move is free
  EXPECT_EQ(clock, json({{"white_ms", 300000}, {"black_ms", 300000}, {"runs", false}})) << noted.dump();
  EXPECT_TRUE(noted["reply"].value("note", "").starts_with("Horus has no previous move to answer")) << noted.dump();

  // A time per move replaces the clock.
  const json limited = s.ok("POST", "/api/games", {{"persona", "Verevovera"}, {"movetime_ms", 300}});
  const json cut = s.ok("POST", "/api/games/" + limited["id"].get<std::string>() + "/moves", {{"move", "d4"}});
  EXPECT_EQ(json::array({cut["time"], cut["reply"]["san"], cut["reply"]["cut_short"]}),
            json::array({{{"tc", nullptr}, {"think_limit_ms", 300}}, "e5", true}));
  const json open = s.ok("POST", "/api/games", {{"persona", "Verevovera"}, {"movetime_ms", 0}});
  const std::string game = "/api/games/" + open["id"].get<std::string>();
  auto answered = std::async(std::launch::async, [&] { return s.ok("POST", game + "/moves", {{"move", "d4"}}); });
  json seen;  // the probe as the reply's first search, its time counted, and nothing for you to play meanwhile
  testing_support::eventually([&] {
    seen = s.ok("GET", game);
    return seen["time"]["thinking"]["depth"] == 9 && seen["time"]["thinking"]["ms"] > 0;
  });
  seen["time"]["thinking"]["ms"] = seen["time"]["thinking"]["ms"] > 0;
  EXPECT_EQ(seen["time"].dump() + seen["legal"].dump(),
            R"({"tc":null,"think_limit_ms":null,"thinking":{"depth":9,"ms":true,"search":1}}[])");
  for (const char* busy : {"/undo", "/moves", "/resign", "/review"})  // nothing changes the game while it thinks
    EXPECT_EQ(s.call("POST", game + busy, json{{"move", "e4"}}.dump()).first, 409) << busy;
  const auto asked = std::chrono::steady_clock::now();
  s.ok("POST", game + "/move-now");
  EXPECT_EQ(answered.get()["reply"]["san"], "e5");
  EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(5));  // not the 60 s watchdog
}

TEST(ServeApi, AGameEndedWhileItsHintIsSearchedAnswersTheHintAtOnce) {
  testing_support::FakeEngine fake("on go depth\non stop\n> bestmove e2e4\n");  // the adviser thinks until stopped
  RunningServer s(options_with(1));
  const std::string game = "/api/games/" + s.ok("POST", "/api/games", {{"persona", "Talvo"}})["id"].get<std::string>();
  auto hint = std::async(std::launch::async, [&] { return s.call("GET", game + "/hint").first; });
  const auto searching = [](const std::string& line) { return line.starts_with("go depth"); };
  ASSERT_TRUE(testing_support::eventually([&] { return std::ranges::any_of(fake.received(), searching); }));
  const auto ended = std::chrono::steady_clock::now();
  s.ok("DELETE", game);
  EXPECT_EQ(hint.get(), 503);
  EXPECT_LT(std::chrono::steady_clock::now() - ended, std::chrono::seconds(10));  // not the 60 s watchdog
}

// What another web page, or a hostile client, sends is refused before any game starts.
TEST(ServeApi, RefusesForeignPagesBadBytesAndHugeBodies) {
  RunningServer s(options_with(1, false));
  httplib::Client client("127.0.0.1", s.port);
  const auto post = [&](std::string body, const httplib::Headers& headers, const char* type = "application/json") {
    const auto res = client.Post("/api/games", headers, body, type);
    return res ? std::to_string(res->status) + " " + res->body + "\n" : std::string("no answer\n");
  };
  const std::string talvo = R"({"persona": "Talvo"})";
  std::string said = post(talvo, {{"Host", "evil.example.com"}}) + post(talvo, {{"Origin", "http://evil.example.com"}});
  said += post(talvo, {}, "text/plain");  // a form a page may send across sites
  said += post("{\"persona\": \"Talvo\xff\"}", {}) + post(std::string(20 << 20, ' '), {});
  const auto page = client.Get("/api/personas");  // and what browsers may do with the answers
  ASSERT_TRUE(page);
  said += page->get_header_value("X-Content-Type-Options") + "\n" + page->get_header_value("Content-Security-Policy");
  testing_support::expect_as_in_file("serve_foreign_requests.txt", said);
  EXPECT_EQ(s.server.game_count(), 0u);
  EXPECT_TRUE(post(talvo, {{"Origin", "http://127.0.0.1:" + std::to_string(s.port)}}).starts_with("201 "));
}

// A connection to the server and what it answers until it closes; `repeat` sends `tail` that many times.
std::string raw_exchange(int port, const std::string& head, const std::string& tail = "", std::size_t repeat = 0) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in to{AF_INET, htons(static_cast<std::uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
  if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) return ::close(fd), "no connection\n";
  bool sent = ::send(fd, head.data(), head.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(head.size());
  for (std::size_t i = 0; sent && i < repeat; ++i)
    sent = ::send(fd, tail.data(), tail.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(tail.size());
  std::string answer;
  char buffer[4096];
  for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, static_cast<std::size_t>(n));
  ::close(fd);
  // The status line and the body, without the headers.
  const auto body = answer.find("\r\n\r\n");
  return answer.substr(0, answer.find("\r\n")) + (body == std::string::npos ? "" : " " + answer.substr(body + 4)) + "\n";
}

long resident_kb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.starts_with("VmRSS:")) return std::stol(line.substr(6));
  return 0;
}

// Headers are cut off at their limits while they come, not read whole first; a body too.
TEST(ServeApi, HeadersAndBodiesAreCutAtTheirLimits) {
  RunningServer s(options_with(1, false));
  const std::string get = "GET /api/defaults HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
  std::string fields;
  for (int i = 0; i < 98; ++i) fields += "X-Field: " + std::to_string(i) + "\r\n";
  // 100 fields, then 101; 64 kB of headers in lines of 8 kB, each within the parser's own limit for a line.
  std::string said = raw_exchange(s.port, get + fields + "\r\n") + raw_exchange(s.port, get + fields + "X-Field: 99\r\n\r\n");
  said += raw_exchange(s.port, get, "X-Long: " + std::string(8000, 'a') + "\r\n", 9);
  // A body with no length, and one whose chunk never ends: each is cut where the payload would be too large.
  const std::string post = "POST /api/positions HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n";
  said += raw_exchange(s.port, post + "Transfer-Encoding: chunked\r\n\r\n", std::string(4096, '1'), 64);
  // 16 MB of headers leave the server's memory as it was: the rest is read and dropped.
  const long before = resident_kb();
  said += raw_exchange(s.port, get, "X-Filler: " + std::string(1000, 'b') + "\r\n", 16000);
#ifndef __SANITIZE_ADDRESS__  // the address sanitizer holds freed memory back, so the process grows anyway
  EXPECT_LT(resident_kb() - before, 8000);
#else
  (void)before;
#endif
  testing_support::expect_as_in_file("serve_bounds.txt", said);
}

// A client that leaves while the persona makes its first move never learns of the game: it does not keep its place.
TEST(ServeApi, AGameWhoseClientLeftBeforeItsAnswerIsNotKept) {
  testing_support::FakeEngine fake("on go infinite\n> info depth 9 seldepth 9 multipv 1 score cp 10 nodes 500 nps 1000 pv e2e4\n"
                                   "on stop\n> bestmove e2e4\n");  // only the game's time per move ends the search
  RunningServer s(options_with(1, false));
  // A set-up position: no opening book answers for the persona.
  const std::string body =
      R"({"persona": "Verevovera", "color": "black", "movetime_ms": 300, "fen": "4k3/8/8/8/8/8/4P3/4K3 w - - 0 1"})";
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in to{AF_INET, htons(static_cast<std::uint16_t>(s.port)), {htonl(INADDR_LOOPBACK)}, {}};
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
  const std::string request = "POST /api/games HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
                              "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  ASSERT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
  ASSERT_TRUE(testing_support::eventually([&] { return std::ranges::count(fake.received(), "go infinite") > 0; }));
  ::close(fd);
  // The one place is free again for the next client.
  EXPECT_TRUE(testing_support::eventually(
      [&] { return s.call("POST", "/api/games", R"({"persona": "Talvo"})").first == 201; }, std::chrono::seconds(10)));
}

// Clients that send their requests slowly do not hold every thread: the page is answered meanwhile.
TEST(ServeApi, SlowClientsLeaveThePageAnswered) {
  RunningServer s(options_with(1, false));
  std::vector<int> slow;
  sockaddr_in to{AF_INET, htons(static_cast<std::uint16_t>(s.port)), {htonl(INADDR_LOOPBACK)}, {}};
  for (int i = 0; i < 10; ++i) {
    const auto fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    const std::string part = "GET /api/personas HTTP/1.1\r\nHost: 127.0.0.1\r\n";  // and no end of headers
    ASSERT_GT(::send(fd, part.data(), part.size(), MSG_NOSIGNAL), 0);
    slow.push_back(fd);
  }
  httplib::Client client("127.0.0.1", s.port);
  client.set_read_timeout(3, 0);  // the slow ones hold their threads for the server's 5 s read timeout
  const auto res = client.Get("/api/personas");
  EXPECT_TRUE(res && res->status == 200);
  for (const auto fd : slow) ::close(fd);
}

TEST(ServeApi, NoAddressNoServerAndAServerNeverRunEnds) {
  ServeOptions nowhere;
  nowhere.host = "";
  EXPECT_THROW(GameServer server(nowhere), UserError);
  const GameServer never_run(options_with(1));  // and a server never run ends without being stopped
}

TEST(ServeApi, IdleGamesEnd) {
  ServeOptions options = options_with(2, false);
  options.idle_timeout = std::chrono::milliseconds(300);  // counted from the game's creation, not its start
  options.verbose = true;
  options.think_limit = std::chrono::milliseconds(2500);  // serve --movetime 2500: a game that names no time gets it
  testing::internal::CaptureStderr();
  std::string id;
  {
    RunningServer s(options);
    const json created = s.ok("POST", "/api/games", {{"persona", "Talvo"}});
    EXPECT_EQ(created["time"]["think_limit_ms"], 2500);
    id = created["id"];
    EXPECT_EQ(s.server.game_count(), 1u);
    EXPECT_TRUE(testing_support::eventually([&] { return s.server.game_count() == 0; }));
  }  // the reaper has said its line before the server ends
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("serve: game " + id + " was idle and has ended\n"), std::string::npos) << said;
}

TEST(ServeApi, KeepsEveryGameAndPlaysItOnAfterARestart) {
  testing_support::TempDir dir;
  ServeOptions options = options_with(2, false);
  options.db = dir.path() + "/games.db";
  {
    RunningServer s(options);
    const json created = s.ok("POST", "/api/games", {{"persona", "Talvo"}, {"movetime_ms", 100}});
    EXPECT_EQ(created["stored"], json({{"id", nullptr}, {"error", nullptr}}));  // a row once there is a move
    const json moved = s.ok("POST", "/api/games/" + created["id"].get<std::string>() + "/moves", {{"move", "e4"}});
    EXPECT_EQ(moved["stored"]["id"], 1);
    EXPECT_EQ(s.ok("GET", "/api/saved-games")["games"][0]["live"], created["id"]);
  }  // the server stops with the game going on
  RunningServer s(options);
  json listed = s.ok("GET", "/api/saved-games")["games"];
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0]["plies"], 2);
  EXPECT_EQ(listed[0]["ended"], false);
  EXPECT_EQ(listed[0]["live"], nullptr);
  const json continued = s.ok("POST", "/api/saved-games/1/continue");
  EXPECT_EQ(continued["moves"].size(), 2u);
  EXPECT_EQ(continued["turn"], "white");
  EXPECT_EQ(continued["stored"]["id"], 1);
  const std::string game = "/api/games/" + continued["id"].get<std::string>();
  EXPECT_EQ(s.call("GET", game + "/hint").first, 503);  // played on as the server plays: no preview here
  // Continued twice, it is one game, not two from one row.
  EXPECT_EQ(s.ok("POST", "/api/saved-games/1/continue")["id"], continued["id"]);
  const std::string id = continued["id"];
  s.ok("POST", "/api/games/" + id + "/moves", {{"move", "d4"}});
  s.ok("POST", "/api/games/" + id + "/undo");
  s.ok("POST", "/api/games/" + id + "/moves", {{"move", "Nf3"}});
  const std::string pgn = s.ok("GET", "/api/saved-games/1/pgn");
  EXPECT_NE(pgn.find("\n1. e4 "), std::string::npos) << pgn;
  EXPECT_NE(pgn.find(" 2. Nf3 "), std::string::npos) << pgn;
  // Ended by the player: kept, and never played on again.
  s.ok("DELETE", "/api/games/" + id);
  listed = s.ok("GET", "/api/saved-games")["games"];
  EXPECT_EQ(listed[0]["ended"], true);
  EXPECT_EQ(listed[0]["plies"], 4);
  EXPECT_EQ(s.call("POST", "/api/saved-games/1/continue"), std::pair(409, json({{"error", "game 1 is over"}})));
  EXPECT_EQ(s.call("POST", "/api/saved-games/9/continue"), std::pair(404, json({{"error", "there is no stored game 9"}})));
  const json rating = s.ok("GET", "/api/rating");
  EXPECT_EQ(rating["rating"], nullptr);  // an unfinished game and undo: nothing counts
  EXPECT_EQ(rating["skipped"], json::parse(R"([{"game": 1, "reason": "unfinished"}])"));
  EXPECT_EQ(s.call("GET", "/api/rating?target=100").first, 400);
  // A review is kept with its game: after a restart it is shown at once, with no engine.
  json review;
  ASSERT_TRUE(testing_support::eventually([&] {
    review = s.ok("POST", "/api/saved-games/1/review");
    return review["status"] == "done";
  }));
  EXPECT_EQ(review["moves"].size(), 4u);
  options.persona.engine = "/nonexistent/engine";
  RunningServer again(options);
  EXPECT_EQ(again.ok("POST", "/api/saved-games/1/review"), review);
}

TEST(ServeApi, WithoutItsDatabaseTheGamesGoOnAndThePageIsTold) {
  testing_support::TempDir dir;
  ServeOptions options = options_with(1, false);
  options.db = dir.path();  // a folder, not a database
  RunningServer s(options);
  const json created = s.ok("POST", "/api/games", {{"persona", "Talvo"}, {"movetime_ms", 100}});
  EXPECT_NE(created["stored"]["error"].get<std::string>().find("Play goes on, but games are not kept"), std::string::npos)
      << created["stored"];
  EXPECT_EQ(s.ok("POST", "/api/games/" + created["id"].get<std::string>() + "/moves", {{"move", "e4"}})["moves"].size(), 2u);
  EXPECT_EQ(s.call("GET", "/api/saved-games").first, 503);
  options.db.reset();  // serve --no-db: nothing is said, nothing is kept
  RunningServer none(options);
  EXPECT_EQ(none.ok("POST", "/api/games", {{"persona", "Talvo"}})["stored"], nullptr);
  EXPECT_EQ(none.call("GET", "/api/saved-games").second["error"],
            "games are not kept: the server was started with --no-db");
}

}  // namespace
}  // namespace ai_players::app
