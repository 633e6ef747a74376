#include "framework/sound_input/DXWave.h"

#include <algorithm>
#include <cstring>

#include "framework/graphics/DXConsts.h"

namespace {

constexpr char kReadError[] = "Stream read error";

std::uint32_t FourCC(const char* s) {
  return std::uint32_t(std::uint8_t(s[0])) | (std::uint32_t(std::uint8_t(s[1])) << 8) |
         (std::uint32_t(std::uint8_t(s[2])) << 16) | (std::uint32_t(std::uint8_t(s[3])) << 24);
}

std::uint32_t GetLE32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
         (std::uint32_t(p[3]) << 24);
}

std::int32_t Blocks(std::int32_t size) {
  return std::int32_t((std::int64_t(size) + TWave::kBlockSize - 1) / TWave::kBlockSize);
}

// Bytes left in Stream after its position: what a chunk may claim at most. Claims beyond it
// are refused before anything is allocated for them.
std::int64_t Remaining(TStream* Stream) {
  return std::max<std::int64_t>(0, Stream->Size() - Stream->Position());
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TWave

TWave::~TWave() { Clear(); }

void TWave::Clear() {
  FData.reset();
  FCapacity = 0;
  FSize = 0;
  FFormat.reset();
  FFormatSize = 0;
}

void TWave::SetSize(std::int32_t Value) {
  if (Value < 0) Value = 0;
  const std::int32_t blocks = Blocks(Value);
  if (blocks != Blocks(FSize) || std::int64_t(blocks) * kBlockSize != FCapacity) {
    const std::int32_t capacity = blocks * kBlockSize;
    if (capacity == 0) {
      FData.reset();
    } else {
      std::unique_ptr<std::uint8_t[]> data(new std::uint8_t[std::size_t(capacity)]());
      if (FData) std::memcpy(data.get(), FData.get(), std::size_t(std::min(FSize, Value)));
      FData = std::move(data);
    }
    FCapacity = capacity;
  }
  FSize = Value;
}

void TWave::SetFormatSize(std::int32_t Value) {
  if (Value < 0) Value = 0;
  if (Value == 0) {
    FFormat.reset();
  } else {
    std::unique_ptr<std::uint8_t[]> format(new std::uint8_t[std::size_t(Value)]());
    if (FFormat)
      std::memcpy(format.get(), FFormat.get(), std::size_t(std::min(FFormatSize, Value)));
    FFormat = std::move(format);
  }
  FFormatSize = Value;
}

void TWave::Assign(TPersistent* Source) {
  if (Source == nullptr) {
    Clear();
    return;
  }
  if (auto* src = dynamic_cast<TWave*>(Source)) {
    if (src == this) return;
    SetSize(src->FSize);
    SetFormatSize(src->FFormatSize);
    if (FSize > 0) std::memcpy(FData.get(), src->FData.get(), std::size_t(FSize));
    if (FFormatSize > 0) std::memcpy(FFormat.get(), src->FFormat.get(), std::size_t(FFormatSize));
    return;
  }
  TPersistent::Assign(Source);
}

void TWave::LoadFromStream(TStream* Stream) {
  Clear();
  TWaveStream ws(Stream);
  ws.Open(false);
  SetFormatSize(ws.GetFormatSize());
  if (FFormatSize > 0) std::memcpy(FFormat.get(), ws.GetFormat(), std::size_t(FFormatSize));
  // A "data" chunk may claim more than the file holds; refuse it before allocating.
  const std::int64_t present = std::max<std::int64_t>(0, Stream->Size() - ws.DataPosition);
  if (ws.GetSize() > present || ws.GetSize() > INT32_MAX) throw EReadError(kReadError);
  SetSize(std::int32_t(ws.GetSize()));
  ws.ReadBuffer(FData.get(), FSize);
}

void TWave::SaveToStream(TStream* Stream) {
  if (FFormatSize <= 0 || FSize <= 0) return;
  TWaveStream ws(Stream);
  ws.SetFormatSize(FFormatSize);
  std::memcpy(ws.GetFormat(), FFormat.get(), std::size_t(FFormatSize));
  ws.Open(true);
  ws.WriteBuffer(FData.get(), FSize);
  ws.FinishWrite();
}

// An empty binary value is what a wave without samples or format is stored as: it reads back
// as an empty wave.
void TWave::ReadData(TStream* Stream) {
  if (Remaining(Stream) == 0) {
    Clear();
    return;
  }
  LoadFromStream(Stream);
}

void TWave::WriteData(TStream* Stream) { SaveToStream(Stream); }

void TWave::DefineProperties(TPropertyDefs& Defs) {
  TPersistent::DefineProperties(Defs);
  Defs.DefineBinaryProperty(
      "WAVE", [this](TStream* s) { ReadData(s); }, [this](TStream* s) { WriteData(s); }, true);
}

// ---------------------------------------------------------------------------------------------
// TCustomWaveStream

std::int64_t TCustomWaveStream::Read(void* Buffer, std::int64_t Count) {
  const std::int64_t size = GetSize();
  if (size >= 0) {
    if (FPosition > size) FPosition = size;
    if (Count > size - FPosition) Count = size - FPosition;
  }
  // The raw read runs even for nothing: a stream that was never opened says so.
  const std::int64_t n = ReadWave(Buffer, std::max<std::int64_t>(Count, 0));
  if (n > 0) FPosition += n;
  return std::max<std::int64_t>(n, 0);
}

std::int64_t TCustomWaveStream::Write(const void* Buffer, std::int64_t Count) {
  const std::int64_t size = GetSize();
  if (size >= 0 && FPosition > size) FPosition = size;
  const std::int64_t n = WriteWave(Buffer, std::max<std::int64_t>(Count, 0));
  if (n > 0) FPosition += n;
  return std::max<std::int64_t>(n, 0);
}

std::int64_t TCustomWaveStream::Seek(std::int64_t Offset, int Origin) {
  // Offsets are 32-bit, as the positions inside a wave are.
  const std::int64_t offset = std::int32_t(Offset);
  switch (Origin) {
    case soFromBeginning:
      FPosition = offset;
      break;
    case soFromCurrent:
      FPosition += offset;
      break;
    case soFromEnd:
      FPosition = GetSize() + offset;
      break;
    default:
      break;
  }
  if (FPosition < 0) FPosition = 0;
  const std::int64_t size = GetSize();
  if (size >= 0 && FPosition > size) FPosition = size;
  return FPosition;
}

// ---------------------------------------------------------------------------------------------
// TCustomWaveStream2

TCustomWaveStream2::~TCustomWaveStream2() { SetFormatSize(0); }

void TCustomWaveStream2::SetFormatSize(std::int32_t Value) {
  FFormat.resize(std::size_t(std::max(Value, 0)));
}

// ---------------------------------------------------------------------------------------------
// TWaveStream

TWaveStream::TWaveStream(TStream* AStream) : Stream(AStream) { StartPosition = Stream->Position(); }

TWaveStream::~TWaveStream() {
  if (Opened && !ReadMode && !FFinished) {
    try {
      FinishWrite();
    } catch (...) {
      // Nothing can be reported from here; SaveToStream finishes explicitly and sees the error.
    }
  }
}

void TWaveStream::Open(bool WriteMode) {
  if (WriteMode)
    WriteHeader();
  else
    ReadHeader();
}

std::int64_t TWaveStream::GetSize() {
  if (!Opened) return 0;
  if (ReadMode) return DataSize;
  return Stream->Size() - DataPosition;
}

std::int64_t TWaveStream::ReadWave(void* Buffer, std::int64_t Count) {
  if (!Opened) throw EWaveStreamError(SStreamNotOpened);
  Stream->SetPosition(DataPosition + FPosition);
  return Stream->Read(Buffer, Count);
}

std::int64_t TWaveStream::WriteWave(const void* Buffer, std::int64_t Count) {
  if (!Opened) throw EWaveStreamError(SStreamNotOpened);
  // Writing through a stream opened for reading overwrites samples in place, never past them.
  if (ReadMode && FPosition + Count > DataSize) Count = DataSize - FPosition;
  if (Count <= 0) return 0;
  Stream->SetPosition(DataPosition + FPosition);
  return Stream->Write(Buffer, Count);
}

void TWaveStream::ReadHeader() {
  if (Opened) throw EWaveStreamError(SStreamAlreadyOpen);
  Opened = true;
  ReadMode = true;

  Stream->SetPosition(StartPosition);
  std::uint8_t header[12];
  Stream->ReadBuffer(header, sizeof header);
  if (GetLE32(header) != FourCC("RIFF") || GetLE32(header + 8) != FourCC("WAVE"))
    throw EWaveStreamError(SWaveInvalid);

  // Chunk sizes are unsigned and never move the walk backwards; each header read moves it at
  // least one byte on, so the walk ends on any input.
  for (;;) {
    std::uint8_t ch[8] = {};
    Stream->Read(ch, sizeof ch);
    const std::uint32_t id = GetLE32(ch);
    if (id == 0) break;
    const std::uint32_t size = GetLE32(ch + 4);
    if (id == FourCC("fmt ")) {
      if (std::int64_t(size) > Remaining(Stream) || size > INT32_MAX) throw EReadError(kReadError);
      SetFormatSize(std::int32_t(size));
      Stream->ReadBuffer(GetFormat(), size);
    } else {
      if (id == FourCC("data")) {
        DataSize = size;
        DataPosition = Stream->Position();
      }
      Stream->Seek(std::min<std::int64_t>(size, Remaining(Stream)), soFromCurrent);
    }
    // RIFF writers follow an odd-sized chunk with a zero pad byte; our own writer does not, and
    // there the next byte starts a chunk identifier, which is never zero.
    if ((size & 1) != 0) {
      std::uint8_t pad = 1;
      if (Stream->Read(&pad, 1) == 1 && pad != 0) Stream->Seek(-1, soFromCurrent);
    }
  }
}

void TWaveStream::WriteHeader() {
  if (Opened) throw EWaveStreamError(SStreamAlreadyOpen);
  if (GetFormatSize() == 0) throw EWaveStreamError(SFormatInvalid);
  Opened = true;

  Stream->SetPosition(StartPosition);
  const std::uint8_t zeros[12] = {};
  Stream->WriteBuffer(zeros, sizeof zeros);
  Stream->WriteBuffer("fmt ", 4);
  Stream->WriteDWord(std::uint32_t(GetFormatSize()));
  Stream->WriteBuffer(GetFormat(), GetFormatSize());
  DataHeaderPosition = Stream->Position();
  Stream->WriteBuffer("data", 4);
  Stream->WriteDWord(0);
  DataPosition = Stream->Position();
}

void TWaveStream::FinishWrite() {
  if (!Opened || ReadMode || FFinished) return;
  FFinished = true;
  const std::int64_t size = Stream->Size();
  Stream->SetPosition(StartPosition);
  Stream->WriteBuffer("RIFF", 4);
  Stream->WriteDWord(std::uint32_t(size - StartPosition - 8));
  Stream->WriteBuffer("WAVE", 4);
  Stream->SetPosition(DataHeaderPosition);
  Stream->WriteBuffer("data", 4);
  Stream->WriteDWord(std::uint32_t(GetSize()));
  Stream->Seek(0, soFromEnd);
}
