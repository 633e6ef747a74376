// The media player's device: one opened MP3 file played through the process-wide mixer, so the
// music and the sound effects share one device and one clock. Positions are in frames of
// 44.1 kHz. While playing, the position is the frame of the music the device is playing now, as
// its played-frame count has it (see backend::AudioDevice::FramesPlayed: the device's sample
// count less what it still holds, the wall clock only filling in between its callbacks); it
// never goes back within one play.
//
// Modes: closed, stopped, playing, paused. Stopped after Open, Stop, a seek and the natural end
// (where the position equals the length exactly). Everything runs on the window's thread except
// Render, which the mixer calls under its lock; every change here is made under that lock.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "platform/dsound/SoundMixer.h"
#include "platform/mci/Mp3Decoder.h"

namespace mci {

enum class MusicMode { Closed, Stopped, Playing, Paused };

class MusicDevice : public dsound::StreamSource {
 public:
  MusicDevice() = default;
  ~MusicDevice() override;
  MusicDevice(const MusicDevice&) = delete;
  MusicDevice& operator=(const MusicDevice&) = delete;

  // Closes what is open, then opens the file (EMCIDeviceError when it cannot). Stopped at 0.
  void Open(const std::string& fileName);
  void Close();
  bool IsOpen() const { return decoder_ != nullptr; }

  MusicMode Mode();
  std::int64_t Length() const { return length_; }  // frames; 0 when closed
  std::int64_t Position();                         // frames; 0 when closed

  // Starts playing from `from` (clamped to 0..Length) or, without it, from the current position,
  // rewinding first when that is the end. Playing from the end itself ends at once: stopped at
  // the end, no error. Returns at once; the music plays on by itself.
  void Play(std::optional<std::int64_t> from = std::nullopt);
  // Playing: nothing more is handed to the device. What it holds still plays out, and the
  // position follows it to the last frame heard, where it stands; playing again goes on from the
  // next frame, so nothing is heard twice and nothing is skipped. Otherwise nothing.
  void Stop();
  // Playing becomes paused, as Stop; paused plays on from the frame after the last one heard.
  // Otherwise nothing.
  void Pause();
  // Moves to `frame` clamped to 0..Length and stops there.
  void Seek(std::int64_t frame);
  // Returns once the music is no longer playing, letting the backend's clock run.
  void WaitWhilePlaying();

  int Render(std::int16_t* out, int frames, std::uint64_t deviceFrame) override;

 private:
  // Frames handed to the device: `count` frames of music from `musicStart` went out as device
  // frames from `deviceStart` on.
  struct Segment {
    std::uint64_t deviceStart;
    std::int64_t musicStart;
    int count;
  };

  void CatchUp();
  // Reads the device's progress: the audible frame while playing or playing out, the natural
  // end, and when what was handed over before a pause or stop has all been heard.
  void Refresh();
  std::int64_t Audible(std::uint64_t played) const;
  void StartAt(std::int64_t frame);

  std::unique_ptr<Mp3Decoder> decoder_;
  MusicMode mode_ = MusicMode::Closed;
  std::int64_t length_ = 0;
  std::int64_t position_ = 0;    // the position once not playing and played out
  std::int64_t playStart_ = 0;   // where the current play began
  std::int64_t renderNext_ = 0;  // next frame Render hands out
  std::deque<Segment> segments_;
  bool renderedEnd_ = false;     // the last frame has been handed out...
  std::uint64_t endDevice_ = 0;  // ...and leaves the speaker once this many frames have
};

}  // namespace mci
