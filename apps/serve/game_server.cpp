#include "serve/game_server.h"

#include <filesystem>
#include <functional>
#include <vector>

#include <fmt/format.h>
#include <httplib.h>

#include "ai_players/core/errors.h"
#include "ai_players/core/text.h"
#include "ai_players/personas/safe_reply.h"
#include "serve/api.h"
#include "serve/bounded_server.h"
#include "game/data_files.h"
#include "game/numbers.h"
#include "game/user_error.h"

namespace ai_players::app {
namespace {

// Every failure as the status people and pages expect, said in one place.
int status_of(const std::exception& e) {
  if (const auto* api = dynamic_cast<const ApiError*>(&e)) return api->status;
  if (dynamic_cast<const NotNowError*>(&e)) return 409;
  if (dynamic_cast<const NotAvailableError*>(&e)) return 503;
  if (dynamic_cast<const UserError*>(&e) || dynamic_cast<const board::FenError*>(&e) ||
      dynamic_cast<const board::IllegalMoveError*>(&e))
    return 400;
  if (dynamic_cast<const EngineError*>(&e)) return 503;
  return 500;
}

void send_json(httplib::Response& res, const json& body) {
  // Text from outside (a FEN, a move) may come back in a message: never let bad bytes break the answer.
  res.set_content(body.dump(-1, ' ', false, json::error_handler_t::replace), "application/json");
}

void answer(httplib::Response& res, const std::function<json()>& handler) {
  try {
    send_json(res, handler());
  } catch (const std::exception& e) {
    res.status = status_of(e);
    send_json(res, json{{"error", failure_text(e)}});
  }
}

bool is_wildcard(const std::string& host) { return host == "0.0.0.0" || host == "::"; }

std::string host_in_url(const std::string& host) {
  return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

}  // namespace

struct GameServer::Impl {
  explicit Impl(ServeOptions o) : options(std::move(o)), api(options) {}

  ServeOptions options;
  GameApi api;
  // A reply keeps its request's thread waiting; every game may have one
  // waiting (and a "move now" beside it), and slow clients some more, while
  // the page is still answered.
  BoundedServer http{RequestLimits{}, 2 * static_cast<std::size_t>(options.max_games) + 128};
  int port = 0;

  // Only requests meant for this server, from its own page: another web page
  // the user visits must not create games here.
  std::optional<std::string> refusal(const httplib::Request& req) const {
    if (!is_wildcard(options.host)) {
      const std::string host = req.get_header_value("Host");
      bool known = false;
      for (const std::string& name : {host_in_url(options.host), std::string("localhost"), std::string("127.0.0.1"),
                                      std::string("[::1]")})
        known = known || host == name || host == fmt::format("{}:{}", name, port);
      if (!known) return "requests must be addressed to this server (Host)";
    }
    if (req.method != "GET" && req.method != "HEAD") {
      const std::string origin = req.get_header_value("Origin");
      if (!origin.empty() && origin != "http://" + req.get_header_value("Host"))
        return "requests from other web pages are refused";
      // The body is not read yet: judge it by its headers. A page may send
      // text/plain or a form across sites without asking; JSON it may not.
      const std::string type = req.get_header_value("Content-Type");
      const bool has_body = (req.has_header("Content-Length") && req.get_header_value("Content-Length") != "0") ||
                            req.has_header("Transfer-Encoding");
      if (has_body && type.rfind("application/json", 0) != 0)
        return "the request body must be sent as application/json";
    }
    if (!is_valid_utf8(req.path)) return "the request is not valid UTF-8";
    return std::nullopt;
  }

  void route(const std::string& method, const std::string& pattern,
             std::function<json(const httplib::Request&)> handler, int success = 200) {
    const auto wrapped = [handler = std::move(handler), success](const httplib::Request& req, httplib::Response& res) {
      res.status = success;
      answer(res, [&] {
        if (!is_valid_utf8(req.body)) throw ApiError(400, "the request is not valid UTF-8");
        return handler(req);
      });
    };
    if (method == "GET") http.Get(pattern, wrapped);
    else if (method == "POST") http.Post(pattern, wrapped);
    else http.Delete(pattern, wrapped);
  }

  void routes();
};

void GameServer::Impl::routes() {
  const std::string game = R"(/api/games/([0-9a-f]{1,32}))";
  const auto id = [](const httplib::Request& req) { return req.matches[1].str(); };
  route("GET", "/api/personas", [this](const auto&) { return api.personas(); });
  route("GET", "/api/defaults", [this](const auto&) { return api.defaults(); });
  route("POST", "/api/positions", [this](const auto& req) { return api.position(parse_body(req.body)); });
  route("POST", "/api/games", [this](const auto& req) { return api.create(parse_body(req.body), BoundedServer::client_gone); }, 201);
  route("GET", game, [this, id](const auto& req) { return api.state(id(req)); });
  route("DELETE", game, [this, id](const auto& req) { return api.end(id(req)); });
  route("POST", game + "/moves", [this, id](const auto& req) { return api.move(id(req), parse_body(req.body)); });
  route("POST", game + "/move-now", [this, id](const auto& req) { return api.move_now(id(req)); });
  route("POST", game + "/reply", [this, id](const auto& req) { return api.reply(id(req)); });
  route("POST", game + "/undo", [this, id](const auto& req) { return api.undo(id(req)); });
  route("POST", game + "/resign", [this, id](const auto& req) { return api.resign(id(req)); });
  route("POST", game + "/draw", [this, id](const auto& req) { return api.draw(id(req)); });
  route("GET", game + "/hint", [this, id](const auto& req) { return api.hint(id(req)); });
  route("POST", game + "/review", [this, id](const auto& req) { return api.review(id(req)); });
  const auto pgn_route = [this](const std::string& pattern, std::function<std::string(const std::string&)> text,
                                const std::string& file) {
    http.Get(pattern, [text = std::move(text), file](const httplib::Request& req, httplib::Response& res) {
      try {
        res.set_content(text(req.matches[1].str()), "application/x-chess-pgn");
        res.set_header("Content-Disposition", fmt::format("attachment; filename=\"{}-{}.pgn\"", file, req.matches[1].str()));
      } catch (const std::exception& e) {
        res.status = status_of(e);
        send_json(res, json{{"error", failure_text(e)}});
      }
    });
  };
  pgn_route(game + "/pgn", [this](const std::string& g) { return api.pgn(g); }, "game");
  // The player's stored games: what the page's "Your games" shows.
  const std::string saved = R"(/api/saved-games/([0-9]{1,18}))";
  const auto number = [](const httplib::Request& req) { return std::stoll(req.matches[1].str()); };
  route("GET", "/api/saved-games", [this](const auto& req) {
    GameFilter filter;
    filter.persona = req.get_param_value("persona");
    filter.result = req.get_param_value("result");
    if (!filter.result.empty() && filter.result != "won" && filter.result != "lost" && filter.result != "drawn" &&
        filter.result != "unfinished")
      throw UserError("\"result\" must be won, lost, drawn or unfinished");
    return api.saved_games(filter);
  });
  route("POST", saved + "/continue", [this, number](const auto& req) { return api.continue_saved(number(req)); });
  route("POST", saved + "/review", [this, number](const auto& req) { return api.review_saved(number(req)); });
  pgn_route(saved + "/pgn", [this](const std::string& g) { return api.saved_pgn(std::stoll(g)); }, "saved-game");
  route("GET", "/api/rating", [this](const auto& req) {
    const std::string target = req.has_param("target") ? req.get_param_value("target") : "50";
    return api.rating(static_cast<double>(read_whole(target, "\"target\"", 1, 99)) / 100);
  });
  http.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    const auto why = refusal(req);
    if (!why) return httplib::Server::HandlerResponse::Unhandled;
    res.status = *why == "the request is not valid UTF-8" ? 400 : 403;
    send_json(res, json{{"error", *why}});
    return httplib::Server::HandlerResponse::Handled;
  });
  http.set_post_routing_handler([](const httplib::Request&, httplib::Response& res) {
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("Content-Security-Policy",
                   "default-src 'self'; img-src 'self' data:; style-src 'self' 'unsafe-inline'; frame-ancestors 'none'");
  });
  // Anything else under /api is an unknown call, not a missing file.
  http.set_error_handler([](const httplib::Request& req, httplib::Response& res) {
    if (!res.body.empty()) return;
    if (res.status == 413) return send_json(res, json{{"error", too_large_text(RequestLimits{}.body_bytes)}});
    if (req.path.rfind("/api/", 0) != 0) return;
    send_json(res, json{{"error", res.status == 404 ? fmt::format("no such call: {} {}", req.method, req.path)
                                                     : fmt::format("HTTP status {} for {} {}", res.status, req.method, req.path)}});
  });
  if (!options.web_root.empty() && !http.set_mount_point("/", options.web_root))
    throw UserError("the page's folder " + options.web_root + " does not exist");
}

ServeOptions checked(ServeOptions o) {
  if (o.host.empty() || o.host.find_first_of(" /\\") != std::string::npos)
    throw UserError(fmt::format("{} is not an address to listen on", echoed(o.host)));
  return o;
}

GameServer::GameServer(ServeOptions options) : impl_(std::make_unique<Impl>(checked(std::move(options)))) {
  impl_->http.set_keep_alive_timeout(2);
  impl_->http.set_read_timeout(5, 0);
  impl_->http.set_write_timeout(5, 0);
  // Headers and body go out in separate writes; without this, Nagle and the
  // client's delayed ACK add 40 ms to every answer.
  impl_->http.set_tcp_nodelay(true);
  impl_->routes();
}

GameServer::~GameServer() { stop(); }

int GameServer::bind() {
  const ServeOptions& o = impl_->options;
  const int port = o.port == 0 ? impl_->http.bind_to_any_port(o.host)
                               : (impl_->http.bind_to_port(o.host, o.port) ? o.port : -1);
  if (port < 0)
    throw UserError(fmt::format("cannot listen on {}:{} (in use, or not an address of this machine)",
                                o.host, o.port));
  impl_->http.widen_backlog();
  impl_->port = port;
  return port;
}

void GameServer::run() { impl_->http.listen_after_bind(); }

void GameServer::stop() {
  impl_->api.games().close();
  impl_->http.stop();
}

std::size_t GameServer::game_count() const { return impl_->api.games().size(); }

std::string default_web_root() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  std::vector<std::filesystem::path> candidates;
  if (!ec) candidates = {exe.parent_path() / "web", exe.parent_path().parent_path() / "web"};
  candidates.emplace_back(source_web_root());  // a build kept apart from its sources
  for (const auto& candidate : candidates)
    if (std::filesystem::is_regular_file(candidate / "index.html", ec)) return candidate.string();
  return {};
}

}  // namespace ai_players::app
