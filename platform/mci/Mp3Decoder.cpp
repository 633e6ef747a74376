#include "platform/mci/Mp3Decoder.h"

#include <fcntl.h>
#include <mpg123.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <utility>

#include "platform/rtl/OpenFiles.h"
#include "platform/rtl/SysUtils.h"

namespace mci {

// The decoder reads the file from memory through these.
struct Mp3Io {
  static mpg123_ssize_t Read(void* handle, void* buffer, size_t count) {
    auto* d = static_cast<Mp3Decoder*>(handle);
    const size_t left = d->bytes_.size() - d->cursor_;
    const size_t n = std::min(count, left);
    std::memcpy(buffer, d->bytes_.data() + d->cursor_, n);
    d->cursor_ += n;
    return static_cast<mpg123_ssize_t>(n);
  }
  static off_t Seek(void* handle, off_t offset, int whence) {
    auto* d = static_cast<Mp3Decoder*>(handle);
    off_t base = 0;
    if (whence == SEEK_CUR) base = static_cast<off_t>(d->cursor_);
    if (whence == SEEK_END) base = static_cast<off_t>(d->bytes_.size());
    const off_t to = base + offset;
    if (to < 0 || to > static_cast<off_t>(d->bytes_.size())) return -1;
    d->cursor_ = static_cast<size_t>(to);
    return to;
  }
};

namespace {

// Whether the file holds a Xing/Info tag frame whose frame count cannot be true: a frame takes
// more than 4 bytes, so a count above a quarter of the file size is a lie, and a decoder that
// believes it can spend many seconds on a file of a few bytes. The decoder takes the tag from
// whichever frame it first syncs on, so every place near the start is checked. Such a file is
// decoded without its tag (the length comes from scanning the frames anyway).
bool ImplausibleTag(const std::vector<std::uint8_t>& b) {
  const size_t end = std::min<size_t>(b.size(), 1 << 16);
  for (size_t t = 0; t + 12 <= end; ++t) {
    const bool tag = (b[t] == 'X' && b[t + 1] == 'i' && b[t + 2] == 'n' && b[t + 3] == 'g') ||
                     (b[t] == 'I' && b[t + 1] == 'n' && b[t + 2] == 'f' && b[t + 3] == 'o');
    if (!tag || !(b[t + 7] & 1)) continue;  // no frame count
    const std::uint32_t frames = std::uint32_t(b[t + 8]) << 24 | std::uint32_t(b[t + 9]) << 16 |
                                 std::uint32_t(b[t + 10]) << 8 | b[t + 11];
    if (frames > b.size() / 4) return true;
  }
  return false;
}

// Whether the file begins with an ID3v2 tag whose stated size runs past the end of the file.
// The decoder would skip the whole claimed size and find no music at all.
bool TagRunsPastTheEnd(const std::vector<std::uint8_t>& b) {
  if (b.size() < 10 || b[0] != 'I' || b[1] != 'D' || b[2] != '3') return false;
  // Four bytes of seven bits each; a byte with its high bit set means this is no such tag.
  std::uint64_t size = 0;
  for (int i = 6; i < 10; ++i) {
    if (b[i] & 0x80) return false;
    size = size << 7 | b[i];
  }
  const std::uint64_t footer = (b[5] & 0x10) ? 10 : 0;
  return 10 + size + footer > b.size();
}

[[noreturn]] void Fail(const std::string& fileName, const std::string& why) {
  throw EMCIDeviceError("Cannot open the music file \"" + fileName + "\": " + why);
}

}  // namespace

Mp3Decoder::Mp3Decoder(const std::string& fileName) : fileName_(fileName) {
  if (fileName.empty()) Fail(fileName, "the file does not exist");
  // Names come as the programs spell them, with backslashes and doubled separators. Pipes and
  // devices are refused as every other reader refuses them, before anything waits on them.
  int error = 0;
  std::string reason;
  const int fd = OpenRegularFile(NativePathName(fileName), O_RDONLY, error, reason);
  if (fd < 0) Fail(fileName, error == ENOENT ? "the file does not exist" : reason);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st;
  if (::fstat(fd, &st) != 0) Fail(fileName, "the file cannot be read");
  // Hours of music at the highest bit rate stay far below this; anything larger is not music.
  if (static_cast<std::uintmax_t>(st.st_size) > (std::uintmax_t{256} << 20))
    Fail(fileName, "the file is too large");
  bytes_.resize(static_cast<size_t>(st.st_size));
  size_t done = 0;
  while (done < bytes_.size()) {
    const ssize_t n = ::read(fd, bytes_.data() + done, bytes_.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail(fileName, "the file cannot be read");
    done += static_cast<size_t>(n);
  }
  Start();
}

Mp3Decoder::Mp3Decoder(std::vector<std::uint8_t> bytes, const std::string& name)
    : fileName_(name), bytes_(std::move(bytes)) {
  Start();
}

void Mp3Decoder::Start() {
  static std::once_flag init;
  std::call_once(init, [] { mpg123_init(); });
  const std::string& fileName = fileName_;
  if (bytes_.empty()) Fail(fileName, "the file is empty");
  if (TagRunsPastTheEnd(bytes_)) Fail(fileName, "its ID3v2 tag runs past the end of the file");

  int err = MPG123_OK;
  mh_ = mpg123_new(nullptr, &err);
  if (mh_ == nullptr) Fail(fileName, "the MP3 decoder cannot start");
  try {
    long flags = MPG123_QUIET | MPG123_GAPLESS | MPG123_FORCE_STEREO;
    if (ImplausibleTag(bytes_)) flags |= MPG123_IGNORE_INFOFRAME;
    mpg123_param(mh_, MPG123_ADD_FLAGS, flags, 0);
    mpg123_format_none(mh_);
    if (mpg123_format(mh_, kRate, MPG123_STEREO, MPG123_ENC_SIGNED_16) != MPG123_OK ||
        mpg123_replace_reader_handle(mh_, &Mp3Io::Read, &Mp3Io::Seek, nullptr) != MPG123_OK ||
        mpg123_open_handle(mh_, this) != MPG123_OK)
      Fail(fileName, "the MP3 decoder cannot start");
    long rate = 0;
    int channels = 0, encoding = 0;
    if (mpg123_getformat(mh_, &rate, &channels, &encoding) != MPG123_OK)
      Fail(fileName, "it is not an MP3 file");
    if (rate != kRate || channels != MPG123_STEREO || encoding != MPG123_ENC_SIGNED_16)
      Fail(fileName, "its sound cannot be converted to 44.1 kHz stereo");
    // Walks every frame header once (no decoding), so the length is exact even without a tag.
    if (mpg123_scan(mh_) != MPG123_OK) Fail(fileName, "it is not an MP3 file");
    const off_t length = mpg123_length(mh_);
    if (length <= 0) Fail(fileName, "it holds no sound");
    length_ = length;
    if (mpg123_seek(mh_, 0, SEEK_SET) < 0) Fail(fileName, "it is damaged");
  } catch (...) {
    mpg123_delete(mh_);
    throw;
  }
}

Mp3Decoder::~Mp3Decoder() { mpg123_delete(mh_); }

void Mp3Decoder::Seek(std::int64_t frame) {
  frame = std::clamp<std::int64_t>(frame, 0, length_);
  position_ = frame;
  // A stream that cannot get there is played as silence from there on.
  exhausted_ = mpg123_seek(mh_, static_cast<off_t>(frame), SEEK_SET) < 0;
}

int Mp3Decoder::Read(std::int16_t* out, int frames) {
  int done = 0;
  int idle = 0;
  while (done < frames && position_ < length_) {
    const int want = static_cast<int>(std::min<std::int64_t>(frames - done, length_ - position_));
    int got = 0;
    if (!exhausted_) {
      size_t bytes = 0;
      const int r = mpg123_read(mh_, reinterpret_cast<unsigned char*>(out + 2 * done),
                                static_cast<size_t>(want) * 4, &bytes);
      got = static_cast<int>(bytes / 4);
      if (got == 0 && ((r != MPG123_OK && r != MPG123_NEW_FORMAT) || ++idle > 4)) exhausted_ = true;
    } else {
      std::memset(out + 2 * done, 0, static_cast<size_t>(want) * 4);
      got = want;
    }
    done += got;
    position_ += got;
  }
  return done;
}

}  // namespace mci
