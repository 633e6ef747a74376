// DirectSound wrappers, the sound component that sets DirectSound up on its owner form, and the
// sound list of named sounds played from pools of buffers.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <typeinfo>
#include <vector>

#include "framework/graphics/DXClass.h"
#include "framework/sound_input/DXWave.h"
#include "platform/dsound/DSound.h"
#include "platform/rtl/Classes.h"
#include "platform/rtl/Sets.h"

class TCustomForm;
class TControlSubClass;
struct TMessage;
class TCustomDXSound;

MORVANE_DECLARE_EXCEPTION(EDirectSoundError, EDirectXError)
MORVANE_DECLARE_EXCEPTION(EDirectSoundBufferError, EDirectSoundError)
MORVANE_DECLARE_EXCEPTION(EDXSoundError, Exception)
MORVANE_DECLARE_EXCEPTION(EWaveCollectionError, Exception)

// Binds DirectSoundCreate of "DSound.dll" by name and calls it.
HRESULT DXDirectSoundCreate(const GUID* lpGUID, IDirectSound** lpDS, IUnknown* pUnkOuter);

class TDirectSoundBuffer;

// The DirectSound object and the buffers made on it.
class TDirectSound : public TDirectX {
 public:
  // Raises EDirectSoundError "DirectSound cannot be initialized" when DirectSound cannot be made.
  explicit TDirectSound(const GUID* GUID);
  // Frees every buffer still made on it, last first, then lets the object go.
  ~TDirectSound() override;

  // Raises EDirectSoundError "IDirectSound not made" when there is none.
  IDirectSound* IDSound() const;
  // A buffer call failed: a lost buffer restores every sound, unless a restore is running.
  void CheckBuffer(TDirectSoundBuffer* Buffer);
  virtual void DoRestore() {}

  std::vector<TDirectSoundBuffer*> Buffers;
  bool GlobalFocus = false;
  bool InRestoreBuffer = false;
  bool StickyFocus = false;

 private:
  IDirectSound* FIDSound = nullptr;
};

// One sound buffer: made from a wave or duplicated from another buffer.
class TDirectSoundBuffer : public TDirectX {
 public:
  // Joins ADSound's Buffers.
  explicit TDirectSoundBuffer(TDirectSound* ADSound);
  ~TDirectSoundBuffer() override;

  // nullptr: lets the buffer go; a TWave: LoadFromWave; another TDirectSoundBuffer: a duplicate
  // sharing its samples (the owner DirectSound object keeps the result).
  void Assign(TPersistent* Source) override;

  bool CreateFromDesc(const DSBUFFERDESC& Desc);
  // A mixable buffer (frequency, pan and volume control) of Size bytes in the given format.
  // FormatSize is the size of the block Format points to; a block too small to hold a PCM
  // format, or a format DirectSound refuses, raises "Sound Buffer cannot be made".
  void CreateBuffer(const void* Format, std::int32_t FormatSize, std::int32_t Size);
  void LoadFromMemory(const void* Format, std::int32_t FormatSize, const void* Data,
                      std::int32_t Size);
  void LoadFromWave(TWave* Wave);

  // One lock at a time: False when there is no buffer or a lock is held.
  bool Lock(DWORD Offset, DWORD Size, void*& Lpvptr1, DWORD& Dwbytes1, void*& Lpvptr2,
            DWORD& Dwbytes2);
  void UnLock();

  // These raise EDirectSoundBufferError "IDirectSoundBuffer not made" without a buffer.
  bool Play(bool Loop = false);
  void Stop();
  void SetPosition(DWORD Value);
  void SetFrequency(DWORD Value);
  void SetPan(LONG Value);
  void SetVolume(LONG Value);
  DWORD GetStatus();  // 0 when the call fails
  bool Playing();

  // The interface, or nullptr (also for a null object).
  static IDirectSoundBuffer* IBufferOf(const TDirectSoundBuffer* Buffer) {
    return Buffer != nullptr ? Buffer->FIBuffer : nullptr;
  }
  IDirectSoundBuffer* IBuffer() const { return FIBuffer; }
  // Replaces the interface (taking a reference to Value) and reads its caps and format.
  void SetIBuffer(IDirectSoundBuffer* Value);

  TDirectSound* DSound() const { return FDSound; }
  const DSBCAPS& Caps() const { return FCaps; }
  const std::uint8_t* Format() const { return FFormat.empty() ? nullptr : FFormat.data(); }
  std::int32_t FormatSize() const { return std::int32_t(FFormat.size()); }
  std::int32_t LockCount() const { return FLockCount; }

  // Leaves the DirectSound object and gives up the interface, so that the object can outlive
  // it: a buffer whose method is still on the stack is kept this way until that returns.
  void Retire();

 protected:
  void CheckResult() override;

 private:
  IDirectSoundBuffer* Strict() const;

  TDirectSound* FDSound;
  IDirectSoundBuffer* FIBuffer = nullptr;
  DSBCAPS FCaps{};
  std::vector<std::uint8_t> FFormat;
  void* FLockPtr1 = nullptr;
  void* FLockPtr2 = nullptr;
  DWORD FLockSize1 = 0;
  DWORD FLockSize2 = 0;
  std::int32_t FLockCount = 0;
  bool FQuietResult = false;  // storing a result without the lost-buffer check
};

enum TDXSoundOption { soGlobalFocus, soStickyFocus, soExclusive };
using TDXSoundOptions = TSet<TDXSoundOption>;

enum TDXSoundNotifyKind { snDestroying, snInitializing, snInitialize, snFinalize, snRestore };

// A notify handler: a method bound to its object. Two handlers are equal when both the object
// and the method are, so a list can find and remove the one it was given.
class TDXSoundNotifyEvent {
 public:
  TDXSoundNotifyEvent() = default;
  template <class C>
  TDXSoundNotifyEvent(C* Object, void (C::*Method)(TCustomDXSound*, TDXSoundNotifyKind))
      : FObject(Object), FType(&typeid(C)) {
    static_assert(sizeof(Method) <= sizeof(FMethod));
    std::memcpy(FMethod, &Method, sizeof(Method));
    FCall = [Object, Method](TCustomDXSound* Sender, TDXSoundNotifyKind Kind) {
      (Object->*Method)(Sender, Kind);
    };
  }
  void operator()(TCustomDXSound* Sender, TDXSoundNotifyKind Kind) const { FCall(Sender, Kind); }
  friend bool operator==(const TDXSoundNotifyEvent& a, const TDXSoundNotifyEvent& b) {
    return a.FObject == b.FObject && a.FType != nullptr && b.FType != nullptr &&
           *a.FType == *b.FType && std::memcmp(a.FMethod, b.FMethod, sizeof a.FMethod) == 0;
  }

 private:
  const void* FObject = nullptr;
  const std::type_info* FType = nullptr;
  unsigned char FMethod[2 * sizeof(void*)] = {};
  std::function<void(TCustomDXSound*, TDXSoundNotifyKind)> FCall;
};

class TDXSoundDirectSound : public TDirectSound {
 public:
  using TDirectSound::TDirectSound;
  void DoRestore() override;
  TCustomDXSound* DXSound = nullptr;
};

// The sound component: DirectSound on its owner form, notify handlers for the sound lists, and
// the restore of every sound when a buffer is lost.
class TCustomDXSound : public TComponent {
 public:
  explicit TCustomDXSound(TComponent* AOwner);
  ~TCustomDXSound() override;
  void Loaded() override;

  void Initialize();
  void Finalize();
  void Restore();

  void AddNotifyHandler(const TDXSoundNotifyEvent& NotifyEvent);
  void RemoveNotifyHandler(const TDXSoundNotifyEvent& NotifyEvent);

  bool Initialized() const { return FInitialized; }
  TDXSoundOptions Options() const { return FOptions; }
  void SetOptions(TDXSoundOptions Value);
  TDXSoundOptions NowOptions() const { return FNowOptions; }
  TDXSoundDirectSound* DSound() const { return FDSound; }
  TDirectSoundBuffer* Primary() const { return FPrimary; }
  TCustomForm* Form() const { return FForm; }
  int NotifyCount() const { return int(FNotifyList.size()); }

  bool AutoInitialize = true;
  const GUID* Driver = nullptr;  // nullptr: the default device
  TNotifyEvent OnFinalize;
  TNotifyEvent OnInitialize;
  TNotifyEvent OnInitializing;
  TNotifyEvent OnRestore;

 protected:
  virtual void DoFinalize();
  virtual void DoInitialize();
  virtual void DoInitializing();
  virtual void DoRestore();
  void Notify(TDXSoundNotifyKind NotifyKind);
  void SetForm(TCustomForm* Value);
  void FormWndProc(TMessage& Message, const std::function<void(TMessage&)>& DefWindowProc);

 private:
  // Calls every handler even when one raises; the first exception goes on afterwards.
  void NotifyAll(TDXSoundNotifyKind NotifyKind);

  bool FCalledDoInitialize = false;
  TDXSoundDirectSound* FDSound = nullptr;
  TCustomForm* FForm = nullptr;
  bool FInitialized = false;
  bool FInitializeStarted = false;
  std::vector<TDXSoundNotifyEvent> FNotifyList;
  TDXSoundOptions FNowOptions;
  TDXSoundOptions FOptions;
  TDirectSoundBuffer* FPrimary = nullptr;
  TControlSubClass* FSubClass = nullptr;
};

class TDXSound : public TCustomDXSound {
 public:
  using TCustomDXSound::TCustomDXSound;
  void DefineProperties(TPropertyDefs& Defs) override;
};

class TWaveCollection;

// A named sound: its samples, a master buffer filled from them and a pool of duplicates that
// play it.
class TWaveCollectionItem : public THashCollectionItem {
 public:
  explicit TWaveCollectionItem(TCollection* Collection);
  ~TWaveCollectionItem() override;

  void Assign(TPersistent* Source) override;
  void DefineProperties(TPropertyDefs& Defs) override;

  void Play(bool Wait = false);
  void Stop();
  void Initialize();
  void Finalize();
  void Restore();

  // The master buffer, made first when the item is initialized and has none; may be nullptr.
  TDirectSoundBuffer* GetBuffer();
  TDirectSoundBuffer* Buffer() const { return FBuffer; }
  const std::vector<TDirectSoundBuffer*>& BufferList() const { return FBufferList; }
  bool Initialized() const { return FInitialized; }
  TWaveCollection* WaveCollection() const;

  bool Looped() const { return FLooped; }
  void SetLooped(bool Value);
  std::int32_t MaxPlayingCount() const { return FMaxPlayingCount; }
  void SetMaxPlayingCount(std::int32_t Value);
  TWave* Wave() const { return FWave.get(); }
  void SetWave(TWave* Value);

  std::int32_t Frequency = 0;
  std::int32_t Pan = 0;
  std::int32_t Volume = 0;

 private:
  TDirectSoundBuffer* CreateDuplicate();
  // Lets a buffer go now, or when the Play running on this item has returned.
  void FreeBuffer(TDirectSoundBuffer* Buffer);
  void FreePool();

  TDirectSoundBuffer* FBuffer = nullptr;
  std::vector<TDirectSoundBuffer*> FBufferList;
  bool FInitialized = false;
  bool FLooped = false;
  std::int32_t FMaxPlayingCount = 0;
  std::unique_ptr<TWave> FWave;
  int FPlayDepth = 0;
  std::vector<TDirectSoundBuffer*> FRetired;
};

class TCustomDXWaveList;

class TWaveCollection : public THashCollection {
 public:
  explicit TWaveCollection(TCustomDXWaveList* AOwner);
  ~TWaveCollection() override;

  TWaveCollectionItem* GetItem(int Index) const;
  // Raises EWaveCollectionError "Wave '%s' not found".
  TWaveCollectionItem* Find(const std::string& Name) const;
  void Initialize(TCustomDXSound* DXSound);
  void Finalize();
  bool Initialized() const;
  void Restore();

  TCustomDXSound* DXSound() const { return FDXSound; }
  TCustomDXWaveList* WaveList() const { return FOwner; }

 private:
  TCustomDXSound* FDXSound = nullptr;
  TCustomDXWaveList* FOwner;
};

class TCustomDXWaveList : public TComponent {
 public:
  explicit TCustomDXWaveList(TComponent* AOwner);
  ~TCustomDXWaveList() override;
  void Notification(TComponent* AComponent, TOperation Operation) override;

  TCustomDXSound* DXSound() const { return FDXSound; }
  void SetDXSound(TCustomDXSound* Value);
  TWaveCollection* Items() const { return FItems; }
  void SetItems(TWaveCollection* Value);

 protected:
  void DXSoundNotify(TCustomDXSound* Sender, TDXSoundNotifyKind NotifyKind);

 private:
  TCustomDXSound* FDXSound = nullptr;
  TWaveCollection* FItems = nullptr;
};

class TDXWaveList : public TCustomDXWaveList {
 public:
  using TCustomDXWaveList::TCustomDXWaveList;
  void DefineProperties(TPropertyDefs& Defs) override;
};
