#include "audioserver/AudioServers.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace audioserver {

namespace {

using namespace std::chrono_literals;

bool WaitForFile(const std::string& path, ChildProcess& owner, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    if (std::filesystem::exists(path)) return true;
    if (!owner.Running()) return false;
    std::this_thread::sleep_for(20ms);
  }
  return false;
}

}  // namespace

AudioServer::~AudioServer() {
  while (!children_.empty()) children_.pop_back();
  const char* keep = std::getenv("MORVANE_AS_KEEP");
  if (!folder_.empty() && !(keep && *keep == '1')) {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
}

bool AudioServer::MakeFolder(std::string& why) {
  char name[] = "/tmp/morvane-audio-XXXXXX";
  if (!mkdtemp(name)) {
    why = "cannot make a folder under /tmp";
    return false;
  }
  folder_ = name;
  for (const char* sub : {"run", "config", "state"}) mkdir(Path(sub).c_str(), 0700);
  return true;
}

Environment AudioServer::ServerEnvironment() const {
  return {{"HOME", folder_},
          {"XDG_RUNTIME_DIR", Path("run")},
          {"XDG_CONFIG_HOME", Path("config")},
          {"XDG_STATE_HOME", Path("state")},
          {"PULSE_SERVER", ""},
          {"PIPEWIRE_REMOTE", ""},
          {"PIPEWIRE_RUNTIME_DIR", ""},
          {"DBUS_SESSION_BUS_ADDRESS", ""},
          {"DISPLAY", ""}};
}

Environment AudioServer::ClientEnvironment() const {
  Environment env = ServerEnvironment();
  env["PULSE_SERVER"] = PulseServer();
  return env;
}

std::string AudioServer::Logs() const {
  std::string out;
  for (const auto& log : logs_) out += "--- " + log + "\n" + ReadFile(log);
  return out;
}

bool AudioServer::Signal(const std::vector<std::string>& programs, int signal) {
  bool all = true;
  for (const auto& program : programs) {
    bool sent = false;
    for (const auto& child : children_)
      if (child.Name() == program && child.Pid() > 0 && kill(child.Pid(), signal) == 0) sent = true;
    all = all && sent;
  }
  return all;
}

bool AudioServer::Pactl(const std::vector<std::string>& args) {
  std::vector<std::string> argv{"pactl"};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunCommand(argv, ClientEnvironment(), Path("pactl.log"), 5s);
}

bool AudioServer::WaitForPulseProtocol(double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    if (std::filesystem::exists(pulseSocket_) && Pactl({"info"})) return true;
    if (!children_.back().Running()) return false;
    std::this_thread::sleep_for(50ms);
  }
  return false;
}

std::unique_ptr<PulseAudioServer> PulseAudioServer::Start(int sinkRate, std::string& why,
                                                          bool pipeSink) {
  std::unique_ptr<PulseAudioServer> s(new PulseAudioServer);
  if (!s->MakeFolder(why)) return nullptr;
  s->pulseSocket_ = s->Path("native");
  const std::string log = s->Path("pulseaudio.log");
  s->logs_.push_back(log);
  // No default script and no daemon: only the protocol socket and the null sink. As root the
  // server warns that it is meant for a user and goes on; --system=no keeps it in user mode.
  auto pa = ChildProcess::Start(
      {"pulseaudio", "-n", "--daemonize=no", "--system=no", "--use-pid-file=no",
       "--exit-idle-time=-1", "--disallow-exit=yes", "--log-target=stderr", "--log-level=notice",
       "--load=module-native-protocol-unix auth-anonymous=1 socket=" + s->pulseSocket_,
       (pipeSink ? "--load=module-pipe-sink file=" + s->PipePath() + " "
                 : std::string("--load=module-null-sink ")) +
           "sink_name=out format=s16le channels=2 rate=" + std::to_string(sinkRate)},
      s->ServerEnvironment(), log);
  if (!pa) {
    why = "pulseaudio cannot be run (is it installed?)";
    return nullptr;
  }
  s->children_.push_back(std::move(*pa));
  if (!s->WaitForPulseProtocol(10)) {
    why = "pulseaudio did not answer within 10 s:\n" + s->Logs();
    return nullptr;
  }
  return s;
}

Environment PipeWireServer::ClientEnvironment() const {
  Environment env = AudioServer::ClientEnvironment();
  env["PIPEWIRE_RUNTIME_DIR"] = Path("run");
  env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + Path("bus");
  return env;
}

std::unique_ptr<PipeWireServer> PipeWireServer::Start(int forcedQuantum, std::string& why) {
  std::unique_ptr<PipeWireServer> s(new PipeWireServer);
  if (!s->MakeFolder(why)) return nullptr;
  s->pulseSocket_ = s->Path("run/pulse/native");
  const Environment env = s->ClientEnvironment();
  auto start = [&](const std::vector<std::string>& argv, const std::string& logName) {
    const std::string log = s->Path(logName);
    s->logs_.push_back(log);
    auto child = ChildProcess::Start(argv, env, log);
    if (!child) {
      why = argv[0] + " cannot be run (is it installed?)";
      return false;
    }
    s->children_.push_back(std::move(*child));
    return true;
  };
  // WirePlumber wants a session bus; a private one on a socket in the folder needs no service.
  if (!start({"dbus-daemon", "--session", "--nofork", "--nopidfile",
              "--address=unix:path=" + s->Path("bus")},
             "dbus.log"))
    return nullptr;
  if (!WaitForFile(s->Path("bus"), s->children_.back(), 10)) {
    why = "the private dbus-daemon did not start:\n" + s->Logs();
    return nullptr;
  }
  if (!start({"pipewire"}, "pipewire.log")) return nullptr;
  if (!WaitForFile(s->Path("run/pipewire-0"), s->children_.back(), 10)) {
    why = "pipewire did not start:\n" + s->Logs();
    return nullptr;
  }
  if (!start({"wireplumber"}, "wireplumber.log")) return nullptr;
  if (!start({"pipewire-pulse"}, "pipewire-pulse.log")) return nullptr;
  if (!s->WaitForPulseProtocol(10)) {
    why = "pipewire-pulse did not answer within 10 s:\n" + s->Logs();
    return nullptr;
  }
  if (!s->Pactl({"load-module", "module-null-sink", "sink_name=out"}) ||
      !s->Pactl({"set-default-sink", "out"})) {
    why = "no null sink could be made on pipewire-pulse:\n" + s->Logs();
    return nullptr;
  }
  if (forcedQuantum > 0 && !RunCommand({"pw-metadata", "-n", "settings", "0", "clock.force-quantum",
                                        std::to_string(forcedQuantum)},
                                       env, s->Path("pw-metadata.log"), 5s)) {
    why = "pw-metadata could not force the quantum:\n" + ReadFile(s->Path("pw-metadata.log"));
    return nullptr;
  }
  return s;
}

}  // namespace audioserver
