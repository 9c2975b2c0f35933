// The outputs of a rated run: the table, the head-to-head and the TSV.
#include <fstream>

#include <fmt/format.h>

#include "ai_players/core/text.h"
#include "game/user_error.h"
#include "tournament/rating_report.h"
#include "tournament/run_output.h"

namespace ai_players::app {
namespace {

class RatingTableOutput : public RunOutput {
 public:
  explicit RatingTableOutput(std::ostream& out) : out_(out) {}
  void counted(const std::string& line) override { out_ << line; }
  void report(const RunReport& r) override {
    if (r.table) out_ << format_rating_table(*r.table, r.anchor_note) << '\n';
  }

 private:
  std::ostream& out_;
};

class HeadToHeadOutput : public RunOutput {
 public:
  explicit HeadToHeadOutput(std::ostream& out) : out_(out) {}
  void report(const RunReport& r) override {
    if (r.scores) out_ << format_head_to_head(*r.scores);
  }

 private:
  std::ostream& out_;
};

class RatingsTsvOutput : public RunOutput {
 public:
  explicit RatingsTsvOutput(std::string path) : path_(std::move(path)) {}
  void report(const RunReport& r) override {
    if (!r.table) return;
    std::ofstream tsv(path_);
    if (!(tsv << ratings_tsv(*r.table))) throw UserError(fmt::format("cannot write {}", echoed(path_)));
  }

 private:
  std::string path_;
};

}  // namespace

std::unique_ptr<RunOutput> rating_table_output(std::ostream& out) { return std::make_unique<RatingTableOutput>(out); }

std::unique_ptr<RunOutput> head_to_head_output(std::ostream& out) { return std::make_unique<HeadToHeadOutput>(out); }

std::unique_ptr<RunOutput> ratings_tsv_output(std::string path) {
  return std::make_unique<RatingsTsvOutput>(std::move(path));
}

}  // namespace ai_players::app
