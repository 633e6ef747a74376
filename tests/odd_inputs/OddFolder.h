// A private temporary folder for odd things put where the programs look for files: named pipes,
// sockets, links to devices, links to themselves.
#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

class OddFolder {
 public:
  OddFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "morvane-odd-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no temporary folder");
    path_ = pattern + "/";
  }
  ~OddFolder() {
    for (int fd : sockets_) ::close(fd);
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  OddFolder(const OddFolder&) = delete;
  OddFolder& operator=(const OddFolder&) = delete;

  const std::string& Dir() const { return path_; }

  std::string Fifo(const std::string& Name) const {
    const std::string p = path_ + Name;
    EXPECT_EQ(::mkfifo(p.c_str(), 0644), 0) << std::strerror(errno);
    return p;
  }
  // A listening socket's name; the socket stays open while the folder lives.
  std::string Socket(const std::string& Name) {
    const std::string p = path_ + Name;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (p.size() >= sizeof addr.sun_path) ADD_FAILURE() << "socket path too long: " << p;
    std::strncpy(addr.sun_path, p.c_str(), sizeof addr.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0)
        << std::strerror(errno);
    ::listen(fd, 1);
    sockets_.push_back(fd);
    return p;
  }
  std::string Link(const std::string& Name, const std::string& Target) const {
    const std::string p = path_ + Name;
    EXPECT_EQ(::symlink(Target.c_str(), p.c_str()), 0) << std::strerror(errno);
    return p;
  }
  // A link that leads to itself.
  std::string Loop(const std::string& Name) const { return Link(Name, Name); }
  std::string Write(const std::string& Name, const std::string& Bytes) const {
    const std::string p = path_ + Name;
    std::ofstream(p, std::ios::binary | std::ios::trunc) << Bytes;
    return p;
  }
  std::string Read(const std::string& Name) const {
    std::ifstream in(path_ + Name, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }

 private:
  std::string path_;
  std::vector<int> sockets_;
};
