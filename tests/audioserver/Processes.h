// Child processes of the suite: the servers, the bus and the player. Each child dies with the
// suite (the kernel sends it SIGKILL when the suite's main thread ends, however it ends), and
// a ChildProcess that goes out of scope stops its child and waits for it, so nothing is left
// running after a failed assertion either.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace audioserver {

using Environment = std::map<std::string, std::string>;

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess() { Stop(); }
  ChildProcess(ChildProcess&& other) noexcept : pid_(other.pid_), name_(std::move(other.name_)) {
    other.pid_ = -1;
  }
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts `argv` with the suite's environment changed by `env` (an empty value removes the
  // variable), standard output and error going to `logFile`. Empty when it cannot be started.
  static std::optional<ChildProcess> Start(const std::vector<std::string>& argv,
                                           const Environment& env, const std::string& logFile);

  bool Running();
  // Waits for the exit; its status, or -1 when it did not end in time (it is killed then).
  int Wait(std::chrono::milliseconds timeout);
  // SIGTERM, then SIGKILL when it does not end within a second; waits for it.
  void Stop();
  pid_t Pid() const { return pid_; }
  // The program it runs, as started (argv[0]).
  const std::string& Name() const { return name_; }

 private:
  pid_t pid_ = -1;
  std::string name_;
};

// Runs a short command to its end; true when it exits with 0. Its output goes to `logFile`.
bool RunCommand(const std::vector<std::string>& argv, const Environment& env,
                const std::string& logFile, std::chrono::milliseconds timeout);

std::string ReadFile(const std::string& path);

}  // namespace audioserver
