#include "realwindow/Programs.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

extern char** environ;

namespace realwindow {

namespace fs = std::filesystem;

fs::path BuildBinFolder() {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::current_path() : self.parent_path();
}

// --- ProgramFolder -----------------------------------------------------------------------------

ProgramFolder::ProgramFolder(std::optional<std::size_t> Length) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/morvane-rw-XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("no temporary folder could be made");
  Root_ = pattern;
  Path_ = Root_;
  if (Length) {
    const std::size_t used = Root_.string().size() + 1;
    if (*Length <= used) throw std::runtime_error("the temporary folder's path is too long");
    Path_ = Root_ / std::string(*Length - used, 'd');
    fs::create_directory(Path_);
  }
  const fs::path bin = BuildBinFolder();
  for (const char* program : {"ProjectMorvane", "Tessaly"})
    if (fs::exists(bin / program)) fs::copy_file(bin / program, Path_ / program);
  for (const char* folder : {"Score", "Sound", "Image"})
    fs::copy(bin / folder, Path_ / folder, fs::copy_options::recursive);
}

ProgramFolder::~ProgramFolder() {
  std::error_code ec;
  // MORVANE_RW_KEEP leaves the folder, with the programs' output and any core, to look into.
  const char* keep = std::getenv("MORVANE_RW_KEEP");
  if (!keep || !*keep) fs::remove_all(Root_, ec);
}

void ProgramFolder::WriteChart(const std::string& Name, const std::string& Lines) const {
  std::ofstream out(Score(Name), std::ios::binary | std::ios::trunc);
  std::istringstream in(Lines);
  for (std::string line; std::getline(in, line);) out << line << "\r\n";
}

void ProgramFolder::GiveMusic(const std::string& ChartStem) const {
  fs::copy_file(Path_ / "Sound" / "Last Boss.mp3", Path_ / "Sound" / (ChartStem + ".mp3"),
                fs::copy_options::overwrite_existing);
}

// --- RunningProgram ----------------------------------------------------------------------------

RunningProgram::RunningProgram(const ProgramFolder& Folder, const std::string& Program,
                               const std::string& DisplayName) {
  Log_ = Folder.Path() / (Program + ".log");
  // Everything the child needs is made before the fork.
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const std::string key = entry.substr(0, entry.find('='));
    // The real window is wanted: no test backend, no off-screen video, and a silent audio device.
    if (key == "DISPLAY" || key == "MORVANE_BACKEND" || key == "SDL_VIDEODRIVER" ||
        key == "SDL_AUDIODRIVER" || key == "MORVANE_AUDIO")
      continue;
    env.push_back(entry);
  }
  env.push_back("DISPLAY=" + DisplayName);
  env.push_back("SDL_AUDIODRIVER=dummy");
  env.push_back("MORVANE_AUDIO=sdl");
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  const std::string dir = Folder.Path().string();
  const std::string exe = (Folder.Path() / Program).string();
  const std::string log = Log_.string();

  Pid_ = fork();
  if (Pid_ == 0) {
    setpgid(0, 0);
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out >= 0) {
      dup2(out, 1);
      dup2(out, 2);
    }
    if (chdir(dir.c_str()) != 0) _exit(126);
    char* argv[] = {const_cast<char*>(exe.c_str()), nullptr};
    execve(exe.c_str(), argv, envp.data());
    _exit(127);
  }
  if (Pid_ > 0) setpgid(Pid_, Pid_);  // also from here, so the group exists before any kill
}

RunningProgram::~RunningProgram() {
  if (Pid_ <= 0) return;
  // The group goes too: a box the program forked to show must not stay on the screen.
  kill(-Pid_, SIGKILL);
  if (!Reaped_) waitpid(Pid_, nullptr, 0);
}

bool RunningProgram::Running() {
  if (Pid_ <= 0 || Reaped_) return false;
  if (waitpid(Pid_, &Status_, WNOHANG) != Pid_) return true;
  Reaped_ = true;
  if (WIFEXITED(Status_))
    Exit_ = "exited with status " + std::to_string(WEXITSTATUS(Status_));
  else if (WIFSIGNALED(Status_))
    Exit_ = std::string("killed by signal ") + strsignal(WTERMSIG(Status_));
  return false;
}

std::optional<int> RunningProgram::WaitForExit(Millis Timeout) {
  WaitUntil([this] { return !Running(); }, Timeout);
  if (!Reaped_) {
    Exit_ = "still running";
    return std::nullopt;
  }
  if (!WIFEXITED(Status_)) return std::nullopt;
  return WEXITSTATUS(Status_);
}

std::string RunningProgram::Output() const {
  std::ifstream in(Log_, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace realwindow
