// The media player component: plays one music file with the commands the programs use (Open,
// Close, Play, Stop, Pause, Rewind, seeking by setting Position) and reports Mode, Position and
// Length. Over our music device: MP3 through the one mixer, positions following the audio that
// has actually been played.
//
// Command flags, as the class library has them: Wait applies to the next command only (a
// waited Play returns when the music has stopped), From to the next Play only; both are used up
// by that command even when it fails.
#pragma once

#include <cstdint>
#include <string>

#include "platform/mci/MusicDevice.h"
#include "platform/rtl/Classes.h"

// Mode values as the programs compare them: 0 closed, 1 stopped, 2 playing, 5 paused.
enum TMPModes { mpNotReady, mpStopped, mpPlaying, mpRecording, mpSeeking, mpPaused, mpOpen };
// Units of Position, Length and From.
enum TMPTimeFormats { tfMilliseconds, tfSamples };

class TMediaPlayer : public TComponent {
 public:
  explicit TMediaPlayer(TComponent* AOwner);
  ~TMediaPlayer() override;

  std::string FileName;
  // Has no effect here; stored forms keep it (the programs' players are invisible).
  bool Visible = true;

  // Closes the file open now, then opens FileName; EMCIDeviceError when it cannot.
  void Open();
  void Close();
  // Closed: EMCIDeviceError "No MCI device open".
  void Play();
  // Closed: nothing.
  void Stop();
  // Playing: paused; paused: plays on; otherwise nothing. Closed: EMCIDeviceError.
  void Pause();
  // Seeks to the start; stopped. Closed: EMCIDeviceError.
  void Rewind();

  // When closed, Mode is mpNotReady and Position and Length are 0, without an error.
  TMPModes Mode();
  std::int32_t Position();
  // Seeks, clamped to 0..Length silently; stopped afterwards. Closed: EMCIDeviceError.
  void SetPosition(std::int32_t Value);
  std::int32_t Length();

  // For the next command only.
  bool Wait = false;
  std::int32_t From() const { return FFrom; }
  // For the next Play only.
  void SetFrom(std::int32_t Value);
  TMPTimeFormats TimeFormat() const { return FTimeFormat; }
  void SetTimeFormat(TMPTimeFormats Value) { FTimeFormat = Value; }

  void DefineProperties(TPropertyDefs& Defs) override;

 private:
  std::int64_t ToFrames(std::int64_t Value) const;
  std::int32_t FromFrames(std::int64_t Frames) const;
  // Takes the one-shot flags for the command that starts now.
  bool TakeWait();

  mci::MusicDevice FDevice;
  bool FFromSet = false;
  std::int32_t FFrom = 0;
  TMPTimeFormats FTimeFormat = tfMilliseconds;
};
