// The serve command's JSON API over loopback, against real engines.
#include <array>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include "game/time_control.h"
#include "game/user_error.h"
#include "serve/game_server.h"
#include "support/fake_engine_session.h"
#include "support/test_support.h"

namespace ai_players::app {
namespace {

using json = nlohmann::json;

// A server on a free loopback port, serving until the end of the test.
class RunningServer {
 public:
  explicit RunningServer(ServeOptions options) : server_(with_defaults(std::move(options))) {
    port_ = server_.bind();
    runner_ = std::thread([this] { server_.run(); });
  }
  ~RunningServer() {
    server_.stop();
    runner_.join();
  }

  GameServer& server() { return server_; }
  int port() const { return port_; }

  // The status and the JSON body of a call.
  std::pair<int, json> call(const std::string& method, const std::string& path, const std::string& body = "") {
    httplib::Client client("127.0.0.1", port_);
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
    if (status / 100 != 2) throw std::runtime_error(method + " " + path + ": " + out.dump());
    return out;
  }

 private:
  static ServeOptions with_defaults(ServeOptions options) {
    options.host = "127.0.0.1";
    options.port = 0;
    options.preview_depth = 3;
    options.review_depth = 4;
    return options;
  }
  GameServer server_;
  int port_ = 0;
  std::thread runner_;
};

ServeOptions options_with(int max_games, bool preview = true) {
  ServeOptions options;
  options.max_games = max_games;
  options.preview = preview;
  return options;
}

TEST(ServeApi, ShortGameFromAFenEndsByMateWithPgnAndReview) {
  // Reviews and previews want the engine at full strength, not the one that limits it.
  const testing_support::ScopedEnv limited("AI_PLAYERS_ELO_ENGINE", "/nonexistent/limited");
  RunningServer s(options_with(2));
  const json created =
      s.ok("POST", "/api/games", {{"persona", "Talvo"}, {"fen", "6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - - 0 1"}});
  const std::string game = "/api/games/" + created["id"].get<std::string>();
  const json hint = s.ok("GET", game + "/hint");
  EXPECT_EQ(s.call("POST", game + "/reply").first, 409);  // the human's turn
  const json mated = s.ok("POST", game + "/moves", {{"move", "Rd8"}});
  EXPECT_EQ(s.call("POST", game + "/moves", json{{"move", "Kf1"}}.dump()).first, 409);
  // The states, the hint and the game's PGN as the page gets them (the game's
  // id, the preview's time and the date set aside).
  std::string said;
  for (json state : {created, hint, mated}) {
    for (const char* varies : {"id", "preview_ms"})
      if (state.contains(varies)) state[varies] = "-";
    said += state.dump(1) + "\n";
  }
  const std::string pgn = s.call("GET", game + "/pgn").second;
  said += testing_support::dateless(pgn);
  testing_support::expect_as_in_file("serve_short_game.txt", said);
  const auto download = httplib::Client("127.0.0.1", s.port()).Get(game + "/pgn");  // saved under the game's name
  ASSERT_TRUE(download);
  EXPECT_EQ(download->get_header_value("Content-Disposition"),
            "attachment; filename=\"game-" + created["id"].get<std::string>() + ".pgn\"");

  // The review runs on its own: asking again says how far it got, then gives it.
  json review = s.ok("POST", game + "/review");
  for (int i = 0; i < 600 && review["status"] == "running"; ++i) {
    EXPECT_EQ(review["total"], 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    review = s.ok("POST", game + "/review");
  }
  ASSERT_EQ(review["status"], "done") << review.dump();
  ASSERT_EQ(review["moves"].size(), 1u);
  EXPECT_EQ(std::make_tuple(review["moves"][0]["coord"], review["moves"][0]["best_coord"], review["moves"][0]["fen"]),
            std::make_tuple(json("d1d8"), json("d1d8"), json("6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - - 0 1")));
  EXPECT_EQ(review["moves"][0]["judgement"], "good");
  EXPECT_NE(review["svg"].get<std::string>().find("<svg"), std::string::npos);
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
  ASSERT_FALSE(created["reply"].is_null());
  EXPECT_EQ(created["moves"].size(), 1u);
  EXPECT_EQ(created["turn"], "black");

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
  EXPECT_EQ(s.server().game_count(), 0u);
}

TEST(ServeApi, ErrorsAreJsonWithTheirStatusAndLeaveTheGameAloneUndoTakesBackMoves) {
  RunningServer s(options_with(1, false));
  const json created = s.ok("POST", "/api/games", {{"persona", "Talvo"}});
  const std::string game = "/api/games/" + created["id"].get<std::string>();
  const std::vector<std::array<std::string, 3>> cases = {
      {"POST", game + "/moves", R"({"move": "e2e5"})"},
      {"POST", game + "/moves", R"({"move": "Nf6"})"},
      {"POST", game + "/moves", R"({"move": 12})"},
      {"POST", game + "/moves", R"({})"},
      {"POST", game + "/moves", R"({"move": "e4")"},
      {"POST", game + "/moves", R"(["e4"])"},
      {"POST", game + "/undo", "{}"},  // no move of yours yet
      {"POST", game + "/draw", ""},     // no adviser on this server
      {"POST", game + "/reply", ""},    // your turn, not the persona's
      {"GET", "/api/games/nosuchgame", ""},
      {"GET", "/api/games/feed/pgn", ""},  // an id of the right form, and no such game
      {"POST", "/api/games/nosuchgame/moves", R"({"move": "e4"})"},
      {"DELETE", "/api/games/nosuchgame", ""},
      {"GET", "/api/nothing", ""},
      {"POST", "/api/games", R"({"persona": "Nobody"})"},
      {"POST", "/api/games", R"({"persona": "Talvo", "color": "green"})"},
      {"POST", "/api/games", R"({"persona": "Talvo", "fen": "8/8/8 w - - 0 1"})"},
      {"POST", "/api/positions", R"({"fen": "8/8/8 w - - 0 1"})"},
      {"POST", "/api/games", R"({"persona": "Talvo", "tc": "fast"})"},
      {"POST", "/api/games", R"({"persona": "Talvo", "movetime_ms": -1})"},
      {"POST", "/api/games", R"({"persona": "Talvo", "await_reply": 1})"},
      {"POST", "/api/games", R"({"persona": "Talvo"})"},  // max_games is 1
  };
  // Each refusal's status and words; the game as it was; a start position
  // checked without touching the game, and said without a flag's name.
  std::string said;
  for (const auto& [method, path, body] : cases) {
    const auto [status, answer] = s.call(method, path, body);
    said += method + " " + path + " " + body + "\n" + std::to_string(status) + " " + answer.dump() + "\n";
  }
  said += s.ok("GET", game).dump() + "\n";
  said += s.ok("POST", "/api/positions", {{"fen", "7k/8/8/8/8/8/8/K6R b - - 0 1"}}).dump() + "\n";
  said += s.ok("GET", "/api/personas").dump(1) + "\n";  // only those that can play
  testing_support::expect_as_in_file("serve_refusals.txt",
                                     testing_support::replace_all(said, created["id"].get<std::string>(), "ID"));
  // The PGN of no game is refused in the words of the game's own call, not with a bare status.
  EXPECT_EQ(s.call("GET", "/api/games/feed/pgn").second, s.call("GET", "/api/games/feed").second);

  // Undo takes back your move and the reply.
  const json first = s.ok("POST", game + "/moves", {{"move", "e4"}});
  s.ok("POST", game + "/moves", {{"move", "d2d4"}});
  const json undone = s.ok("POST", game + "/undo");
  for (const char* key : {"fen", "moves", "legal"}) EXPECT_EQ(undone[key], first[key]) << key;
  EXPECT_EQ(s.ok("POST", game + "/undo")["fen"], created["fen"]);

  // Resigning ends the game for good: undo cannot bring it back.
  s.ok("POST", game + "/moves", {{"move", "Nf3"}});
  EXPECT_EQ(s.ok("POST", game + "/resign")["result"]["termination"], "resignation");
  EXPECT_EQ(s.call("POST", game + "/undo").first, 409);
  EXPECT_EQ(s.ok("GET", game)["result"]["result"], "0-1");
}

TEST(ServeApi, ThinkLimitsMoveNowAndTheProgressOfAReply) {
  // Verevovera's depth probe finds little and waits for "stop": only the clock or move-now ends it.
  testing_support::FakeEngine fake(
      "on go infinite\n> info depth 9 seldepth 9 multipv 1 score cp 10 nodes 500 nps 1000 pv e7e5\n"
      "on stop\n> bestmove e7e5\n");
  {
    ServeOptions timed = options_with(2, false);  // serve --tc 300+5: a game that names no time gets it
    timed.clock = parse_time_control("300+5");
    RunningServer t(timed);
    EXPECT_EQ(t.ok("POST", "/api/games", {{"persona", "Talvo"}})["time"]["tc"], "300+5");
    // A reply's note comes with it: in a set-up position Horus has no previous move to answer.
    const json noted = t.ok("POST", "/api/games", {{"persona", "Horus"}, {"color", "black"},
                                                   {"fen", "4k3/8/8/8/8/8/4P3/4K3 w - - 0 1"}});
    EXPECT_TRUE(noted["reply"].value("note", "").starts_with("Horus has no previous move to answer")) << noted.dump();
  }
  RunningServer s(options_with(1));
  EXPECT_EQ(s.ok("GET", "/api/defaults")["think_limit_ms"], 10000);
  const json limited = s.ok("POST", "/api/games", {{"persona", "Verevovera"}, {"movetime_ms", 300}});
  EXPECT_EQ(limited["time"]["think_limit_ms"], 300);
  const std::string first = "/api/games/" + limited["id"].get<std::string>();
  const json cut = s.ok("POST", first + "/moves", {{"move", "d4"}});
  EXPECT_EQ(std::make_pair(cut["reply"]["san"], cut["reply"]["cut_short"]), std::make_pair(json("e5"), json(true)));
  s.ok("DELETE", first);

  const json open = s.ok("POST", "/api/games", {{"persona", "Verevovera"}, {"movetime_ms", 0}});
  EXPECT_TRUE(open["time"]["think_limit_ms"].is_null());
  const std::string game = "/api/games/" + open["id"].get<std::string>();
  auto answered = std::async(std::launch::async, [&] { return s.ok("POST", game + "/moves", {{"move", "d4"}}); });
  json seen;
  for (int i = 0; i < 200 && seen["time"]["thinking"]["depth"] != 9; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    seen = s.ok("GET", game);
  }
  EXPECT_EQ(seen["time"]["thinking"]["depth"], 9) << seen.dump();
  EXPECT_EQ(seen["time"]["thinking"]["search"], 1) << seen.dump();  // the probe is the reply's first search
  EXPECT_GT(seen["time"]["thinking"]["ms"], 0) << seen.dump();
  EXPECT_TRUE(seen["legal"].empty());
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
  const auto searching = [&] {
    for (const auto& line : fake.received())
      if (line.starts_with("go depth")) return true;
    return false;
  };
  for (int i = 0; i < 1000 && !searching(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(searching());
  const auto ended = std::chrono::steady_clock::now();
  s.ok("DELETE", game);
  EXPECT_EQ(hint.get(), 503);
  EXPECT_LT(std::chrono::steady_clock::now() - ended, std::chrono::seconds(10));  // not the 60 s watchdog
}

// What another web page, or a hostile client, sends is refused before any game starts.
TEST(ServeApi, RefusesForeignPagesBadBytesAndHugeBodies) {
  RunningServer s(options_with(1, false));
  httplib::Client client("127.0.0.1", s.port());
  const auto post = [&](const std::string& body, const httplib::Headers& headers, const char* type) {
    const auto res = client.Post("/api/games", headers, body, type);
    return res ? res->status : -1;
  };
  const std::string talvo = R"({"persona": "Talvo"})";
  EXPECT_EQ(post(talvo, {{"Host", "evil.example.com"}}, "application/json"), 403);
  EXPECT_EQ(post(talvo, {{"Origin", "http://evil.example.com"}}, "application/json"), 403);
  EXPECT_EQ(post(talvo, {}, "text/plain"), 403);  // a form a page may send across sites
  EXPECT_EQ(post("{\"persona\": \"Talvo\xff\"}", {}, "application/json"), 400);
  EXPECT_NE(client.Post("/api/games", {{"Host", "evil.example.com"}}, talvo, "application/json")->body.find(
                "requests must be addressed to this server (Host)"),
            std::string::npos);
  const auto huge = client.Post("/api/games", std::string(20 << 20, ' '), "application/json");
  EXPECT_TRUE(huge && huge->status == 413 && huge->body.find("the request is larger than") != std::string::npos);
  EXPECT_EQ(s.server().game_count(), 0u);
  const auto page = client.Get("/api/personas");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->get_header_value("X-Content-Type-Options"), "nosniff");
  EXPECT_NE(page->get_header_value("Content-Security-Policy").find("default-src 'self'"), std::string::npos);
  EXPECT_EQ(post(talvo, {{"Origin", "http://127.0.0.1:" + std::to_string(s.port())}}, "application/json"), 201);
}

// Clients that send their requests slowly do not hold every thread: the page is answered meanwhile.
TEST(ServeApi, SlowClientsLeaveThePageAnswered) {
  RunningServer s(options_with(1, false));
  std::vector<int> slow;
  for (int i = 0; i < 10; ++i) {
    const auto fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(s.port()));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    const std::string part = "GET /api/personas HTTP/1.1\r\nHost: 127.0.0.1\r\n";  // and no end of headers
    ASSERT_GT(::send(fd, part.data(), part.size(), MSG_NOSIGNAL), 0);
    slow.push_back(fd);
    // A moment for the server to accept it: its listen backlog is 5, and a
    // refused SYN is retried only after a second.
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  httplib::Client client("127.0.0.1", s.port());
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
  testing::internal::CaptureStderr();
  std::string id;
  {
    RunningServer s(options);
    id = s.ok("POST", "/api/games", {{"persona", "Talvo"}})["id"];
    EXPECT_EQ(s.server().game_count(), 1u);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (s.server().game_count() > 0 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(s.server().game_count(), 0u);
  }  // the reaper has said its line before the server ends
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("serve: game " + id + " was idle and has ended\n"), std::string::npos) << said;
}

}  // namespace
}  // namespace ai_players::app
