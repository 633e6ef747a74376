#include "framework/sound_input/DXSounds.h"

#include <algorithm>
#include <exception>

#include "framework/graphics/ControlSubClass.h"
#include "framework/graphics/DXConsts.h"
#include "framework/graphics/DirectX.h"
#include "platform/forms/Forms.h"
#include "platform/timer/MMSystem.h"

namespace {

constexpr char kIDirectSound[] = "IDirectSound";
constexpr char kIDirectSoundBuffer[] = "IDirectSoundBuffer";

template <class T>
void Erase(std::vector<T*>& List, T* Item) {
  const auto it = std::find(List.begin(), List.end(), Item);
  if (it != List.end()) List.erase(it);
}

}  // namespace

HRESULT DXDirectSoundCreate(const GUID* lpGUID, IDirectSound** lpDS, IUnknown* pUnkOuter) {
  *lpDS = nullptr;
  auto* create = BindLibraryEntry<decltype(DirectSoundCreate)>("DSound.dll", "DirectSoundCreate");
  return create(lpGUID, lpDS, pUnkOuter);
}

// ---------------------------------------------------------------------------------------------
// TDirectSound

TDirectSound::TDirectSound(const GUID* GUID) {
  if (DXDirectSoundCreate(GUID, &FIDSound, nullptr) != DS_OK)
    throw EDirectSoundError(::Format(SCannotInitialized, {SDirectSound}));
}

TDirectSound::~TDirectSound() {
  while (!Buffers.empty()) delete Buffers.back();
  if (FIDSound != nullptr) FIDSound->Release();
}

IDirectSound* TDirectSound::IDSound() const {
  if (FIDSound == nullptr) throw EDirectSoundError(::Format(SNotMade, {kIDirectSound}));
  return FIDSound;
}

void TDirectSound::CheckBuffer(TDirectSoundBuffer* Buffer) {
  if (Buffer->ResultCode() != DSERR_BUFFERLOST || InRestoreBuffer) return;
  InRestoreBuffer = true;
  try {
    DoRestore();
  } catch (...) {
    InRestoreBuffer = false;
    throw;
  }
  InRestoreBuffer = false;
}

// ---------------------------------------------------------------------------------------------
// TDirectSoundBuffer

TDirectSoundBuffer::TDirectSoundBuffer(TDirectSound* ADSound) : FDSound(ADSound) {
  FDSound->Buffers.push_back(this);
}

TDirectSoundBuffer::~TDirectSoundBuffer() {
  SetIBuffer(nullptr);
  if (FDSound != nullptr) Erase(FDSound->Buffers, this);
}

void TDirectSoundBuffer::Retire() {
  SetIBuffer(nullptr);
  if (FDSound != nullptr) Erase(FDSound->Buffers, this);
  FDSound = nullptr;
}

void TDirectSoundBuffer::Assign(TPersistent* Source) {
  if (Source == nullptr) {
    SetIBuffer(nullptr);
  } else if (auto* wave = dynamic_cast<TWave*>(Source)) {
    LoadFromWave(wave);
  } else if (auto* src = dynamic_cast<TDirectSoundBuffer*>(Source)) {
    if (src->FIBuffer == nullptr) {
      SetIBuffer(nullptr);
    } else {
      IDirectSoundBuffer* dup = nullptr;
      const HRESULT hr = FDSound->IDSound()->DuplicateSoundBuffer(src->FIBuffer, &dup);
      FDSound->SetResultCode(hr);
      if (hr == DS_OK) {
        SetIBuffer(dup);
        dup->Release();
      }
    }
  } else {
    TDirectX::Assign(Source);
  }
}

void TDirectSoundBuffer::CheckResult() {
  if (FDSound != nullptr && !FQuietResult) FDSound->CheckBuffer(this);
}

IDirectSoundBuffer* TDirectSoundBuffer::Strict() const {
  if (FIBuffer == nullptr) throw EDirectSoundBufferError(::Format(SNotMade, {kIDirectSoundBuffer}));
  return FIBuffer;
}

void TDirectSoundBuffer::SetIBuffer(IDirectSoundBuffer* Value) {
  if (Value == FIBuffer) return;
  if (Value != nullptr) Value->AddRef();
  IDirectSoundBuffer* old = FIBuffer;
  FIBuffer = Value;
  if (old != nullptr) old->Release();
  FCaps = DSBCAPS{};
  FFormat.clear();
  FLockCount = 0;
  FLockPtr1 = FLockPtr2 = nullptr;
  FLockSize1 = FLockSize2 = 0;
  if (Value == nullptr) return;
  FCaps.dwSize = sizeof(DSBCAPS);
  Value->GetCaps(&FCaps);
  DWORD size = 0;
  if (Value->GetFormat(nullptr, 0, &size) == DS_OK && size > 0) {
    FFormat.resize(size);
    Value->GetFormat(reinterpret_cast<WAVEFORMATEX*>(FFormat.data()), size, nullptr);
  }
}

bool TDirectSoundBuffer::CreateFromDesc(const DSBUFFERDESC& Desc) {
  SetIBuffer(nullptr);
  IDirectSoundBuffer* buffer = nullptr;
  const HRESULT hr = FDSound->IDSound()->CreateSoundBuffer(&Desc, &buffer, nullptr);
  // Stored on the owner (where a failure triggers nothing) and copied here without the check.
  FDSound->SetResultCode(hr);
  FQuietResult = true;
  SetResultCode(hr);
  FQuietResult = false;
  if (hr != DS_OK) return false;
  SetIBuffer(buffer);
  buffer->Release();
  return true;
}

void TDirectSoundBuffer::CreateBuffer(const void* Format, std::int32_t FormatSize,
                                      std::int32_t Size) {
  // The format block is only read as far as its size allows: anything smaller than the PCM
  // part of a format is refused before DirectSound sees it.
  if (Format == nullptr || FormatSize < std::int32_t(kPCMFormatSize) || Size <= 0)
    throw EDirectSoundBufferError(::Format(SCannotMade, {SDirectSoundBuffer}));
  WAVEFORMATEX format{};
  std::memcpy(&format, Format, std::min<std::size_t>(std::size_t(FormatSize), sizeof format));
  if (FormatSize < std::int32_t(sizeof format)) format.cbSize = 0;
  DSBUFFERDESC desc{};
  desc.dwSize = DSBUFFERDESC_SIZE;
  desc.dwFlags = DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLPAN | DSBCAPS_CTRLVOLUME;
  if (FDSound->StickyFocus)
    desc.dwFlags |= DSBCAPS_STICKYFOCUS;
  else if (FDSound->GlobalFocus)
    desc.dwFlags |= DSBCAPS_GLOBALFOCUS;
  desc.dwBufferBytes = DWORD(Size);
  desc.lpwfxFormat = &format;
  if (!CreateFromDesc(desc))
    throw EDirectSoundBufferError(::Format(SCannotMade, {SDirectSoundBuffer}));
}

void TDirectSoundBuffer::LoadFromMemory(const void* Format, std::int32_t FormatSize,
                                        const void* Data, std::int32_t Size) {
  CreateBuffer(Format, FormatSize, Size);
  if (Data == nullptr) return;
  void *p1 = nullptr, *p2 = nullptr;
  DWORD s1 = 0, s2 = 0;
  if (!Lock(0, DWORD(Size), p1, s1, p2, s2)) {
    SetIBuffer(nullptr);
    throw EDirectSoundBufferError(::Format(SCannotLocked, {SDirectSoundBuffer}));
  }
  const auto* bytes = static_cast<const std::uint8_t*>(Data);
  std::memcpy(p1, bytes, s1);
  if (p2 != nullptr) std::memcpy(p2, bytes + s1, s2);
  UnLock();
}

void TDirectSoundBuffer::LoadFromWave(TWave* Wave) {
  LoadFromMemory(Wave->Format(), Wave->FormatSize(), Wave->Data(), Wave->Size());
}

bool TDirectSoundBuffer::Lock(DWORD Offset, DWORD Size, void*& Lpvptr1, DWORD& Dwbytes1,
                              void*& Lpvptr2, DWORD& Dwbytes2) {
  if (FIBuffer == nullptr || FLockCount > 0) return false;
  void *p1 = nullptr, *p2 = nullptr;
  DWORD s1 = 0, s2 = 0;
  const HRESULT hr = FIBuffer->Lock(Offset, Size, &p1, &s1, &p2, &s2, 0);
  SetResultCode(hr);
  if (hr != DS_OK) return false;
  FLockPtr1 = Lpvptr1 = p1;
  FLockSize1 = Dwbytes1 = s1;
  FLockPtr2 = Lpvptr2 = p2;
  FLockSize2 = Dwbytes2 = s2;
  FLockCount = 1;
  return true;
}

void TDirectSoundBuffer::UnLock() {
  if (FIBuffer == nullptr || FLockCount == 0) return;
  FLockCount = 0;
  SetResultCode(FIBuffer->Unlock(FLockPtr1, FLockSize1, FLockPtr2, FLockSize2));
}

// A failed call may restore every sound before SetResultCode returns; the result given back is
// the call's own, and nothing of the object is touched after the check.
bool TDirectSoundBuffer::Play(bool Loop) {
  const HRESULT hr = Strict()->Play(0, 0, Loop ? DSBPLAY_LOOPING : 0);
  SetResultCode(hr);
  return hr == DS_OK;
}

void TDirectSoundBuffer::Stop() { SetResultCode(Strict()->Stop()); }

void TDirectSoundBuffer::SetPosition(DWORD Value) {
  SetResultCode(Strict()->SetCurrentPosition(Value));
}

void TDirectSoundBuffer::SetFrequency(DWORD Value) { SetResultCode(Strict()->SetFrequency(Value)); }

void TDirectSoundBuffer::SetPan(LONG Value) { SetResultCode(Strict()->SetPan(Value)); }

void TDirectSoundBuffer::SetVolume(LONG Value) { SetResultCode(Strict()->SetVolume(Value)); }

DWORD TDirectSoundBuffer::GetStatus() {
  DWORD status = 0;
  const HRESULT hr = Strict()->GetStatus(&status);
  SetResultCode(hr);
  return hr == DS_OK ? status : 0;
}

bool TDirectSoundBuffer::Playing() {
  return (GetStatus() & (DSBSTATUS_PLAYING | DSBSTATUS_LOOPING)) != 0;
}

// ---------------------------------------------------------------------------------------------
// TCustomDXSound

void TDXSoundDirectSound::DoRestore() {
  TDirectSound::DoRestore();
  if (DXSound != nullptr) DXSound->Restore();
}

TCustomDXSound::TCustomDXSound(TComponent* AOwner) : TComponent(AOwner) {}

// Nothing may escape a destructor: a failing finalise has still let everything go.
TCustomDXSound::~TCustomDXSound() {
  try {
    Finalize();
  } catch (...) {
  }
  try {
    NotifyAll(snDestroying);
  } catch (...) {
  }
  delete FSubClass;
  FSubClass = nullptr;
}

void TCustomDXSound::Loaded() {
  TComponent::Loaded();
  if (AutoInitialize && !ComponentState().Contains(csDesigning)) {
    try {
      Initialize();
    } catch (const EDirectSoundError&) {
      // No sound device: the program runs silent.
    }
  }
}

void TCustomDXSound::DoFinalize() {
  if (OnFinalize) OnFinalize(this);
}
void TCustomDXSound::DoInitialize() {
  if (OnInitialize) OnInitialize(this);
}
void TCustomDXSound::DoInitializing() {
  if (OnInitializing) OnInitializing(this);
}
void TCustomDXSound::DoRestore() {
  if (OnRestore) OnRestore(this);
}

void TCustomDXSound::Initialize() {
  Finalize();

  TComponent* owner = Owner();
  TCustomForm* form = nullptr;
  while (owner != nullptr && (form = dynamic_cast<TCustomForm*>(owner)) == nullptr)
    owner = owner->Owner();
  if (form == nullptr) throw EDXSoundError(SFormNotFound);

  Notify(snInitializing);
  DoInitializing();
  FInitializeStarted = true;
  try {
    FDSound = new TDXSoundDirectSound(Driver);
    FDSound->DXSound = this;
    FDSound->GlobalFocus = FNowOptions.Contains(soGlobalFocus);
    FDSound->StickyFocus = FNowOptions.Contains(soStickyFocus);

    FPrimary = new TDirectSoundBuffer(FDSound);
    DSBUFFERDESC desc{};
    desc.dwSize = DSBUFFERDESC_SIZE;
    desc.dwFlags = DSBCAPS_PRIMARYBUFFER;
    if (!FPrimary->CreateFromDesc(desc))
      throw EDXSoundError(::Format(SCannotMade, {SDirectSoundPrimaryBuffer}));
    FInitialized = true;
    SetForm(form);
  } catch (...) {
    // The start's own failure is the one worth reporting.
    try {
      Finalize();
    } catch (...) {
    }
    throw;
  }

  Notify(snInitialize);
  FCalledDoInitialize = true;
  DoInitialize();
  Restore();
}

void TCustomDXSound::Finalize() {
  if (!FInitializeStarted) return;
  delete FSubClass;
  FSubClass = nullptr;

  std::exception_ptr first;
  if (FCalledDoInitialize) {
    FCalledDoInitialize = false;
    try {
      DoFinalize();
    } catch (...) {
      first = std::current_exception();
    }
  }
  try {
    NotifyAll(snFinalize);
  } catch (...) {
    if (!first) first = std::current_exception();
  }

  FInitialized = false;
  FInitializeStarted = false;
  SetOptions(FOptions);
  delete FPrimary;
  FPrimary = nullptr;
  delete FDSound;
  FDSound = nullptr;
  if (first) std::rethrow_exception(first);
}

void TCustomDXSound::Restore() {
  if (!FInitialized) return;
  Notify(snRestore);
  DoRestore();
}

void TCustomDXSound::AddNotifyHandler(const TDXSoundNotifyEvent& NotifyEvent) {
  RemoveNotifyHandler(NotifyEvent);
  FNotifyList.push_back(NotifyEvent);
  if (FInitialized) {
    NotifyEvent(this, snInitialize);
    NotifyEvent(this, snRestore);
  }
}

void TCustomDXSound::RemoveNotifyHandler(const TDXSoundNotifyEvent& NotifyEvent) {
  const auto it = std::find(FNotifyList.begin(), FNotifyList.end(), NotifyEvent);
  if (it != FNotifyList.end()) FNotifyList.erase(it);
  if (FInitialized) NotifyEvent(this, snFinalize);
}

namespace {

// From the last registered to the first. A handler may remove itself (or others) while it is
// called: each is copied before the call, and the walk goes on from where the list now ends.
template <class Call>
void WalkNotifyList(const std::vector<TDXSoundNotifyEvent>& List, Call CallHandler) {
  std::size_t i = List.size();
  while (i > 0) {
    --i;
    if (i >= List.size()) {
      i = List.size();
      continue;
    }
    const TDXSoundNotifyEvent handler = List[i];
    CallHandler(handler);
  }
}

}  // namespace

void TCustomDXSound::Notify(TDXSoundNotifyKind NotifyKind) {
  if (NotifyKind == snFinalize || NotifyKind == snDestroying) {
    NotifyAll(NotifyKind);
    return;
  }
  WalkNotifyList(FNotifyList,
                 [&](const TDXSoundNotifyEvent& handler) { handler(this, NotifyKind); });
}

void TCustomDXSound::NotifyAll(TDXSoundNotifyKind NotifyKind) {
  std::exception_ptr first;
  WalkNotifyList(FNotifyList, [&](const TDXSoundNotifyEvent& handler) {
    try {
      handler(this, NotifyKind);
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  });
  if (first) std::rethrow_exception(first);
}

void TCustomDXSound::SetOptions(TDXSoundOptions Value) {
  FOptions = Value;
  if (!FInitialized) {
    FNowOptions = Value;
    return;
  }
  // The cooperative level stays as it was started until the next start.
  TDXSoundOptions now = Value;
  if (FNowOptions.Contains(soExclusive))
    now.Include(soExclusive);
  else
    now.Exclude(soExclusive);
  FNowOptions = now;
  FDSound->GlobalFocus = FNowOptions.Contains(soGlobalFocus);
  FDSound->StickyFocus = FNowOptions.Contains(soStickyFocus);
}

void TCustomDXSound::SetForm(TCustomForm* Value) {
  FForm = Value;
  delete FSubClass;
  FSubClass = nullptr;
  FSubClass =
      new TControlSubClass(FForm, [this](TMessage& Message, const TWndMethod& DefWindowProc) {
        FormWndProc(Message, DefWindowProc);
      });
  if (FInitialized) {
    const DWORD level = FNowOptions.Contains(soExclusive) ? DSSCL_EXCLUSIVE : DSSCL_NORMAL;
    FDSound->SetResultCode(FDSound->IDSound()->SetCooperativeLevel(FForm->Handle(), level));
  }
}

// The default procedure runs first; a re-created window is hooked and bound anew. SetForm frees
// the hook that is calling us, so nothing of it is used after that.
void TCustomDXSound::FormWndProc(TMessage& Message,
                                 const std::function<void(TMessage&)>& DefWindowProc) {
  DefWindowProc(Message);
  if (Message.Msg == WM_CREATE) SetForm(FForm);
}

void TDXSound::DefineProperties(TPropertyDefs& Defs) {
  TCustomDXSound::DefineProperties(Defs);
  Defs.Bool("AutoInitialize", AutoInitialize);
  Defs.Set(
      "Options", {"soGlobalFocus", "soStickyFocus", "soExclusive"}, [this] { return Options(); },
      [this](TDXSoundOptions v) { SetOptions(v); });
  Defs.Event("OnFinalize", OnFinalize);
  Defs.Event("OnInitialize", OnInitialize);
  Defs.Event("OnInitializing", OnInitializing);
  Defs.Event("OnRestore", OnRestore);
}

// ---------------------------------------------------------------------------------------------
// TWaveCollectionItem

TWaveCollectionItem::TWaveCollectionItem(TCollection* Collection)
    : THashCollectionItem(Collection), FWave(std::make_unique<TWave>()) {}

TWaveCollectionItem::~TWaveCollectionItem() {
  Finalize();
  for (TDirectSoundBuffer* b : FRetired) delete b;
  FRetired.clear();
}

TWaveCollection* TWaveCollectionItem::WaveCollection() const {
  return dynamic_cast<TWaveCollection*>(Collection());
}

void TWaveCollectionItem::DefineProperties(TPropertyDefs& Defs) {
  THashCollectionItem::DefineProperties(Defs);
  Defs.Bool(
      "Looped", [this] { return FLooped; }, [this](bool v) { SetLooped(v); });
  Defs.Int(
      "MaxPlayingCount", [this] { return FMaxPlayingCount; },
      [this](std::int32_t v) { SetMaxPlayingCount(v); });
  Defs.Persistent("Wave", FWave.get());
}

void TWaveCollectionItem::Assign(TPersistent* Source) {
  auto* src = dynamic_cast<TWaveCollectionItem*>(Source);
  if (src == nullptr) {
    THashCollectionItem::Assign(Source);
    return;
  }
  if (src == this) return;
  const bool wasInitialized = FInitialized;
  Finalize();
  FLooped = src->FLooped;
  SetName(src->Name());
  FMaxPlayingCount = src->FMaxPlayingCount;
  Frequency = src->Frequency;
  Pan = src->Pan;
  Volume = src->Volume;
  FWave->Assign(src->FWave.get());
  if (wasInitialized) Restore();
}

void TWaveCollectionItem::FreeBuffer(TDirectSoundBuffer* Buffer) {
  if (Buffer == nullptr) return;
  if (FPlayDepth > 0) {
    Buffer->Retire();
    FRetired.push_back(Buffer);
  } else {
    delete Buffer;
  }
}

void TWaveCollectionItem::FreePool() {
  std::vector<TDirectSoundBuffer*> pool;
  pool.swap(FBufferList);
  for (TDirectSoundBuffer* b : pool) FreeBuffer(b);
}

void TWaveCollectionItem::Initialize() {
  Finalize();
  TWaveCollection* c = WaveCollection();
  FInitialized = c != nullptr && c->Initialized();
}

void TWaveCollectionItem::Finalize() {
  if (!FInitialized) return;
  FInitialized = false;
  FreePool();
  TDirectSoundBuffer* master = FBuffer;
  FBuffer = nullptr;
  FreeBuffer(master);
}

void TWaveCollectionItem::Restore() {
  if (FWave->Size() <= 0) return;
  if (!FInitialized) {
    TWaveCollection* c = WaveCollection();
    if (c != nullptr && c->Initialized()) Initialize();
    if (!FInitialized) return;
  }
  if (FBuffer == nullptr) FBuffer = new TDirectSoundBuffer(WaveCollection()->DXSound()->DSound());
  FBuffer->LoadFromWave(FWave.get());
  FBuffer->SetFrequency(DWORD(Frequency));
  FBuffer->SetPan(Pan);
  FBuffer->SetVolume(Volume);
  // The pool's duplicates belong to the buffer that was just replaced: none of them is kept.
  FreePool();
}

TDirectSoundBuffer* TWaveCollectionItem::GetBuffer() {
  if (FInitialized && FBuffer == nullptr) Restore();
  return FBuffer;
}

TDirectSoundBuffer* TWaveCollectionItem::CreateDuplicate() {
  TDirectSoundBuffer* master = GetBuffer();
  if (master == nullptr) return nullptr;
  auto* dup = new TDirectSoundBuffer(WaveCollection()->DXSound()->DSound());
  try {
    dup->Assign(master);
  } catch (...) {
    delete dup;
    throw;
  }
  return dup;
}

namespace {
// Buffers the item lets go while one of its plays runs are kept until the outermost play ends.
struct PlayScope {
  explicit PlayScope(int& Depth, std::vector<TDirectSoundBuffer*>& Retired)
      : depth(Depth), retired(Retired) {
    ++depth;
  }
  ~PlayScope() {
    if (--depth > 0) return;
    std::vector<TDirectSoundBuffer*> done;
    done.swap(retired);
    for (TDirectSoundBuffer* b : done) delete b;
  }
  int& depth;
  std::vector<TDirectSoundBuffer*>& retired;
};
}  // namespace

void TWaveCollectionItem::Play(bool Wait) {
  if (!FInitialized) return;
  PlayScope scope(FPlayDepth, FRetired);

  if (FLooped) {
    TDirectSoundBuffer* master = GetBuffer();
    if (master == nullptr) throw EDirectSoundBufferError(::Format(SNotMade, {kIDirectSoundBuffer}));
    master->Stop();
    master->SetPosition(0);
    master->Play(true);
    return;
  }

  TDirectSoundBuffer* chosen = nullptr;
  for (TDirectSoundBuffer* b : FBufferList) {
    if (!b->Playing()) {
      chosen = b;
      break;
    }
  }
  if (chosen == nullptr) {
    if (FMaxPlayingCount == 0 || std::int32_t(FBufferList.size()) < FMaxPlayingCount) {
      chosen = CreateDuplicate();
      if (chosen == nullptr) return;
      FBufferList.push_back(chosen);
    } else {
      chosen = FBufferList.front();
      FBufferList.erase(FBufferList.begin());
      FBufferList.push_back(chosen);
    }
  }

  // A lost buffer restores every sound inside one of these calls; a buffer let go by that
  // restore is not used again.
  auto retired = [chosen] { return chosen->DSound() == nullptr; };
  chosen->Stop();
  if (retired()) return;
  chosen->SetPosition(0);
  if (retired()) return;
  chosen->SetFrequency(DWORD(Frequency));
  if (retired()) return;
  chosen->SetPan(Pan);
  if (retired()) return;
  chosen->SetVolume(Volume);
  if (retired()) return;
  chosen->Play(false);
  if (Wait) {
    while (!retired() && chosen->Playing()) ::Sleep(10);
  }
}

void TWaveCollectionItem::Stop() {
  if (!FInitialized) return;
  if (FBuffer == nullptr) throw EDirectSoundBufferError(::Format(SNotMade, {kIDirectSoundBuffer}));
  FBuffer->Stop();
  for (TDirectSoundBuffer* b : FBufferList) b->Stop();
}

void TWaveCollectionItem::SetLooped(bool Value) {
  if (Value == FLooped) return;
  Stop();
  FLooped = Value;
}

void TWaveCollectionItem::SetMaxPlayingCount(std::int32_t Value) {
  if (Value < 0) Value = 0;
  if (Value == FMaxPlayingCount) return;
  FMaxPlayingCount = Value;
  if (FInitialized) FreePool();
}

void TWaveCollectionItem::SetWave(TWave* Value) { FWave->Assign(Value); }

// ---------------------------------------------------------------------------------------------
// TWaveCollection

TWaveCollection::TWaveCollection(TCustomDXWaveList* AOwner)
    : THashCollection(AOwner, CollectionItemClass<TWaveCollectionItem>()), FOwner(AOwner) {}

// The items reach back into the collection while they let their buffers go.
TWaveCollection::~TWaveCollection() { Clear(); }

TWaveCollectionItem* TWaveCollection::GetItem(int Index) const {
  return static_cast<TWaveCollectionItem*>(Items(Index));
}

TWaveCollectionItem* TWaveCollection::Find(const std::string& Name) const {
  const int i = IndexOfName(Name);
  if (i < 0) throw EWaveCollectionError(::Format(SWaveNotFound, {Name}));
  return GetItem(i);
}

void TWaveCollection::Initialize(TCustomDXSound* DXSound) {
  Finalize();
  FDXSound = DXSound;
  for (int i = 0; i < Count(); ++i) GetItem(i)->Initialize();
}

void TWaveCollection::Finalize() {
  for (int i = 0; i < Count(); ++i) GetItem(i)->Finalize();
  FDXSound = nullptr;
}

bool TWaveCollection::Initialized() const { return FDXSound != nullptr && FDXSound->Initialized(); }

void TWaveCollection::Restore() {
  for (int i = 0; i < Count(); ++i) GetItem(i)->Restore();
}

// ---------------------------------------------------------------------------------------------
// TCustomDXWaveList

TCustomDXWaveList::TCustomDXWaveList(TComponent* AOwner)
    : TComponent(AOwner), FItems(new TWaveCollection(this)) {}

TCustomDXWaveList::~TCustomDXWaveList() {
  try {
    SetDXSound(nullptr);
  } catch (...) {
  }
  delete FItems;
  FItems = nullptr;
}

void TCustomDXWaveList::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent != nullptr && AComponent == FDXSound) SetDXSound(nullptr);
}

void TCustomDXWaveList::SetDXSound(TCustomDXSound* Value) {
  const TDXSoundNotifyEvent handler(this, &TCustomDXWaveList::DXSoundNotify);
  if (FDXSound != nullptr) FDXSound->RemoveNotifyHandler(handler);
  FDXSound = Value;
  if (Value != nullptr) {
    Value->FreeNotification(this);
    Value->AddNotifyHandler(handler);
  }
}

void TCustomDXWaveList::SetItems(TWaveCollection* Value) { FItems->Assign(Value); }

void TCustomDXWaveList::DXSoundNotify(TCustomDXSound* Sender, TDXSoundNotifyKind NotifyKind) {
  switch (NotifyKind) {
    case snDestroying:
      SetDXSound(nullptr);
      break;
    case snInitializing:
      break;
    case snInitialize:
      FItems->Initialize(Sender);
      break;
    case snFinalize:
      FItems->Finalize();
      break;
    case snRestore:
      FItems->Restore();
      break;
  }
}

void TDXWaveList::DefineProperties(TPropertyDefs& Defs) {
  TCustomDXWaveList::DefineProperties(Defs);
  Defs.Component<TCustomDXSound>(
      "DXSound", [this] { return DXSound(); }, [this](TCustomDXSound* v) { SetDXSound(v); });
  Defs.Collection("Items", Items());
}

namespace {
const bool registered =
    (RegisterClass<TDXSound>("TDXSound"), RegisterClass<TDXWaveList>("TDXWaveList"), true);
}  // namespace
