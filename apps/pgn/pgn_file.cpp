#include "pgn/pgn_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <fmt/format.h>

#include "ai_players/core/errors.h"
#include "game/user_error.h"

namespace ai_players::app {

PgnFile::PgnFile(std::string path, PgnWrite mode) : path_(std::move(path)) {
  const auto refuse = [this](const std::string& why) {
    throw UserError(fmt::format("cannot write the PGN file {}: {}", echoed(path_), why));
  };
  struct stat st {};
  if (::stat(path_.c_str(), &st) == 0) {
    // A device or a pipe can be neither checked, kept whole, cut back nor resumed.
    if (!S_ISREG(st.st_mode)) refuse("it is not a regular file");
    if (mode == PgnWrite::Fresh && st.st_size > 0)
      throw UserError(fmt::format("{} already holds games; give --resume to add to them or --force to replace them",
                                  echoed(path_)));
  }
  const int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | (mode == PgnWrite::Overwrite ? O_TRUNC : 0);
  fd_ = ::open(path_.c_str(), flags, 0644);
  if (fd_ < 0) refuse(std::strerror(errno));
  struct statvfs fs {};
  if (::fstatvfs(fd_, &fs) == 0 && fs.f_blocks > 0 && fs.f_bavail == 0) {
    ::close(fd_);
    refuse(std::strerror(ENOSPC));
  }
}

PgnFile::~PgnFile() {
  if (fd_ >= 0) ::close(fd_);
}

void PgnFile::append(std::string_view text) {
  struct stat st {};
  const off_t before = ::fstat(fd_, &st) == 0 ? st.st_size : -1;
  const auto fail = [&](int error) {
    // Half a game is worse than none: the file goes back to what it held.
    if (before >= 0) (void)!::ftruncate(fd_, before);
    throw Error(fmt::format("cannot write the PGN file {}: {}", echoed(path_), std::strerror(error)));
  };
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) fail(n < 0 ? errno : ENOSPC);
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd_) != 0) fail(errno);
}

}  // namespace ai_players::app
