#include "platform/rtl/OpenFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

std::string NotAFileReason(mode_t Mode) {
  if (S_ISREG(Mode)) return std::string();
  if (S_ISDIR(Mode)) return std::strerror(EISDIR);
  if (S_ISFIFO(Mode)) return "Is a named pipe";
  if (S_ISSOCK(Mode)) return "Is a socket";
  if (S_ISCHR(Mode)) return "Is a character device";
  if (S_ISBLK(Mode)) return "Is a block device";
  return "Is not a regular file";
}

namespace {

int Refuse(mode_t Mode, int& Error, std::string& Reason) {
  Error = S_ISDIR(Mode) ? EISDIR : ENODEV;
  Reason = NotAFileReason(Mode);
  return -1;
}

}  // namespace

int OpenRegularFile(const std::string& Path, int Flags, int& Error, std::string& Reason) {
  // Looked at first, so that no device is ever opened; a name that does not exist yet is left
  // to the open, which says why or makes the file.
  struct stat st;
  if (::stat(Path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
    return Refuse(st.st_mode, Error, Reason);
  // The name may have been replaced since: the open does not wait on a pipe that appeared
  // meanwhile, and what was opened is looked at once more.
  const int fd = ::open(Path.c_str(), Flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  if (fd < 0) {
    Error = errno;
    Reason = std::strerror(Error);
    return -1;
  }
  if (::fstat(fd, &st) != 0) {
    Error = errno;
    Reason = std::strerror(Error);
    ::close(fd);
    return -1;
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return Refuse(st.st_mode, Error, Reason);
  }
  // A regular file never makes a read wait; the flag goes so the handle is like any other.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}
