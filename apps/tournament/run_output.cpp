#include "tournament/run_output.h"

#include <fmt/format.h>

namespace ai_players::app {

RunOutputs& RunOutputs::add(std::unique_ptr<RunOutput> output) {
  outputs_.push_back(std::move(output));
  return *this;
}

void RunOutputs::started(const RunStart& start) {
  for (auto& o : outputs_) o->started(start);
}

void RunOutputs::game(const GameEnd& end) {
  for (auto& o : outputs_) o->game(end);
}

void RunOutputs::tested(const Sprt& sprt) {
  for (auto& o : outputs_) o->tested(sprt);
}

void RunOutputs::counted(const std::string& line) {
  for (auto& o : outputs_) o->counted(line);
}

void RunOutputs::report(const RunReport& report) {
  for (auto& o : outputs_) o->report(report);
}

void RunOutputs::finish() {
  for (auto& o : outputs_) o->finish();
}

namespace {

class PgnOutput : public RunOutput {
 public:
  PgnOutput(std::unique_ptr<PgnFile> file, std::ostream& out) : file_(std::move(file)), out_(out) {}
  void game(const GameEnd& end) override {
    if (end.game) file_->append(end.pgn_text);
  }
  void finish() override { out_ << fmt::format("PGN written to {}\n", file_->path()); }

 private:
  std::unique_ptr<PgnFile> file_;
  std::ostream& out_;
};

}  // namespace

std::unique_ptr<RunOutput> pgn_output(std::unique_ptr<PgnFile> file, std::ostream& out) {
  return std::make_unique<PgnOutput>(std::move(file), out);
}

}  // namespace ai_players::app
