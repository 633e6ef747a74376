// WAVE data: TWave holds one sound in memory (its format block and its sample bytes), and the
// RIFF WAVE streams convert between a TWave and a RIFF WAVE file held in any stream.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/rtl/Classes.h"
#include "platform/rtl/Streams.h"
#include "platform/rtl/SysUtils.h"

MORVANE_DECLARE_EXCEPTION(EWaveStreamError, Exception)

// One sound: the format block exactly as the "fmt " chunk holds it, and the samples.
class TWave : public TPersistent {
 public:
  // The sample block grows and shrinks in whole blocks of this many bytes.
  static constexpr std::int32_t kBlockSize = 8096;

  TWave() = default;
  ~TWave() override;

  void Assign(TPersistent* Source) override;
  void Clear();
  void LoadFromStream(TStream* Stream);
  void SaveToStream(TStream* Stream);
  // The stored-form binary property "WAVE": a whole RIFF WAVE file.
  void ReadData(TStream* Stream);
  void WriteData(TStream* Stream);

  std::uint8_t* Data() const { return FData.get(); }  // nullptr while Size is 0
  std::int32_t Size() const { return FSize; }
  void SetSize(std::int32_t Value);
  std::int32_t Capacity() const { return FCapacity; }
  // The format block (a WAVEFORMATEX, possibly only its first 16 bytes); nullptr when empty.
  std::uint8_t* Format() const { return FFormat.get(); }
  std::int32_t FormatSize() const { return FFormatSize; }
  void SetFormatSize(std::int32_t Value);

  void DefineProperties(TPropertyDefs& Defs) override;

 private:
  std::unique_ptr<std::uint8_t[]> FData;
  std::int32_t FCapacity = 0;
  std::unique_ptr<std::uint8_t[]> FFormat;
  std::int32_t FFormatSize = 0;
  std::int32_t FSize = 0;
};

// A stream whose positions run over the sample data only; the raw transfers are left to the
// descendants.
class TCustomWaveStream : public TStream {
 public:
  const char* ClassName() const override { return "TCustomWaveStream"; }

  std::int64_t Read(void* Buffer, std::int64_t Count) override;
  std::int64_t Write(const void* Buffer, std::int64_t Count) override;
  std::int64_t Seek(std::int64_t Offset, int Origin) override;
  void SetSize(std::int64_t NewSize) override {}

  virtual std::uint8_t* GetFormat() = 0;
  virtual std::int32_t GetFormatSize() { return 0; }
  virtual std::int64_t GetSize() { return -1; }  // -1: the size is not known
  virtual std::int64_t ReadWave(void* Buffer, std::int64_t Count) { return 0; }
  virtual void SetFormatSize(std::int32_t Value) = 0;
  virtual std::int64_t WriteWave(const void* Buffer, std::int64_t Count) { return 0; }

 protected:
  std::int64_t FPosition = 0;
};

// Adds the format block it owns.
class TCustomWaveStream2 : public TCustomWaveStream {
 public:
  ~TCustomWaveStream2() override;
  const char* ClassName() const override { return "TCustomWaveStream2"; }

  std::uint8_t* GetFormat() override { return FFormat.empty() ? nullptr : FFormat.data(); }
  std::int32_t GetFormatSize() override { return std::int32_t(FFormat.size()); }
  void SetFormatSize(std::int32_t Value) override;

 private:
  std::vector<std::uint8_t> FFormat;
};

// The RIFF WAVE reader and writer over another stream (not owned). The RIFF file begins at the
// other stream's position when this one is made.
class TWaveStream : public TCustomWaveStream2 {
 public:
  explicit TWaveStream(TStream* AStream);
  // A file opened for writing is finished here when FinishWrite was not called; a failure to
  // finish cannot be reported from a destructor, so callers that care call FinishWrite.
  ~TWaveStream() override;
  const char* ClassName() const override { return "TWaveStream"; }

  void Open(bool WriteMode);
  void ReadHeader();
  void WriteHeader();
  // Patches the RIFF and "data" sizes; runs once.
  void FinishWrite();

  std::int64_t GetSize() override;
  std::int64_t ReadWave(void* Buffer, std::int64_t Count) override;
  std::int64_t WriteWave(const void* Buffer, std::int64_t Count) override;

  std::int64_t DataPosition = 0;
  std::int64_t DataHeaderPosition = 0;
  bool Opened = false;
  std::int64_t StartPosition = 0;
  bool ReadMode = false;
  std::int64_t DataSize = 0;
  TStream* Stream = nullptr;

 private:
  bool FFinished = false;
};
