// The programs under test: a private copy of the program folder (so the build's charts are
// never written), and the game or editor running from it on the private X server.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>

#include "realwindow/XSession.h"

namespace realwindow {

// The folder the test program itself lies in: the build's bin folder, beside the programs.
std::filesystem::path BuildBinFolder();

// A temporary folder holding a copy of the programs with their Score, Sound and Image folders;
// removed when this goes.
class ProgramFolder {
 public:
  // Inside a fresh temporary folder; when Length is given, the program folder is a sub-folder
  // padded so that its own path (without a trailing slash) is exactly that long.
  explicit ProgramFolder(std::optional<std::size_t> Length = std::nullopt);
  ProgramFolder(const ProgramFolder&) = delete;
  ProgramFolder& operator=(const ProgramFolder&) = delete;
  ~ProgramFolder();

  const std::filesystem::path& Path() const { return Path_; }
  std::filesystem::path Score(const std::string& Name) const { return Path_ / "Score" / Name; }
  // Writes a chart file into Score/, lines ended with CR LF as the programs write them.
  void WriteChart(const std::string& Name, const std::string& Lines) const;
  // Gives the chart its music: a copy of a stage's music under the chart's name.
  void GiveMusic(const std::string& ChartStem) const;

 private:
  std::filesystem::path Root_;
  std::filesystem::path Path_;
};

// A program running on the private X server, in its own process group so that nothing it
// starts outlives the test. Killed, with everything in its group, when this goes.
class RunningProgram {
 public:
  RunningProgram(const ProgramFolder& Folder, const std::string& Program,
                 const std::string& DisplayName);
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;
  ~RunningProgram();

  bool Started() const { return Pid_ > 0; }
  // Waits for the program to end; its exit status, or nullopt when it is still running after
  // the timeout (or ended by a signal, which ExitDescription tells).
  std::optional<int> WaitForExit(Millis Timeout);
  bool Running();
  std::string ExitDescription() const { return Exit_; }
  // What the program wrote to its standard output and error so far.
  std::string Output() const;

 private:
  pid_t Pid_ = -1;
  bool Reaped_ = false;
  int Status_ = 0;
  std::string Exit_;
  std::filesystem::path Log_;
};

}  // namespace realwindow
