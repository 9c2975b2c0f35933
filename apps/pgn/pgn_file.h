// The file a command writes its games to: checked before the first game,
// never emptied unless asked, and each game on disk once it is written.
#pragma once

#include <string>
#include <string_view>

namespace ai_players::app {

enum class PgnWrite {
  Fresh,      // refuse a file that already holds something
  Append,     // --resume: the games go after those already there
  Overwrite,  // --force: what the file held is replaced
};

class PgnFile {
 public:
  // Opens (or creates) `path`, a regular file in a folder that exists, and
  // checks that it can take games. Throws UserError naming the path and why not.
  PgnFile(std::string path, PgnWrite mode);
  ~PgnFile();
  PgnFile(const PgnFile&) = delete;
  PgnFile& operator=(const PgnFile&) = delete;

  // Appends the text in one piece and waits until it is on disk. A write
  // that fails leaves the file as it was and throws Error with the path and
  // the reason.
  void append(std::string_view text);
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
};

}  // namespace ai_players::app
