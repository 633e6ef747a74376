#include "platform/rtl/ScratchFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace {

constexpr std::size_t kRandomPart = 6;

// Whether Name still names the file open as Handle.
bool StillNamed(int Handle, const std::string& Name) {
  struct stat open, named;
  return ::fstat(Handle, &open) == 0 && ::lstat(Name.c_str(), &named) == 0 &&
         open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

bool IsScratchName(const std::string& Name, const std::string& Prefix) {
  if (Name.size() != Prefix.size() + kRandomPart || Name.compare(0, Prefix.size(), Prefix) != 0)
    return false;
  for (std::size_t i = Prefix.size(); i < Name.size(); ++i)
    if (!std::isalnum(static_cast<unsigned char>(Name[i]))) return false;
  return true;
}

}  // namespace

int CreateLockedScratchFile(std::string& Template) {
  // Between making the file and locking it, a save in another program may have found it
  // unlocked and removed it as a leftover; then the name is gone (or names another file) and a
  // new one is made.
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = Template;
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && StillNamed(fd, name)) {
      Template = name;
      return fd;
    }
    ::close(fd);
  }
  errno = EEXIST;
  return -1;
}

void RemoveAbandonedScratchFiles(const std::string& Folder, const std::string& Prefix) {
  DIR* dir = ::opendir(Folder.empty() ? "." : Folder.c_str());
  if (dir == nullptr) return;
  const uid_t me = ::geteuid();
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (!IsScratchName(name, Prefix)) continue;
    const std::string path = Folder + name;
    // Never through a link, never waiting on whatever else may carry such a name.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st;
    // The lock is free only when no program is writing the file; it is held until the file is
    // gone, so no writer can take it meanwhile.
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == me &&
        ::flock(fd, LOCK_EX | LOCK_NB) == 0 && StillNamed(fd, path))
      ::unlink(path.c_str());
    ::close(fd);
  }
  ::closedir(dir);
}
