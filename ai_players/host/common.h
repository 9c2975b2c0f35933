// Host settings and services: constants and small helpers the whole library uses.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "ai_players/core/errors.h"

namespace ai_players::common {

// Side values; the side that owns the positive piece codes is WHITE.
inline constexpr int WHITE = 1;
inline constexpr int BLACK = -WHITE;

// Piece codes double as material values in centipawns. Knight sits strictly
// below Bishop so that a lone knight attacker can be told apart.
inline constexpr int Pawn = 100;
inline constexpr int Knight = 300;
inline constexpr int Bishop = 310;
inline constexpr int Rook = 500;
inline constexpr int Queen = 900;
inline constexpr int King = 2000;

// A mate in x scores MATE - x * MATECP: far above any centipawn score an
// engine reports, even for long mates.
inline constexpr int MATE = 1000000;
inline constexpr int MATECP = 1000;

inline constexpr std::array<int, 2> QUEENS = {Queen, -Queen};

inline constexpr std::string_view FEN_New_Game =
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";

// Square number = 10 * file + rank, both 1..8 (a1 = 11, h8 = 88).
constexpr int square(int file, int rank) { return 10 * file + rank; }
constexpr int file_of(int sq) { return sq / 10; }
constexpr int rank_of(int sq) { return sq % 10; }
constexpr bool on_board(int sq) {
  return file_of(sq) >= 1 && file_of(sq) <= 8 && rank_of(sq) >= 1 && rank_of(sq) <= 8;
}

inline constexpr int A1 = 11, A8 = 18, B1 = 21, B8 = 28, C1 = 31, C8 = 38, D2 = 42,
                     D7 = 47, E2 = 52, E7 = 57, F1 = 61, F8 = 68, G1 = 71, G8 = 78,
                     H1 = 81, H8 = 88;

// A square text or number that names no square.
struct SquareError : Error {
  using Error::Error;
};

// "e2" -> 52. Throws SquareError for a text that names no square.
int to_num(std::string_view coord);
// 52 -> "e2". Throws SquareError for a number that names no square.
std::string to_coord(int sq);

// King distance: the larger of the file and rank differences.
int distance_(int sq1, int sq2);

// True when sq2 lies strictly between sq1 and sq3 on one rank, file or diagonal.
bool is_in_line(int sq1, int sq2, int sq3);

// Host services. Their sinks can be replaced, e.g. so that a UCI front end
// keeps standard output clean. Passing an empty function restores the default.
using TextSink = std::function<void(std::string_view)>;
void echo(std::string_view text);
void play_sound(std::string_view name);
TextSink set_echo_sink(TextSink sink);        // returns the previous sink
TextSink set_play_sound_sink(TextSink sink);  // returns the previous sink

// Installs a sink with `Set` while alive and puts the previous one back when
// destroyed, also when the scope is left by an exception. Guards nest.
template <TextSink (*Set)(TextSink)>
class ScopedSink {
 public:
  explicit ScopedSink(TextSink sink) : previous_(Set(std::move(sink))) {}
  ~ScopedSink() { Set(std::move(previous_)); }
  ScopedSink(const ScopedSink&) = delete;
  ScopedSink& operator=(const ScopedSink&) = delete;

 private:
  TextSink previous_;
};

// common::ScopedEchoSink quiet([](std::string_view) {});
using ScopedEchoSink = ScopedSink<&set_echo_sink>;
using ScopedPlaySoundSink = ScopedSink<&set_play_sound_sink>;

}  // namespace ai_players::common
