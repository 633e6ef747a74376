#include "platform/rtl/Streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <stdexcept>

#include "platform/rtl/OpenFiles.h"

namespace {

const char* const SReadError = "Stream read error";
const char* const SWriteError = "Stream write error";
const char* const SMemoryStreamError = "Out of memory while expanding memory stream";
const char* const SFOpenError = "Cannot open file \"%s\". %s";
const char* const SFCreateError = "Cannot create file \"%s\". %s";
const char* const SFCreateLinkError = "Cannot create file \"%s\" (which leads to \"%s\"). %s";
const char* const SFWriteError = "Cannot write file \"%s\". %s";
const char* const SInvalidSize = "Invalid stream size (%d)";
const char* const SInvalidOrigin = "Invalid seek origin (%d)";

std::string SystemReason(int err) { return std::strerror(err); }

// The new position of a seek, or an error for an unknown origin or an overflowing sum.
std::int64_t SeekTarget(std::int64_t Offset, int Origin, std::int64_t Current, std::int64_t End) {
  std::int64_t base;
  switch (Origin) {
    case soFromBeginning:
      base = 0;
      break;
    case soFromCurrent:
      base = Current;
      break;
    case soFromEnd:
      base = End;
      break;
    default:
      throw EStreamError(Format(SInvalidOrigin, {Origin}));
  }
  std::int64_t result;
  if (__builtin_add_overflow(base, Offset, &result))
    throw EStreamError(Format(SInvalidSize, {Offset}));
  return result;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TStream

void TStream::ReadBuffer(void* Buffer, std::int64_t Count) {
  if (Count < 0 || (Count != 0 && Read(Buffer, Count) != Count)) throw EReadError(SReadError);
}

void TStream::WriteBuffer(const void* Buffer, std::int64_t Count) {
  if (Count < 0 || (Count != 0 && Write(Buffer, Count) != Count)) throw EWriteError(SWriteError);
}

std::int64_t TStream::Size() {
  std::int64_t pos = Seek(0, soFromCurrent);
  std::int64_t result = Seek(0, soFromEnd);
  Seek(pos, soFromBeginning);
  return result;
}

void TStream::SetSize(std::int64_t NewSize) {
  // A stream that cannot change its size says so rather than pretending.
  throw EStreamError(Format(SInvalidSize, {NewSize}));
}

std::int64_t TStream::CopyFrom(TStream* Source, std::int64_t Count) {
  if (Count == 0) {
    Source->SetPosition(0);
    Count = Source->Size();
  }
  if (Count < 0) throw EReadError(SReadError);
  const std::int64_t result = Count;
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min<std::int64_t>(Count, 65536)));
  while (Count > 0) {
    const std::int64_t n = std::min<std::int64_t>(Count, static_cast<std::int64_t>(buffer.size()));
    Source->ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    Count -= n;
  }
  return result;
}

std::uint8_t TStream::ReadByte() {
  std::uint8_t b;
  ReadBuffer(&b, 1);
  return b;
}

std::uint16_t TStream::ReadWord() {
  std::uint8_t b[2];
  ReadBuffer(b, 2);
  return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}

std::uint32_t TStream::ReadDWord() {
  std::uint8_t b[4];
  ReadBuffer(b, 4);
  return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
         (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

void TStream::WriteByte(std::uint8_t Value) { WriteBuffer(&Value, 1); }

void TStream::WriteWord(std::uint16_t Value) {
  const std::uint8_t b[2] = {static_cast<std::uint8_t>(Value),
                             static_cast<std::uint8_t>(Value >> 8)};
  WriteBuffer(b, 2);
}

void TStream::WriteDWord(std::uint32_t Value) {
  const std::uint8_t b[4] = {
      static_cast<std::uint8_t>(Value), static_cast<std::uint8_t>(Value >> 8),
      static_cast<std::uint8_t>(Value >> 16), static_cast<std::uint8_t>(Value >> 24)};
  WriteBuffer(b, 4);
}

// ---------------------------------------------------------------------------------------------
// TMemoryStream

std::int64_t TMemoryStream::Read(void* Buffer, std::int64_t Count) {
  const std::int64_t size = Size();
  if (Count <= 0 || FPosition < 0 || FPosition >= size) return 0;
  const std::int64_t n = std::min(Count, size - FPosition);
  std::memcpy(Buffer, FData.data() + FPosition, static_cast<std::size_t>(n));
  FPosition += n;
  return n;
}

std::int64_t TMemoryStream::Write(const void* Buffer, std::int64_t Count) {
  if (Count <= 0 || FPosition < 0) return 0;
  std::int64_t end;
  if (__builtin_add_overflow(FPosition, Count, &end)) return 0;
  if (end > Size()) SetSize(end);
  std::memcpy(FData.data() + FPosition, Buffer, static_cast<std::size_t>(Count));
  FPosition = end;
  return Count;
}

std::int64_t TMemoryStream::Seek(std::int64_t Offset, int Origin) {
  FPosition = SeekTarget(Offset, Origin, FPosition, Size());
  return FPosition;
}

void TMemoryStream::SetSize(std::int64_t NewSize) {
  if (NewSize < 0) throw EStreamError(Format(SInvalidSize, {NewSize}));
  // Far beyond this machine's memory: a damaged length, refused before the allocator sees it.
  constexpr std::int64_t kMaxMemoryStream = std::int64_t{1} << 36;
  if (NewSize > kMaxMemoryStream) throw EOutOfMemory(SMemoryStreamError);
  try {
    FData.resize(static_cast<std::size_t>(NewSize));
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory(SMemoryStreamError);
  } catch (const std::length_error&) {
    throw EOutOfMemory(SMemoryStreamError);
  }
  if (FPosition > NewSize) FPosition = NewSize;
}

void TMemoryStream::Clear() {
  FData.clear();
  FData.shrink_to_fit();
  FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream* Stream) {
  Stream->SetPosition(0);
  const std::int64_t count = Stream->Size();
  // Read into a fresh block first so a failing source leaves the old contents as they were.
  TMemoryStream fresh;
  fresh.SetSize(count);
  if (count != 0) Stream->ReadBuffer(fresh.Memory(), count);
  FData.swap(fresh.FData);
  FPosition = 0;
}

void TMemoryStream::LoadFromFile(const std::string& FileName) {
  TFileStream file(FileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(&file);
}

void TMemoryStream::SaveToStream(TStream* Stream) {
  if (!FData.empty()) Stream->WriteBuffer(FData.data(), Size());
}

void TMemoryStream::SaveToFile(const std::string& FileName) {
  SaveBytesToFile(FileName, FData.data(), FData.size());
}

// ---------------------------------------------------------------------------------------------
// TFileStream

TFileStream::TFileStream(const std::string& FileName, std::uint16_t Mode) : FFileName(FileName) {
  const std::string path = NativePathName(FileName);
  int flags;
  if (Mode == fmCreate) {
    flags = O_RDWR | O_CREAT | O_TRUNC;
  } else {
    switch (Mode & 3) {
      case fmOpenWrite:
        flags = O_WRONLY;
        break;
      case fmOpenReadWrite:
        flags = O_RDWR;
        break;
      default:
        flags = O_RDONLY;
        break;
    }
  }
  // Folders, pipes and devices are no files to read or write: refused without waiting on them.
  int err = 0;
  std::string reason;
  FHandle = OpenRegularFile(path, flags, err, reason);
  if (FHandle >= 0) return;
  if (Mode == fmCreate) throw EFCreateError(Format(SFCreateError, {FileName, reason}));
  throw EFOpenError(Format(SFOpenError, {FileName, reason}));
}

TFileStream::~TFileStream() {
  if (FHandle >= 0) ::close(FHandle);
}

void TFileStream::Close() {
  if (FHandle < 0) return;
  const int fd = FHandle;
  FHandle = -1;
  if (::close(fd) != 0) throw EWriteError(Format(SFWriteError, {FFileName, SystemReason(errno)}));
}

std::int64_t TFileStream::Read(void* Buffer, std::int64_t Count) {
  if (Count <= 0 || FHandle < 0) return 0;
  auto* p = static_cast<std::uint8_t*>(Buffer);
  std::int64_t done = 0;
  while (done < Count) {
    const std::size_t chunk =
        static_cast<std::size_t>(std::min<std::int64_t>(Count - done, 1 << 30));
    const ssize_t n = ::read(FHandle, p + done, chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  return done;
}

std::int64_t TFileStream::Write(const void* Buffer, std::int64_t Count) {
  if (Count <= 0 || FHandle < 0) return 0;
  const auto* p = static_cast<const std::uint8_t*>(Buffer);
  std::int64_t done = 0;
  while (done < Count) {
    const std::size_t chunk =
        static_cast<std::size_t>(std::min<std::int64_t>(Count - done, 1 << 30));
    const ssize_t n = ::write(FHandle, p + done, chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  return done;
}

std::int64_t TFileStream::Seek(std::int64_t Offset, int Origin) {
  int whence;
  switch (Origin) {
    case soFromBeginning:
      whence = SEEK_SET;
      break;
    case soFromCurrent:
      whence = SEEK_CUR;
      break;
    case soFromEnd:
      whence = SEEK_END;
      break;
    default:
      throw EStreamError(Format(SInvalidOrigin, {Origin}));
  }
  if (FHandle < 0) return 0;
  const off_t r = ::lseek(FHandle, static_cast<off_t>(Offset), whence);
  if (r < 0) throw EStreamError(Format(SInvalidSize, {Offset}));
  return r;
}

void TFileStream::SetSize(std::int64_t NewSize) {
  if (NewSize < 0 || FHandle < 0 || ::ftruncate(FHandle, static_cast<off_t>(NewSize)) != 0)
    throw EStreamError(Format(SInvalidSize, {NewSize}));
  if (Position() > NewSize) SetPosition(NewSize);
}

// ---------------------------------------------------------------------------------------------
// TBoundedStream

TBoundedStream::TBoundedStream(TStream* Base, std::int64_t Start, std::int64_t Length)
    : FBase(Base), FStart(Start), FLength(Length) {
  if (Start < 0 || Length < 0) throw EStreamError(Format(SInvalidSize, {Length}));
}

std::int64_t TBoundedStream::Read(void* Buffer, std::int64_t Count) {
  if (Count <= 0 || FPosition < 0 || FPosition >= FLength) return 0;
  const std::int64_t want = std::min(Count, FLength - FPosition);
  FBase->SetPosition(FStart + FPosition);
  const std::int64_t n = FBase->Read(Buffer, want);
  if (n > 0) FPosition += n;
  return n > 0 ? n : 0;
}

std::int64_t TBoundedStream::Write(const void* Buffer, std::int64_t Count) {
  if (Count <= 0 || FPosition < 0 || FPosition >= FLength) return 0;
  const std::int64_t want = std::min(Count, FLength - FPosition);
  FBase->SetPosition(FStart + FPosition);
  const std::int64_t n = FBase->Write(Buffer, want);
  if (n > 0) FPosition += n;
  return n > 0 ? n : 0;
}

std::int64_t TBoundedStream::Seek(std::int64_t Offset, int Origin) {
  FPosition = SeekTarget(Offset, Origin, FPosition, FLength);
  return FPosition;
}

void TBoundedStream::SetSize(std::int64_t NewSize) {
  if (NewSize != FLength) throw EStreamError(Format(SInvalidSize, {NewSize}));
}

// ---------------------------------------------------------------------------------------------
// Files

void RaiseCreateError(const std::string& FileName, const std::string& Target,
                      const std::string& Reason) {
  // The user knows the file by the name they chose; where a link leads elsewhere, that place is
  // named too, since it is the one the reason is about.
  std::error_code ec;
  const std::filesystem::path chosen =
      std::filesystem::absolute(NativePathName(FileName), ec).lexically_normal();
  if (Target.empty() || (!ec && chosen == std::filesystem::path(Target).lexically_normal()))
    throw EFCreateError(Format(SFCreateError, {FileName, Reason}));
  throw EFCreateError(Format(SFCreateLinkError, {FileName, Target, Reason}));
}

std::string ReplacementTarget(const std::string& FileName, mode_t& Mode) {
  std::string path = NativePathName(FileName);
  // Replace what a link points at, not the link itself.
  if (char* real = ::realpath(path.c_str(), nullptr)) {
    path = real;
    std::free(real);
  }
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) {
    // Only a file is replaced: a new file renamed over a device or a pipe would take the place
    // the system keeps for it, and a folder cannot be replaced at all.
    if (!S_ISREG(st.st_mode)) RaiseCreateError(FileName, path, NotAFileReason(st.st_mode));
    // A file the user may not write is not replaced behind the user's back.
    if (::access(path.c_str(), W_OK) != 0) RaiseCreateError(FileName, path, SystemReason(errno));
    Mode = st.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    Mode = 0666 & ~mask;
  }
  return path;
}

int WriteAllBytes(int Handle, const void* Bytes, std::size_t Count) {
  const auto* p = static_cast<const std::uint8_t*>(Bytes);
  std::size_t done = 0;
  while (done < Count) {
    const ssize_t n = ::write(Handle, p + done, std::min<std::size_t>(Count - done, 1u << 30));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : ENOSPC;
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

void SaveBytesToFile(const std::string& FileName, const void* Bytes, std::size_t Count) {
  mode_t mode = 0;
  const std::string path = ReplacementTarget(FileName, mode);
  std::string scratch = path + ".~XXXXXX";
  const int fd = ::mkstemp(scratch.data());
  if (fd < 0) {
    // The folder takes no new file; when the file itself is writable, write it in place.
    TFileStream file(FileName, fmCreate);
    file.WriteBuffer(Bytes, static_cast<std::int64_t>(Count));
    file.Close();
    return;
  }
  int err = WriteAllBytes(fd, Bytes, Count);
  if (err == 0 && ::fchmod(fd, mode) != 0) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && ::rename(scratch.c_str(), path.c_str()) != 0) err = errno;
  if (err != 0) {
    ::unlink(scratch.c_str());
    throw EWriteError(Format(SFWriteError, {FileName, SystemReason(err)}));
  }
}
