#include "pgn/openings.h"

#include <fstream>
#include <sstream>

#include <fmt/format.h>

#include "ai_players/host/board.h"
#include "ai_players/core/text.h"
#include "ai_players/host/common.h"
#include "game/data_files.h"
#include "pgn/pgn_reader.h"

namespace ai_players::app {
namespace {

bool looks_like_pgn(const std::string& text) {
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    line = strip(line);
    if (line.empty() || line[0] == '#' || line[0] == '%') continue;
    return line[0] == '[' || line.starts_with("1.");
  }
  return false;
}

// "rnbqkbnr/... w KQkq - id \"name\";" -> a FEN with counters and the id.
Opening epd_line(const std::string& line, const std::string& where) {
  std::istringstream in(line);
  std::string fields[4];
  for (auto& f : fields)
    if (!(in >> f)) throw OpeningError(fmt::format("{}: an EPD position needs four fields", where));
  std::string ops;
  std::getline(in, ops);
  std::string halfmoves = "0", fullmove = "1", name;
  std::istringstream op_in(ops);
  for (std::string op; std::getline(op_in, op, ';');) {
    std::istringstream words(strip(op));
    std::string code, operand;
    words >> code;
    std::getline(words, operand);
    operand = strip(operand);
    if (operand.size() >= 2 && operand.front() == '"' && operand.back() == '"')
      operand = operand.substr(1, operand.size() - 2);
    if (code == "hmvc") halfmoves = operand;
    if (code == "fmvn") fullmove = operand;
    if (code == "id") name = operand;
  }
  Opening opening{name, fmt::format("{} {} {} {} {} {}", fields[0], fields[1], fields[2], fields[3], halfmoves,
                                    fullmove), {}};
  try {
    board::Board check(opening.fen);
    if (check.game_end() != board::GameEnd::None) throw OpeningError(fmt::format("{}: the game is over there", where));
  } catch (const std::exception& e) {
    if (dynamic_cast<const OpeningError*>(&e)) throw;
    throw OpeningError(fmt::format("{}: {}", where, e.what()));
  }
  return opening;
}

Opening pgn_opening(const PgnGame& record, const std::string& where) {
  Opening opening;
  opening.name = record.tag("Opening");
  if (opening.name.empty()) opening.name = record.tag("Event") == "?" ? "" : record.tag("Event");
  opening.fen = record.start_fen();
  try {
    board::Board position(opening.fen);
    for (const board::MovePtr& move : record.moves()) {
      opening.moves.push_back(move->to_coord());
      position.make_internal_move(*move);
    }
    if (position.game_end() != board::GameEnd::None) throw std::runtime_error("the game is over at its end");
  } catch (const std::exception& e) {
    throw OpeningError(fmt::format("{}: {}", where, e.what()));
  }
  return opening;
}

}  // namespace

std::vector<Opening> read_openings(std::istream& in, const std::string& source) {
  std::stringstream buffer;
  buffer << in.rdbuf();
  const std::string text = buffer.str();
  std::vector<Opening> openings;
  if (looks_like_pgn(text)) {
    std::istringstream pgn(text);
    std::vector<PgnGame> records;
    try {
      records = read_pgn(pgn);
    } catch (const PgnError& e) {
      throw OpeningError(fmt::format("{}: {}", source, e.what()));
    }
    for (std::size_t i = 0; i < records.size(); ++i)
      openings.push_back(pgn_opening(records[i], fmt::format("{}, game {}", source, i + 1)));
  } else {
    std::istringstream lines(text);
    int number = 0;
    for (std::string line; std::getline(lines, line);) {
      ++number;
      line = strip(line);
      if (line.empty() || line[0] == '#') continue;
      openings.push_back(epd_line(line, fmt::format("{}, line {}", source, number)));
    }
  }
  if (openings.empty()) throw OpeningError(fmt::format("{} holds no start positions", source));
  return openings;
}

std::vector<Opening> read_openings_file(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw OpeningError(fmt::format("cannot read the openings file '{}'", path));
  return read_openings(in, path);
}

std::string default_openings_path() { return data_file("openings.pgn"); }

}  // namespace ai_players::app
