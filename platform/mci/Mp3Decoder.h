// MP3 decoding for the media player: the whole file is read into memory when it is opened (so
// the audio thread never touches the disk), its frames are scanned for the exact length, and
// samples are decoded on demand as 44.1 kHz interleaved stereo, 16 bits. Decoding is gapless:
// the encoder's delay and padding, recorded in the file's tag frame, are removed, so sample 0 is
// the first sample that was encoded and the length is exactly what was encoded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct mpg123_handle_struct;

namespace mci {

class Mp3Decoder {
 public:
  static constexpr int kRate = 44100;

  // Raises EMCIDeviceError naming the file when it is missing, empty, unreadable, not MP3 or
  // holds no audio.
  explicit Mp3Decoder(const std::string& fileName);
  // The same over bytes already in memory; `name` goes into the messages.
  Mp3Decoder(std::vector<std::uint8_t> bytes, const std::string& name);
  ~Mp3Decoder();
  Mp3Decoder(const Mp3Decoder&) = delete;
  Mp3Decoder& operator=(const Mp3Decoder&) = delete;

  // Frames (one sample per channel) of the decoded music.
  std::int64_t Length() const { return length_; }
  // Frame of the next Read.
  std::int64_t Tell() const { return position_; }
  // Moves to `frame` (0..Length), sample-exact.
  void Seek(std::int64_t frame);
  // Fills `frames` stereo frames (fewer only at Length) and returns how many. A stream that is
  // damaged or ends before its announced length goes on as silence up to Length, so positions
  // and the natural end stay where the length says.
  int Read(std::int16_t* out, int frames);

 private:
  friend struct Mp3Io;
  void Start();
  std::string fileName_;
  std::vector<std::uint8_t> bytes_;
  std::size_t cursor_ = 0;  // read position of the decoder in bytes_
  mpg123_handle_struct* mh_ = nullptr;
  std::int64_t length_ = 0;
  std::int64_t position_ = 0;
  bool exhausted_ = false;  // the decoder has nothing more; the rest is silence
};

}  // namespace mci
