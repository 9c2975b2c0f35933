#include "pgn/pgn_reader.h"

#include <cctype>

#include <fmt/format.h>

#include "ai_players/core/text.h"

namespace ai_players::app {
namespace {

bool is_space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
bool is_digit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

// Characters that end a move-text token without being part of it.
bool is_delimiter(char c) {
  return is_space(c) || c == '{' || c == '}' || c == '(' || c == ')' || c == ';' || c == '[' ||
         c == ']' || c == '$';
}

bool is_result(std::string_view t) { return t == "1-0" || t == "0-1" || t == "1/2-1/2" || t == "*"; }

// What SAN (with the zero castling and pawn letter some programs write) is made of.
bool is_san_text(std::string_view t) {
  if (t.empty()) return false;
  if (std::string_view("abcdefghKQRBNPO").find(t.front()) == std::string_view::npos) return false;
  for (char c : t)
    if (std::string_view("abcdefgh12345678KQRBNPOx=+#-:").find(c) == std::string_view::npos) return false;
  return true;
}

}  // namespace

PgnError::PgnError(int game_, int line_, const std::string& problem_)
    : UserError(fmt::format("game {}, line {}: {}", game_, line_, problem_)),
      game(game_),
      line(line_),
      problem(problem_) {}

PgnReader::PgnReader(std::istream& in) : in_(in) {}

bool PgnReader::next_line() {
  if (!std::getline(in_, line_)) {
    line_.clear();
    pos_ = 0;
    return false;
  }
  ++line_no_;
  if (!line_.empty() && line_.back() == '\r') line_.pop_back();
  if (line_no_ == 1 && line_.starts_with("\xEF\xBB\xBF")) line_.erase(0, 3);
  pos_ = 0;
  // A '%' in the first column escapes the whole line.
  if (line_.starts_with("%")) pos_ = line_.size();
  return true;
}

std::string PgnReader::read_comment() {
  const int opened_at = line_no_;
  std::string text;
  ++pos_;
  for (;;) {
    const std::size_t end = line_.find('}', pos_);
    text += line_.substr(pos_, end == std::string::npos ? std::string::npos : end - pos_);
    if (end != std::string::npos) {
      pos_ = end + 1;
      return strip(text);
    }
    text += ' ';
    if (!next_line()) {
      line_no_ = opened_at;
      fail("a comment '{' that is never closed", true);
    }
  }
}

// The first comment after a move is the move's own; the ones after it are
// the game's closing comment if the result follows, else the move's too.
void PgnReader::note_comment(PgnGame& game, const std::string& text) {
  if (game.san.empty() || text.empty()) return;  // before the first move: about the game, not kept
  game.comments.resize(game.san.size());
  if (!commented_) game.comments.back() = text;
  else game.final_comment += (game.final_comment.empty() ? "" : " ") + text;
  commented_ = true;
}

void PgnReader::read_tag(PgnGame& record) {
  ++pos_;
  while (pos_ < line_.size() && is_space(line_[pos_])) ++pos_;
  std::string name;
  while (pos_ < line_.size() && (std::isalnum(static_cast<unsigned char>(line_[pos_])) || line_[pos_] == '_'))
    name += line_[pos_++];
  if (name.empty()) fail("a tag without a name", false);
  while (pos_ < line_.size() && is_space(line_[pos_])) ++pos_;
  if (pos_ >= line_.size() || line_[pos_] != '"') fail(fmt::format("the value of tag {} is not quoted", echoed(name)), false);
  ++pos_;
  std::string value;
  for (;;) {
    if (pos_ >= line_.size()) fail(fmt::format("the value of tag {} is not closed", echoed(name)), false);
    const char c = line_[pos_++];
    if (c == '"') break;
    if (c == '\\' && pos_ < line_.size()) {
      value += line_[pos_++];
      continue;
    }
    value += c;
  }
  while (pos_ < line_.size() && is_space(line_[pos_])) ++pos_;
  if (pos_ >= line_.size() || line_[pos_] != ']') fail(fmt::format("tag {} has no closing ']'", echoed(name)), false);
  ++pos_;
  record.tags.emplace_back(std::move(name), std::move(value));
}

void PgnReader::add_token(PgnGame& record, std::string token) {
  if (is_digit(token.front())) {
    if (token.starts_with("0-0")) {
      // Zero castling, as some programs write it.
      for (char& c : token)
        if (c == '0') c = 'O';
    } else {
      std::size_t i = 0;
      while (i < token.size() && is_digit(token[i])) ++i;
      if (i == token.size() || token[i] != '.') fail(fmt::format("{} is neither a move nor a move number", echoed(token)), true);
      token.erase(0, i);
    }
  }
  while (!token.empty() && token.front() == '.') token.erase(0, 1);  // "12." and "12..." number moves
  while (!token.empty() && (token.back() == '!' || token.back() == '?')) token.pop_back();
  if (token.empty() || token == "e.p.") return;
  if (token == "--" || token == "Z0") fail("a null move, which has no place in a game to replay", true);
  if (!is_san_text(token)) fail(fmt::format("{} is not a move", echoed(token)), true);
  if (!record.final_comment.empty()) {  // not the closing comment after all
    record.comments.back() += " " + record.final_comment;
    record.final_comment.clear();
  }
  record.san.push_back(std::move(token));
  commented_ = false;
}

void PgnReader::fail(const std::string& problem, bool in_movetext) {
  const int line = line_no_;
  // Skip to the next game: the first tag line after some move text.
  bool seen_movetext = in_movetext;
  while (next_line()) {
    std::size_t first = 0;
    while (first < line_.size() && is_space(line_[first])) ++first;
    if (first == line_.size() || line_.starts_with("%")) continue;
    if (line_[first] == '[') {
      if (seen_movetext) {
        pos_ = 0;
        break;
      }
    } else {
      seen_movetext = true;
    }
  }
  throw PgnError(game_, line, problem);
}

std::optional<PgnGame> PgnReader::next() {
  PgnGame record;
  commented_ = false;
  bool started = false;
  bool in_movetext = false;
  int depth = 0;  // of variations, which are skipped
  auto start = [&] {
    if (!started) ++game_;
    started = true;
  };
  for (;;) {
    if (pos_ >= line_.size()) {
      if (!next_line()) break;
      continue;
    }
    const char c = line_[pos_];
    if (is_space(c)) {
      ++pos_;
    } else if (c == '{') {
      const std::string text = read_comment();
      if (depth == 0) note_comment(record, text);
    } else if (c == ';') {
      pos_ = line_.size();
    } else if (c == '[' && depth == 0) {
      if (in_movetext) break;  // a game without a termination marker
      start();
      read_tag(record);
    } else if (c == '(') {
      start();
      in_movetext = true;
      ++depth;
      ++pos_;
    } else if (c == ')') {
      start();
      if (depth == 0) fail("a ')' without its '('", true);
      --depth;
      ++pos_;
    } else {
      start();
      in_movetext = true;
      std::size_t end = pos_ + 1;
      while (end < line_.size() && !is_delimiter(line_[end])) ++end;
      std::string token = line_.substr(pos_, end - pos_);
      pos_ = end;
      if (depth > 0 || c == '$') continue;  // variation content, NAG
      if (c == ']') fail("a ']' outside a tag", true);
      if (is_result(token)) {
        record.result = token;
        return record;
      }
      add_token(record, std::move(token));
    }
  }
  if (!started) return std::nullopt;
  if (depth > 0) fail("a variation '(' that is never closed", true);
  std::string tagged = record.tag("Result");
  record.result = is_result(tagged) ? std::move(tagged) : std::string(1, '*');
  return record;
}

std::vector<PgnGame> read_pgn(std::istream& in, std::vector<std::string>* problems) {
  std::vector<PgnGame> games;
  PgnReader reader(in);
  for (;;) {
    try {
      auto game = reader.next();
      if (!game) break;
      games.push_back(std::move(*game));
    } catch (const PgnError& e) {
      if (!problems) throw;
      problems->push_back(e.what());
    }
  }
  return games;
}

}  // namespace ai_players::app
