// Byte streams: the abstract TStream, memory and file streams, and a bounded view over a range
// of another stream.
//
// Read/Write move as many bytes as they can and say how many; ReadBuffer/WriteBuffer are the
// exact forms that raise EReadError/EWriteError when the whole count cannot be moved. Values in
// files are little-endian whatever the host is, so the typed helpers assemble them byte by byte.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/rtl/Object.h"
#include "platform/rtl/SysUtils.h"

// Seek origins.
constexpr int soFromBeginning = 0;
constexpr int soFromCurrent = 1;
constexpr int soFromEnd = 2;

// File open modes. The sharing bits are accepted and ignored: there is no other writer here.
constexpr std::uint16_t fmOpenRead = 0x0000;
constexpr std::uint16_t fmOpenWrite = 0x0001;
constexpr std::uint16_t fmOpenReadWrite = 0x0002;
constexpr std::uint16_t fmShareCompat = 0x0000;
constexpr std::uint16_t fmShareExclusive = 0x0010;
constexpr std::uint16_t fmShareDenyWrite = 0x0020;
constexpr std::uint16_t fmShareDenyRead = 0x0030;
constexpr std::uint16_t fmShareDenyNone = 0x0040;
constexpr std::uint16_t fmCreate = 0xFFFF;

class TStream : public TObject {
 public:
  // Moves up to Count bytes; returns how many were moved (0 at the end or for Count <= 0).
  virtual std::int64_t Read(void* Buffer, std::int64_t Count) = 0;
  virtual std::int64_t Write(const void* Buffer, std::int64_t Count) = 0;
  // Returns the new position.
  virtual std::int64_t Seek(std::int64_t Offset, int Origin) = 0;

  // Exact forms: all of Count or an exception.
  void ReadBuffer(void* Buffer, std::int64_t Count);
  void WriteBuffer(const void* Buffer, std::int64_t Count);

  std::int64_t Position() { return Seek(0, soFromCurrent); }
  void SetPosition(std::int64_t Pos) { Seek(Pos, soFromBeginning); }
  virtual std::int64_t Size();
  virtual void SetSize(std::int64_t NewSize);

  // Copies Count bytes from Source's position; Count 0 copies the whole of Source from its
  // start. Raises EReadError/EWriteError when fewer bytes can be moved. Returns the count.
  std::int64_t CopyFrom(TStream* Source, std::int64_t Count);

  // Little-endian values, exact (EReadError/EWriteError on a short transfer).
  std::uint8_t ReadByte();
  std::uint16_t ReadWord();
  std::uint32_t ReadDWord();
  std::int16_t ReadSmallInt() { return static_cast<std::int16_t>(ReadWord()); }
  std::int32_t ReadInteger() { return static_cast<std::int32_t>(ReadDWord()); }
  void WriteByte(std::uint8_t Value);
  void WriteWord(std::uint16_t Value);
  void WriteDWord(std::uint32_t Value);
  void WriteSmallInt(std::int16_t Value) { WriteWord(static_cast<std::uint16_t>(Value)); }
  void WriteInteger(std::int32_t Value) { WriteDWord(static_cast<std::uint32_t>(Value)); }
};

// A growable block of memory. The position may be set past the end; a write there fills the gap
// with zero bytes.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;

  std::int64_t Read(void* Buffer, std::int64_t Count) override;
  std::int64_t Write(const void* Buffer, std::int64_t Count) override;
  std::int64_t Seek(std::int64_t Offset, int Origin) override;
  std::int64_t Size() override { return static_cast<std::int64_t>(FData.size()); }
  // Growing fills with zero bytes; the position is kept unless it would lie past the new end.
  void SetSize(std::int64_t NewSize) override;

  // The bytes; valid until the next change of size.
  std::uint8_t* Memory() { return FData.data(); }
  const std::uint8_t* Memory() const { return FData.data(); }
  void Clear();

  // Replaces the contents with the whole of Stream (from its start) or of the file.
  void LoadFromStream(TStream* Stream);
  void LoadFromFile(const std::string& FileName);
  // Writes the whole contents, whatever the position.
  void SaveToStream(TStream* Stream);
  void SaveToFile(const std::string& FileName);

 private:
  std::vector<std::uint8_t> FData;
  std::int64_t FPosition = 0;
};

// A file opened with one of the fm* modes. Opening raises EFOpenError, creating EFCreateError,
// with the file's name and the system's reason.
class TFileStream : public TStream {
 public:
  TFileStream(const std::string& FileName, std::uint16_t Mode);
  ~TFileStream() override;

  std::int64_t Read(void* Buffer, std::int64_t Count) override;
  std::int64_t Write(const void* Buffer, std::int64_t Count) override;
  std::int64_t Seek(std::int64_t Offset, int Origin) override;
  void SetSize(std::int64_t NewSize) override;

  const std::string& FileName() const { return FFileName; }
  // Closes the file now and raises EWriteError when the system reports that written data could
  // not be kept. The destructor closes too, but can only stay silent about such a failure.
  void Close();

 private:
  std::string FFileName;
  int FHandle = -1;
};

// The bytes [Start, Start + Length) of another stream, seen as a stream of its own that starts at
// 0 and cannot be read or written past its end. The view does not own the base stream; it seeks
// the base before every transfer, so several views over one base may be used in turn.
class TBoundedStream : public TStream {
 public:
  TBoundedStream(TStream* Base, std::int64_t Start, std::int64_t Length);

  std::int64_t Read(void* Buffer, std::int64_t Count) override;
  std::int64_t Write(const void* Buffer, std::int64_t Count) override;
  std::int64_t Seek(std::int64_t Offset, int Origin) override;
  std::int64_t Size() override { return FLength; }
  // The range is fixed: any other size raises EStreamError.
  void SetSize(std::int64_t NewSize) override;

 private:
  TStream* FBase;
  std::int64_t FStart;
  std::int64_t FLength;
  std::int64_t FPosition = 0;
};

// Writes Bytes as the whole new contents of FileName without ever leaving a half-written file:
// the bytes go to a scratch file beside it, which replaces the old file only once it is
// complete. Raises EFCreateError when the file cannot be made and EWriteError when the writing
// or closing fails (the old file is then untouched).
void SaveBytesToFile(const std::string& FileName, const void* Bytes, std::size_t Count);

// The pieces of such a replacement, for writers that name or flush their scratch file their own
// way. ReplacementTarget gives the path the new file goes to (what a link points at, not the
// link) and the permissions it keeps (the old file's, or those a new file gets); it raises
// EFCreateError for a name that exists and is not a regular file (a folder, a pipe, a device), or
// for a file the user may not write.
std::string ReplacementTarget(const std::string& FileName, mode_t& Mode);
// Raises EFCreateError for FileName, whose new contents were to go to Target (the path
// ReplacementTarget gave), with Reason: it names FileName and, when a link leads elsewhere,
// Target as well.
[[noreturn]] void RaiseCreateError(const std::string& FileName, const std::string& Target,
                                   const std::string& Reason);
// Writes all Count bytes to the open Handle; 0, or the errno of the failure (ENOSPC for a
// disk that takes no more).
int WriteAllBytes(int Handle, const void* Bytes, std::size_t Count);
