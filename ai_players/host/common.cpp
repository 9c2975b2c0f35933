#include "ai_players/host/common.h"

#include <cstdlib>
#include <iostream>
#include <utility>

namespace ai_players::common {

int to_num(std::string_view coord) {
  if (coord.size() < 2 || coord[0] < 'a' || coord[0] > 'h' || coord[1] < '1' || coord[1] > '8')
    throw SquareError("not a square: \"" + std::string(coord) + "\"");
  return square(coord[0] - 'a' + 1, coord[1] - '0');
}

std::string to_coord(int sq) {
  if (!on_board(sq)) throw SquareError("not a square number: " + std::to_string(sq));
  return {static_cast<char>('a' + file_of(sq) - 1), static_cast<char>('0' + rank_of(sq))};
}

int distance_(int sq1, int sq2) {
  return std::max(std::abs(file_of(sq1) - file_of(sq2)), std::abs(rank_of(sq1) - rank_of(sq2)));
}

bool is_in_line(int sq1, int sq2, int sq3) {
  const int df = file_of(sq3) - file_of(sq1), dr = rank_of(sq3) - rank_of(sq1);
  if (df == 0 && dr == 0) return false;
  if (df != 0 && dr != 0 && std::abs(df) != std::abs(dr)) return false;
  const int steps = std::max(std::abs(df), std::abs(dr));
  const int step = 10 * (df > 0 ? 1 : df < 0 ? -1 : 0) + (dr > 0 ? 1 : dr < 0 ? -1 : 0);
  for (int i = 1; i < steps; ++i)
    if (sq1 + i * step == sq2) return true;
  return false;
}

namespace {
TextSink& echo_sink() {
  static TextSink sink;
  return sink;
}
TextSink& sound_sink() {
  static TextSink sink;
  return sink;
}
}  // namespace

void echo(std::string_view text) {
  if (auto& sink = echo_sink()) {
    sink(text);
  } else {
    std::cout << text << '\n' << std::flush;
  }
}

void play_sound(std::string_view name) {
  if (auto& sink = sound_sink()) {
    sink(name);
  } else {
    std::cerr << '\a' << std::flush;  // the terminal bell stands in for the sound file
    (void)name;
  }
}

TextSink set_echo_sink(TextSink sink) { return std::exchange(echo_sink(), std::move(sink)); }
TextSink set_play_sound_sink(TextSink sink) { return std::exchange(sound_sink(), std::move(sink)); }

}  // namespace ai_players::common
