#include "platform/mci/MusicDevice.h"

#include <algorithm>

#include "platform/backend/Backend.h"
#include "platform/rtl/SysUtils.h"

namespace mci {

namespace {

dsound::SoundMixer& Mixer() { return dsound::SoundMixer::Instance(); }

// Enough history to cover what any device keeps queued (2048 blocks of 512 frames: 23 s).
constexpr std::size_t kMaxSegments = 2048;

[[noreturn]] void NotOpen() { throw EMCIDeviceError("No MCI device open"); }

}  // namespace

MusicDevice::~MusicDevice() { Close(); }

void MusicDevice::Open(const std::string& fileName) {
  Close();
  // Reading and scanning the file happens outside the mixer's lock: the music of other players
  // and the sound effects go on meanwhile.
  auto decoder = std::make_unique<Mp3Decoder>(fileName);
  Mixer().EnsureDevice();
  dsound::MixerLock lock;
  decoder_ = std::move(decoder);
  length_ = decoder_->Length();
  position_ = 0;
  renderNext_ = 0;
  segments_.clear();
  renderedEnd_ = false;
  mode_ = MusicMode::Stopped;
  Mixer().AddSource(this);
}

void MusicDevice::Close() {
  dsound::MixerLock lock;
  Mixer().RemoveSource(this);
  decoder_.reset();
  mode_ = MusicMode::Closed;
  length_ = position_ = playStart_ = renderNext_ = 0;
  segments_.clear();
  renderedEnd_ = false;
}

void MusicDevice::Refresh() {
  if (segments_.empty()) return;
  // A device opened again (a new backend) counts its frames from 0: what was handed out before
  // is gone, so the music goes on from where it was rendered to.
  if (Mixer().FramesMixed() < segments_.back().deviceStart) {
    playStart_ = renderNext_;
    segments_.clear();
    renderedEnd_ = false;
    return;
  }
  const std::uint64_t played = Mixer().FramesPlayed();
  if (mode_ == MusicMode::Playing && renderedEnd_ && played >= endDevice_) {
    mode_ = MusicMode::Stopped;
    position_ = length_;
    segments_.clear();
    return;
  }
  while (segments_.size() > 1 && segments_[1].deviceStart <= played) segments_.pop_front();
  // Paused or stopped, once the last frame handed over has been heard the position stands.
  const Segment& last = segments_.back();
  if (mode_ != MusicMode::Playing &&
      played >= last.deviceStart + static_cast<std::uint64_t>(last.count))
    segments_.clear();
}

std::int64_t MusicDevice::Audible(std::uint64_t played) const {
  if (segments_.empty()) return playStart_;
  if (played < segments_.front().deviceStart) return segments_.front().musicStart;
  for (auto it = segments_.rbegin(); it != segments_.rend(); ++it)
    if (it->deviceStart <= played)
      return it->musicStart + static_cast<std::int64_t>(
                                  std::min<std::uint64_t>(played - it->deviceStart, it->count));
  return playStart_;
}

MusicMode MusicDevice::Mode() {
  if (!decoder_) return MusicMode::Closed;
  CatchUp();
  dsound::MixerLock lock;
  Refresh();
  return mode_;
}

std::int64_t MusicDevice::Position() {
  if (!decoder_) return 0;
  CatchUp();
  dsound::MixerLock lock;
  Refresh();
  // Paused or stopped, what was handed over before still plays out: the position follows it to
  // the last frame, where it stands.
  return mode_ == MusicMode::Playing || !segments_.empty() ? Audible(Mixer().FramesPlayed())
                                                           : position_;
}

void MusicDevice::CatchUp() {
  // The device of the backend in use (a test may have installed another since), and the music
  // a device without a thread of its own has played by now.
  Mixer().EnsureDevice();
  Mixer().Pump();
}

void MusicDevice::StartAt(std::int64_t frame) {
  if (decoder_->Tell() != frame) decoder_->Seek(frame);
  // Going on from the frame after the last one handed over: what still plays of it keeps its
  // place, and the new frames follow it.
  if (frame != renderNext_ || segments_.empty()) {
    segments_.clear();
    playStart_ = frame;
  }
  renderNext_ = frame;
  renderedEnd_ = false;
  mode_ = MusicMode::Playing;
}

void MusicDevice::Play(std::optional<std::int64_t> from) {
  if (!decoder_) NotOpen();
  CatchUp();
  dsound::MixerLock lock;
  Refresh();
  if (from) {
    const std::int64_t start = std::clamp<std::int64_t>(*from, 0, length_);
    if (start >= length_) {  // nothing left to play: the end is reached at once
      mode_ = MusicMode::Stopped;
      position_ = length_;
      segments_.clear();
      return;
    }
    StartAt(start);
    return;
  }
  if (mode_ == MusicMode::Playing) return;
  StartAt(position_ >= length_ ? 0 : position_);
}

void MusicDevice::Stop() {
  if (!decoder_) return;
  CatchUp();
  dsound::MixerLock lock;
  Refresh();
  // Nothing more is handed over; what was still plays out, and the music goes on from the frame
  // after it.
  if (mode_ == MusicMode::Playing) position_ = renderNext_;
  if (mode_ == MusicMode::Playing || mode_ == MusicMode::Paused) mode_ = MusicMode::Stopped;
}

void MusicDevice::Pause() {
  if (!decoder_) NotOpen();
  CatchUp();
  dsound::MixerLock lock;
  Refresh();
  if (mode_ == MusicMode::Playing) {
    position_ = renderNext_;  // as Stop
    mode_ = MusicMode::Paused;
  } else if (mode_ == MusicMode::Paused) {
    StartAt(position_);
  }
}

void MusicDevice::Seek(std::int64_t frame) {
  if (!decoder_) NotOpen();
  CatchUp();
  dsound::MixerLock lock;
  Refresh();
  position_ = std::clamp<std::int64_t>(frame, 0, length_);
  mode_ = MusicMode::Stopped;
  segments_.clear();
}

void MusicDevice::WaitWhilePlaying() {
  backend::Backend& b = backend::Backend::Current();
  const std::uint32_t start = b.Milliseconds();
  // However the device behaves, the wait ends a little after the music should have.
  const std::int64_t limitMs = (length_ - Position()) * 1000 / Mp3Decoder::kRate + 5000;
  while (Mode() == MusicMode::Playing &&
         static_cast<std::int64_t>(b.Milliseconds() - start) < limitMs)
    b.Sleep(10);
}

int MusicDevice::Render(std::int16_t* out, int frames, std::uint64_t deviceFrame) {
  if (mode_ != MusicMode::Playing || !decoder_ || renderedEnd_) return 0;
  const int n = static_cast<int>(std::min<std::int64_t>(frames, length_ - renderNext_));
  const int got = n > 0 ? decoder_->Read(out, n) : 0;
  segments_.push_back({deviceFrame, renderNext_, got});
  if (segments_.size() > kMaxSegments) segments_.pop_front();
  renderNext_ += got;
  if (renderNext_ >= length_) {
    renderedEnd_ = true;
    endDevice_ = deviceFrame + static_cast<std::uint64_t>(got);
  }
  return got;
}

}  // namespace mci
