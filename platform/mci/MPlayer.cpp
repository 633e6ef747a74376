#include "platform/mci/MPlayer.h"

#include <algorithm>
#include <cstdint>
#include <optional>

namespace {

const bool registered = (RegisterClass<TMediaPlayer>("TMediaPlayer"), true);

constexpr std::int64_t kRate = mci::Mp3Decoder::kRate;

}  // namespace

TMediaPlayer::TMediaPlayer(TComponent* AOwner) : TComponent(AOwner) { (void)registered; }

TMediaPlayer::~TMediaPlayer() { FDevice.Close(); }

void TMediaPlayer::DefineProperties(TPropertyDefs& Defs) {
  TComponent::DefineProperties(Defs);
  Defs.String("FileName", FileName).Default(std::string());
  Defs.Enum("TimeFormat", {"tfMilliseconds", "tfSamples"}, FTimeFormat).Default(tfMilliseconds);
  Defs.Bool("Visible", Visible).Default(true);
}

// Milliseconds map to the nearest frame and back to the nearest millisecond; since a frame is
// far shorter than a millisecond, setting a position that was read gives the same reading.
std::int64_t TMediaPlayer::ToFrames(std::int64_t Value) const {
  if (FTimeFormat == tfSamples) return Value;
  if (Value <= 0) return 0;
  if (Value > INT64_MAX / kRate) return INT64_MAX;
  return (Value * kRate + 500) / 1000;
}

std::int32_t TMediaPlayer::FromFrames(std::int64_t Frames) const {
  const std::int64_t v = FTimeFormat == tfSamples ? Frames : (Frames * 1000 + kRate / 2) / kRate;
  return static_cast<std::int32_t>(std::min<std::int64_t>(v, INT32_MAX));
}

bool TMediaPlayer::TakeWait() {
  const bool w = Wait;
  Wait = false;
  return w;
}

void TMediaPlayer::SetFrom(std::int32_t Value) {
  FFrom = Value;
  FFromSet = true;
}

void TMediaPlayer::Open() {
  TakeWait();  // opening is always complete when Open returns
  FDevice.Open(FileName);
}

void TMediaPlayer::Close() {
  TakeWait();
  FDevice.Close();
}

void TMediaPlayer::Play() {
  const bool wait = TakeWait();
  std::optional<std::int64_t> from;
  if (FFromSet) from = ToFrames(FFrom);
  FFromSet = false;
  FDevice.Play(from);
  if (wait) FDevice.WaitWhilePlaying();
}

void TMediaPlayer::Stop() {
  TakeWait();
  FDevice.Stop();
}

void TMediaPlayer::Pause() {
  TakeWait();
  FDevice.Pause();
}

void TMediaPlayer::Rewind() {
  TakeWait();
  FDevice.Seek(0);
}

TMPModes TMediaPlayer::Mode() {
  switch (FDevice.Mode()) {
    case mci::MusicMode::Stopped:
      return mpStopped;
    case mci::MusicMode::Playing:
      return mpPlaying;
    case mci::MusicMode::Paused:
      return mpPaused;
    case mci::MusicMode::Closed:
      break;
  }
  return mpNotReady;
}

std::int32_t TMediaPlayer::Position() { return FromFrames(FDevice.Position()); }

void TMediaPlayer::SetPosition(std::int32_t Value) {
  TakeWait();
  FDevice.Seek(ToFrames(Value));
}

std::int32_t TMediaPlayer::Length() { return FromFrames(FDevice.Length()); }
