// Private audio servers for the suite, each in a folder of its own under /tmp that is its
// runtime, home and configuration folder, so nothing of the machine's own sound setup is used
// or touched: a PulseAudio with a sink "out" (a null sink, or a pipe sink whose output the suite
// reads itself), or a PipeWire with WirePlumber (on a private
// session bus) and pipewire-pulse, with a null sink "out" made through the PulseAudio protocol.
// Everything is stopped and the folder removed when the object goes (MORVANE_AS_KEEP=1 keeps
// the folder with the servers' logs).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "audioserver/Processes.h"

namespace audioserver {

class AudioServer {
 public:
  virtual ~AudioServer();
  AudioServer(const AudioServer&) = delete;
  AudioServer& operator=(const AudioServer&) = delete;

  const std::string& Folder() const { return folder_; }
  // The PulseAudio-protocol server string, "unix:<socket>".
  std::string PulseServer() const { return "unix:" + pulseSocket_; }
  // What a client of this server needs in its environment.
  virtual Environment ClientEnvironment() const;
  // The servers' log files, for a failure's message.
  std::string Logs() const;
  // Sends `signal` to each of the server's processes that runs one of `programs` (SIGSTOP and
  // SIGCONT freeze and thaw it); false when one of them is not running.
  bool Signal(const std::vector<std::string>& programs, int signal);

 protected:
  AudioServer() = default;
  // Makes the folder; false (with `why`) when it cannot.
  bool MakeFolder(std::string& why);
  std::string Path(const std::string& name) const { return folder_ + "/" + name; }
  // Waits until a PulseAudio-protocol client gets an answer; false after `seconds`.
  bool WaitForPulseProtocol(double seconds);
  bool Pactl(const std::vector<std::string>& args);
  Environment ServerEnvironment() const;

  std::string folder_;
  std::string pulseSocket_;
  std::vector<ChildProcess> children_;  // stopped last to first
  std::vector<std::string> logs_;
};

class PulseAudioServer : public AudioServer {
 public:
  // Empty, with the reason in `why`, when the server cannot be started. With `pipeSink` the
  // sink "out" writes into the pipe PipePath() instead of playing to nothing.
  static std::unique_ptr<PulseAudioServer> Start(int sinkRate, std::string& why,
                                                 bool pipeSink = false);
  std::string PipePath() const { return Path("out.fifo"); }
};

class PipeWireServer : public AudioServer {
 public:
  // `forcedQuantum` 0 leaves the graph's quantum to the server.
  static std::unique_ptr<PipeWireServer> Start(int forcedQuantum, std::string& why);
  Environment ClientEnvironment() const override;
  // The folder holding the native socket.
  std::string RuntimeFolder() const { return Path("run"); }
};

}  // namespace audioserver
