// What a match, a tournament or `ratings` writes of its games. The PGN file,
// the line per game (a match's progress bar), the rating table, the
// head-to-head, the TSV, the SPRT report and a match's summary are each one
// RunOutput; the command line chooses which, and the run tells them all what
// happens, in the order they were chosen. A new format is one more RunOutput,
// in a file of its own.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "pgn/pgn_file.h"
#include "pgn/pgn_game.h"
#include "tournament/match_stats.h"
#include "tournament/rating_fit.h"
#include "tournament/sprt.h"

namespace ai_players::app {

struct RunStart {
  std::string heading;  // the run's first line for the log; empty: none
  std::vector<std::string> names;
  std::size_t total = 0;  // the games to play
};

// A game that ended, or could not be played.
struct GameEnd {
  int number = 0;  // in the whole run, from 1
  std::string white, black;
  const PgnGame* game = nullptr;  // none when it could not be played
  std::string pgn_text;           // the game as it goes into a PGN file
  std::string failure;            // why it could not be played
  const Tally* tally = nullptr;   // a match: the first-named player's score so far
};

// A match's end: its players in the order named, and how its games went.
struct MatchResult {
  std::string first, second;
  int games = 0;
  std::uint64_t seed = 0;
  Tally tally;
  std::map<std::string, int> endings;  // by termination text
  std::string player_notes;            // fallbacks, cuts and restarts, a line each
};

// The run's games, rated (tournament, ratings) or counted (match).
struct RunReport {
  const std::vector<GameScore>* scores = nullptr;
  const RatingTable* table = nullptr;
  std::string anchor_note;
  const Sprt* sprt = nullptr;
  const MatchResult* match = nullptr;
};

class RunOutput {
 public:
  virtual ~RunOutput() = default;
  virtual void started(const RunStart&) {}
  // Throws Error when the output cannot take the game (a PGN file that cannot be written).
  virtual void game(const GameEnd&) {}
  // The SPRT after a pair of games.
  virtual void tested(const Sprt&) {}
  // The games counted, before they are rated (which may fail): "40 games, seed 7".
  virtual void counted(const std::string&) {}
  virtual void report(const RunReport&) {}
  // After every report: where the files are.
  virtual void finish() {}
};

// The outputs a command line chose, each told every event in turn.
class RunOutputs {
 public:
  RunOutputs& add(std::unique_ptr<RunOutput> output);
  void started(const RunStart& start);
  void game(const GameEnd& end);
  void tested(const Sprt& sprt);
  void counted(const std::string& line);
  void report(const RunReport& report);
  void finish();

 private:
  std::vector<std::unique_ptr<RunOutput>> outputs_;
};

// Each game appended to `file`; "PGN written to ..." on `out` at the end.
std::unique_ptr<RunOutput> pgn_output(std::unique_ptr<PgnFile> file, std::ostream& out);
// The tournament's heading, then a line per game and the standings so far.
std::unique_ptr<RunOutput> game_lines_output(std::ostream& log);
// A match's bar of games played and its score so far.
std::unique_ptr<RunOutput> match_progress_output(std::ostream& log);
// A match's score, Elo difference and endings.
std::unique_ptr<RunOutput> match_summary_output(std::ostream& out);
// The games counted, and the rating table.
std::unique_ptr<RunOutput> rating_table_output(std::ostream& out);
std::unique_ptr<RunOutput> head_to_head_output(std::ostream& out);
// The table as the file the program reads measured strengths from.
std::unique_ptr<RunOutput> ratings_tsv_output(std::string path);
// The test's state after each pair on `log`, and in the report on `out`.
std::unique_ptr<RunOutput> sprt_output(std::ostream& log, std::ostream& out);

}  // namespace ai_players::app
