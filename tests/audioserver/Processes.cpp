#include "audioserver/Processes.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace audioserver {

namespace {

std::vector<std::string> MergedEnvironment(const Environment& changes) {
  std::map<std::string, std::string> all;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const auto eq = entry.find('=');
    if (eq != std::string::npos) all[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  for (const auto& [key, value] : changes) {
    if (value.empty())
      all.erase(key);
    else
      all[key] = value;
  }
  std::vector<std::string> out;
  for (const auto& [key, value] : all) out.push_back(key + "=" + value);
  return out;
}

}  // namespace

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    Stop();
    pid_ = other.pid_;
    name_ = std::move(other.name_);
    other.pid_ = -1;
  }
  return *this;
}

std::optional<ChildProcess> ChildProcess::Start(const std::vector<std::string>& argv,
                                                const Environment& env,
                                                const std::string& logFile) {
  if (argv.empty()) return std::nullopt;
  // Everything the child needs is built before the fork: after it only async-signal-safe calls.
  const std::vector<std::string> envStrings = MergedEnvironment(env);
  std::vector<char*> args, envp;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const auto& e : envStrings) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  const int log = open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (log < 0) return std::nullopt;
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) {
    close(log);
    return std::nullopt;
  }
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    setpgid(0, 0);
    const int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    dup2(log, 1);
    dup2(log, 2);
    execvpe(args[0], args.data(), envp.data());
    const char failed = 1;
    (void)!write(ready[1], &failed, 1);
    _exit(127);
  }
  close(log);
  close(ready[1]);
  if (pid < 0) {
    close(ready[0]);
    return std::nullopt;
  }
  // The pipe closes without a byte when exec succeeded.
  char failed = 0;
  const ssize_t n = read(ready[0], &failed, 1);
  close(ready[0]);
  ChildProcess child;
  child.pid_ = pid;
  child.name_ = argv[0];
  if (n == 1) {
    child.Wait(std::chrono::milliseconds(1000));
    return std::nullopt;
  }
  return child;
}

bool ChildProcess::Running() {
  if (pid_ <= 0) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) {
    pid_ = -1;
    return false;
  }
  return true;
}

int ChildProcess::Wait(std::chrono::milliseconds timeout) {
  if (pid_ <= 0) return -1;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_ || r < 0) {
      pid_ = -1;
      return r < 0 ? -1 : status;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      Stop();
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void ChildProcess::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  int status = 0;
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  pid_ = -1;
}

bool RunCommand(const std::vector<std::string>& argv, const Environment& env,
                const std::string& logFile, std::chrono::milliseconds timeout) {
  auto child = ChildProcess::Start(argv, env, logFile);
  if (!child) return false;
  const int status = child->Wait(timeout);
  return status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace audioserver
