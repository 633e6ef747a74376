// A software DirectSound: a device object, a primary buffer and secondary buffers made from a
// PCM format block, duplicates sharing their samples, volume, pan, frequency, looping, status and
// lost buffers. Every playing buffer is mixed by the process-wide SoundMixer into the backend's
// audio device. Only the calls, records and constants the framework uses are declared.
#pragma once

#include <cstdint>

#include "platform/win/Unknwn.h"
#include "platform/win/WinTypes.h"

#pragma pack(push, 1)
struct WAVEFORMATEX {
  WORD wFormatTag;
  WORD nChannels;
  DWORD nSamplesPerSec;
  DWORD nAvgBytesPerSec;
  WORD nBlockAlign;
  WORD wBitsPerSample;
  WORD cbSize;  // not present in a 16-byte PCM format block: never read for PCM
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);
using TWaveFormatEx = WAVEFORMATEX;
using PWaveFormatEx = WAVEFORMATEX*;

constexpr WORD WAVE_FORMAT_PCM = 1;
constexpr DWORD kPCMFormatSize = 16;  // the PCM part of WAVEFORMATEX, without cbSize

struct DSBUFFERDESC {
  DWORD dwSize;
  DWORD dwFlags;
  DWORD dwBufferBytes;
  DWORD dwReserved;
  WAVEFORMATEX* lpwfxFormat;
  GUID guid3DAlgorithm;
};
// The size the framework stores in dwSize: the record as laid out with 32-bit pointers.
constexpr DWORD DSBUFFERDESC_SIZE = 36;

struct DSBCAPS {
  DWORD dwSize;
  DWORD dwFlags;
  DWORD dwBufferBytes;
  DWORD dwUnlockTransferRate;
  DWORD dwPlayCpuOverhead;
};
static_assert(sizeof(DSBCAPS) == 20);

constexpr DWORD DSBCAPS_PRIMARYBUFFER = 0x1;
constexpr DWORD DSBCAPS_STATIC = 0x2;
constexpr DWORD DSBCAPS_LOCSOFTWARE = 0x8;
constexpr DWORD DSBCAPS_CTRLFREQUENCY = 0x20;
constexpr DWORD DSBCAPS_CTRLPAN = 0x40;
constexpr DWORD DSBCAPS_CTRLVOLUME = 0x80;
constexpr DWORD DSBCAPS_STICKYFOCUS = 0x4000;
constexpr DWORD DSBCAPS_GLOBALFOCUS = 0x8000;

constexpr DWORD DSBPLAY_LOOPING = 0x1;
constexpr DWORD DSBSTATUS_PLAYING = 0x1;
constexpr DWORD DSBSTATUS_BUFFERLOST = 0x2;
constexpr DWORD DSBSTATUS_LOOPING = 0x4;
constexpr DWORD DSBLOCK_FROMWRITECURSOR = 0x1;
constexpr DWORD DSBLOCK_ENTIREBUFFER = 0x2;

constexpr DWORD DSSCL_NORMAL = 1;
constexpr DWORD DSSCL_PRIORITY = 2;
constexpr DWORD DSSCL_EXCLUSIVE = 3;
constexpr DWORD DSSCL_WRITEPRIMARY = 4;

constexpr LONG DSBVOLUME_MIN = -10000;  // hundredths of a decibel; the minimum is silence
constexpr LONG DSBVOLUME_MAX = 0;
constexpr LONG DSBPAN_LEFT = -10000;
constexpr LONG DSBPAN_CENTER = 0;
constexpr LONG DSBPAN_RIGHT = 10000;
constexpr DWORD DSBFREQUENCY_ORIGINAL = 0;
constexpr DWORD DSBFREQUENCY_MIN = 100;
constexpr DWORD DSBFREQUENCY_MAX = 200000;
constexpr DWORD DSBSIZE_MIN = 1;
constexpr DWORD DSBSIZE_MAX = 0x0FFFFFFF;

constexpr HRESULT DS_OK = 0;
constexpr HRESULT DSERR_ALLOCATED = static_cast<HRESULT>(0x8878000Au);
constexpr HRESULT DSERR_CONTROLUNAVAIL = static_cast<HRESULT>(0x8878001Eu);
constexpr HRESULT DSERR_INVALIDPARAM = E_INVALIDARG;
constexpr HRESULT DSERR_INVALIDCALL = static_cast<HRESULT>(0x88780032u);
constexpr HRESULT DSERR_GENERIC = E_FAIL;
constexpr HRESULT DSERR_PRIOLEVELNEEDED = static_cast<HRESULT>(0x88780046u);
constexpr HRESULT DSERR_OUTOFMEMORY = E_OUTOFMEMORY;
constexpr HRESULT DSERR_BADFORMAT = static_cast<HRESULT>(0x88780064u);
constexpr HRESULT DSERR_UNSUPPORTED = E_NOTIMPL;
constexpr HRESULT DSERR_NODRIVER = static_cast<HRESULT>(0x88780078u);
constexpr HRESULT DSERR_NOAGGREGATION = static_cast<HRESULT>(0x80040110u);
constexpr HRESULT DSERR_BUFFERLOST = static_cast<HRESULT>(0x88780096u);

class IDirectSoundBuffer : public IUnknown {
 public:
  virtual HRESULT GetCaps(DSBCAPS* caps) = 0;
  virtual HRESULT GetCurrentPosition(DWORD* playCursor, DWORD* writeCursor) = 0;
  // With a null block only the size is reported (through sizeWritten).
  virtual HRESULT GetFormat(WAVEFORMATEX* format, DWORD sizeAllocated, DWORD* sizeWritten) = 0;
  virtual HRESULT GetVolume(LONG* volume) = 0;
  virtual HRESULT GetPan(LONG* pan) = 0;
  virtual HRESULT GetFrequency(DWORD* frequency) = 0;
  virtual HRESULT GetStatus(DWORD* status) = 0;
  virtual HRESULT Lock(DWORD offset, DWORD bytes, void** ptr1, DWORD* bytes1, void** ptr2,
                       DWORD* bytes2, DWORD flags) = 0;
  virtual HRESULT Play(DWORD reserved1, DWORD priority, DWORD flags) = 0;
  virtual HRESULT SetCurrentPosition(DWORD newPosition) = 0;
  virtual HRESULT SetVolume(LONG volume) = 0;
  virtual HRESULT SetPan(LONG pan) = 0;
  virtual HRESULT SetFrequency(DWORD frequency) = 0;
  virtual HRESULT Stop() = 0;
  virtual HRESULT Unlock(void* ptr1, DWORD bytes1, void* ptr2, DWORD bytes2) = 0;
};

class IDirectSound : public IUnknown {
 public:
  virtual HRESULT CreateSoundBuffer(const DSBUFFERDESC* desc, IDirectSoundBuffer** buffer,
                                    IUnknown* outer) = 0;
  virtual HRESULT DuplicateSoundBuffer(IDirectSoundBuffer* original,
                                       IDirectSoundBuffer** duplicate) = 0;
  virtual HRESULT SetCooperativeLevel(HWND window, DWORD level) = 0;
};

extern const IID IID_IDirectSound;
extern const IID IID_IDirectSoundBuffer;

// Creates the DirectSound object over the mixer. Without an audio device it still succeeds and
// mixes into nothing, so sounds start, end and report their status as usual.
HRESULT DirectSoundCreate(const GUID* device, IDirectSound** directSound, IUnknown* outer);

// Hooks for tests.
namespace dsound {
// Makes every following DirectSoundCreate fail with `result` (DS_OK: succeed again).
void SetCreateFailure(HRESULT result);
// Loses the memory of every secondary buffer, or of one buffer (and the duplicates sharing it):
// they stop, report DSBSTATUS_BUFFERLOST and answer DSERR_BUFFERLOST until they are replaced.
void LoseAllBuffers();
void LoseBuffer(IDirectSoundBuffer* buffer);
// Secondary buffers alive in the process (leak checks).
int LiveBufferCount();
}  // namespace dsound
