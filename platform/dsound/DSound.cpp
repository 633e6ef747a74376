#include "platform/dsound/DSound.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/dsound/SoundMixer.h"

const IID IID_IDirectSound{
    0x279AFA83, 0x4981, 0x11CE, {0xA5, 0x21, 0x00, 0x20, 0xAF, 0x0B, 0xE5, 0x60}};
const IID IID_IDirectSoundBuffer{
    0x279AFA85, 0x4981, 0x11CE, {0xA5, 0x21, 0x00, 0x20, 0xAF, 0x0B, 0xE5, 0x60}};

namespace {

using dsound::FocusState;
using dsound::MixerLock;
using dsound::MixerVoice;
using dsound::SampleStore;
using dsound::SoundMixer;

HRESULT g_createFailure = DS_OK;

class SoundBuffer;
std::vector<SoundBuffer*>& LiveBuffers() {
  static std::vector<SoundBuffer*> live;
  return live;
}

// Hundredths of a decibel to a linear factor; the minimum is silence.
float Attenuation(LONG hundredths) {
  if (hundredths <= DSBVOLUME_MIN) return 0.0f;
  if (hundredths >= 0) return 1.0f;
  return float(std::pow(10.0, double(hundredths) / 2000.0));
}

// Calls from the window's thread keep a deviceless mixer moving and the focus current.
void Touch() {
  SoundMixer& m = SoundMixer::Instance();
  m.EnsureDevice();
  m.Pump();
  m.RefreshFocus();
}

// Only plain PCM that the mixer can read. The block holds at least the 16 PCM bytes; cbSize is
// never read, so a 16-byte block is as good as an 18-byte one.
bool ValidPCM(const WAVEFORMATEX& f) {
  if (f.wFormatTag != WAVE_FORMAT_PCM) return false;
  if (f.nChannels != 1 && f.nChannels != 2) return false;
  if (f.wBitsPerSample != 8 && f.wBitsPerSample != 16) return false;
  if (f.nBlockAlign != f.nChannels * f.wBitsPerSample / 8) return false;
  return f.nSamplesPerSec >= DSBFREQUENCY_MIN && f.nSamplesPerSec <= DSBFREQUENCY_MAX;
}

class SoundBuffer final : public TRefCounted<IDirectSoundBuffer> {
 public:
  // Primary buffer: stands for the output itself.
  explicit SoundBuffer(DWORD flags) : primary_(true), flags_(flags) {}

  // Secondary buffer over `store` (new or shared with the buffer it duplicates).
  SoundBuffer(DWORD flags, std::shared_ptr<SampleStore> store, std::shared_ptr<FocusState> focus)
      : primary_(false), flags_(flags) {
    voice_.store = std::move(store);
    voice_.focus = std::move(focus);
    voice_.plainFocus = (flags & (DSBCAPS_GLOBALFOCUS | DSBCAPS_STICKYFOCUS)) == 0;
    SoundMixer::Instance().AddVoice(&voice_);
    LiveBuffers().push_back(this);
  }

  ~SoundBuffer() override {
    if (primary_) return;
    SoundMixer::Instance().RemoveVoice(&voice_);
    auto& live = LiveBuffers();
    live.erase(std::remove(live.begin(), live.end(), this), live.end());
  }

  HRESULT QueryInterface(const IID& riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!(riid == IID_IDirectSoundBuffer)) return E_NOINTERFACE;
    AddRef();
    *object = static_cast<IDirectSoundBuffer*>(this);
    return S_OK;
  }

  HRESULT GetCaps(DSBCAPS* caps) override {
    if (caps == nullptr || caps->dwSize != sizeof(DSBCAPS)) return DSERR_INVALIDPARAM;
    caps->dwFlags = flags_ | DSBCAPS_LOCSOFTWARE;
    caps->dwBufferBytes = primary_ ? 0 : DWORD(voice_.store->bytes.size());
    caps->dwUnlockTransferRate = 0;
    caps->dwPlayCpuOverhead = 0;
    return DS_OK;
  }

  HRESULT GetCurrentPosition(DWORD* play, DWORD* write) override {
    Touch();
    DWORD p = 0;
    if (!primary_) {
      MixerLock lock;
      p = DWORD(voice_.position >> 32) * DWORD(voice_.store->blockAlign);
    }
    if (play) *play = p;
    if (write) *write = p;
    return DS_OK;
  }

  HRESULT GetFormat(WAVEFORMATEX* format, DWORD sizeAllocated, DWORD* sizeWritten) override {
    if (format == nullptr) {
      if (sizeWritten == nullptr) return DSERR_INVALIDPARAM;
      *sizeWritten = sizeof(WAVEFORMATEX);
      return DS_OK;
    }
    if (sizeAllocated < sizeof(WAVEFORMATEX)) return DSERR_INVALIDPARAM;
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    if (primary_) {
      f.nChannels = dsound::kMixChannels;
      f.nSamplesPerSec = dsound::kMixRate;
      f.wBitsPerSample = 16;
    } else {
      const SampleStore& s = *voice_.store;
      f.nChannels = WORD(s.channels);
      f.nSamplesPerSec = DWORD(s.rate);
      f.wBitsPerSample = WORD(s.bits);
    }
    f.nBlockAlign = WORD(f.nChannels * f.wBitsPerSample / 8);
    f.nAvgBytesPerSec = f.nSamplesPerSec * f.nBlockAlign;
    f.cbSize = 0;
    std::memcpy(format, &f, sizeof f);
    if (sizeWritten) *sizeWritten = sizeof(WAVEFORMATEX);
    return DS_OK;
  }

  HRESULT GetVolume(LONG* volume) override {
    if (volume == nullptr) return DSERR_INVALIDPARAM;
    if (!(flags_ & DSBCAPS_CTRLVOLUME)) return DSERR_CONTROLUNAVAIL;
    *volume = volume_;
    return DS_OK;
  }

  HRESULT GetPan(LONG* pan) override {
    if (pan == nullptr) return DSERR_INVALIDPARAM;
    if (!(flags_ & DSBCAPS_CTRLPAN)) return DSERR_CONTROLUNAVAIL;
    *pan = pan_;
    return DS_OK;
  }

  HRESULT GetFrequency(DWORD* frequency) override {
    if (frequency == nullptr) return DSERR_INVALIDPARAM;
    if (primary_ || !(flags_ & DSBCAPS_CTRLFREQUENCY)) return DSERR_CONTROLUNAVAIL;
    MixerLock lock;
    *frequency = voice_.frequency ? voice_.frequency : DWORD(voice_.store->rate);
    return DS_OK;
  }

  HRESULT GetStatus(DWORD* status) override {
    if (status == nullptr) return DSERR_INVALIDPARAM;
    Touch();
    if (primary_) {
      *status = primaryPlaying_ ? (DSBSTATUS_PLAYING | DSBSTATUS_LOOPING) : 0;
      return DS_OK;
    }
    MixerLock lock;
    DWORD st = 0;
    if (voice_.store->lost) {
      st = DSBSTATUS_BUFFERLOST;
    } else if (voice_.playing) {
      st = DSBSTATUS_PLAYING | (voice_.looping ? DSBSTATUS_LOOPING : 0);
    }
    *status = st;
    return DS_OK;
  }

  HRESULT Lock(DWORD offset, DWORD bytes, void** ptr1, DWORD* bytes1, void** ptr2, DWORD* bytes2,
               DWORD flags) override {
    if (ptr1 == nullptr || bytes1 == nullptr) return DSERR_INVALIDPARAM;
    *ptr1 = nullptr;
    *bytes1 = 0;
    if (ptr2) *ptr2 = nullptr;
    if (bytes2) *bytes2 = 0;
    if (primary_) return DSERR_PRIOLEVELNEEDED;
    if (voice_.store->lost) return DSERR_BUFFERLOST;
    if (locked_) return DSERR_INVALIDCALL;
    const DWORD size = DWORD(voice_.store->bytes.size());
    if (flags & DSBLOCK_ENTIREBUFFER) bytes = size;
    if (flags & DSBLOCK_FROMWRITECURSOR) {
      MixerLock lock;
      offset = DWORD(voice_.position >> 32) * DWORD(voice_.store->blockAlign);
    }
    if (bytes == 0 || bytes > size || offset >= size) return DSERR_INVALIDPARAM;
    const DWORD first = std::min(bytes, size - offset);
    const DWORD second = bytes - first;
    if (second > 0 && (ptr2 == nullptr || bytes2 == nullptr)) return DSERR_INVALIDPARAM;
    // The caller writes into a copy; Unlock puts it back under the mixer's lock, so the device
    // thread never reads bytes while they are being written.
    {
      MixerLock lock;
      const auto& src = voice_.store->bytes;
      staging_.assign(src.begin() + offset, src.begin() + offset + first);
      staging_.insert(staging_.end(), src.begin(), src.begin() + second);
    }
    locked_ = true;
    lockOffset_ = offset;
    lock1_ = first;
    lock2_ = second;
    *ptr1 = staging_.data();
    *bytes1 = first;
    if (second > 0) {
      *ptr2 = staging_.data() + first;
      *bytes2 = second;
    }
    return DS_OK;
  }

  HRESULT Unlock(void* ptr1, DWORD bytes1, void* ptr2, DWORD bytes2) override {
    if (primary_ || !locked_) return DSERR_INVALIDCALL;
    if (ptr1 != staging_.data()) return DSERR_INVALIDPARAM;
    {
      MixerLock lock;
      auto& dst = voice_.store->bytes;
      const DWORD n1 = std::min(bytes1, lock1_);
      std::memcpy(dst.data() + lockOffset_, staging_.data(), n1);
      if (ptr2 != nullptr && lock2_ > 0) {
        const DWORD n2 = std::min(bytes2, lock2_);
        std::memcpy(dst.data(), staging_.data() + lock1_, n2);
      }
    }
    locked_ = false;
    staging_.clear();
    staging_.shrink_to_fit();
    return DS_OK;
  }

  HRESULT Play(DWORD reserved1, DWORD priority, DWORD flags) override {
    Touch();
    if (primary_) {
      primaryPlaying_ = true;
      return DS_OK;
    }
    if (voice_.store->lost) return DSERR_BUFFERLOST;
    MixerLock lock;
    voice_.looping = (flags & DSBPLAY_LOOPING) != 0;
    voice_.playing = voice_.store->frames > 0;
    return DS_OK;
  }

  HRESULT SetCurrentPosition(DWORD newPosition) override {
    if (primary_) return DSERR_INVALIDCALL;
    const SampleStore& s = *voice_.store;
    if (newPosition >= s.bytes.size()) return DSERR_INVALIDPARAM;
    MixerLock lock;
    voice_.position = std::uint64_t(newPosition / DWORD(s.blockAlign)) << 32;
    return DS_OK;
  }

  HRESULT SetVolume(LONG volume) override {
    if (!(flags_ & DSBCAPS_CTRLVOLUME)) return DSERR_CONTROLUNAVAIL;
    if (volume < DSBVOLUME_MIN || volume > DSBVOLUME_MAX) return DSERR_INVALIDPARAM;
    volume_ = volume;
    UpdateGains();
    return DS_OK;
  }

  HRESULT SetPan(LONG pan) override {
    if (!(flags_ & DSBCAPS_CTRLPAN)) return DSERR_CONTROLUNAVAIL;
    if (pan < DSBPAN_LEFT || pan > DSBPAN_RIGHT) return DSERR_INVALIDPARAM;
    pan_ = pan;
    UpdateGains();
    return DS_OK;
  }

  HRESULT SetFrequency(DWORD frequency) override {
    if (primary_ || !(flags_ & DSBCAPS_CTRLFREQUENCY)) return DSERR_CONTROLUNAVAIL;
    if (frequency != DSBFREQUENCY_ORIGINAL &&
        (frequency < DSBFREQUENCY_MIN || frequency > DSBFREQUENCY_MAX))
      return DSERR_INVALIDPARAM;
    MixerLock lock;
    voice_.frequency = frequency;
    return DS_OK;
  }

  HRESULT Stop() override {
    if (primary_) {
      primaryPlaying_ = false;
      return DS_OK;
    }
    MixerLock lock;
    voice_.playing = false;
    return DS_OK;
  }

  // Duplicates share the samples and start from the original's settings, stopped at 0.
  SoundBuffer* Duplicate() {
    auto* dup = new SoundBuffer(flags_, voice_.store, voice_.focus);
    dup->volume_ = volume_;
    dup->pan_ = pan_;
    dup->UpdateGains();
    MixerLock lock;
    dup->voice_.frequency = voice_.frequency;
    return dup;
  }

  void Lose() {
    if (primary_) return;
    MixerLock lock;
    voice_.store->lost = true;
    for (SoundBuffer* b : LiveBuffers())
      if (b->voice_.store == voice_.store) b->voice_.playing = false;
  }

  bool primary() const { return primary_; }

 private:
  void UpdateGains() {
    if (primary_) return;
    const float g = Attenuation(volume_);
    const float left = pan_ > 0 ? Attenuation(-pan_) : 1.0f;
    const float right = pan_ < 0 ? Attenuation(pan_) : 1.0f;
    MixerLock lock;
    voice_.gainLeft = g * left;
    voice_.gainRight = g * right;
  }

  const bool primary_;
  const DWORD flags_;
  MixerVoice voice_;
  LONG volume_ = 0;
  LONG pan_ = 0;
  bool primaryPlaying_ = false;
  bool locked_ = false;
  DWORD lockOffset_ = 0, lock1_ = 0, lock2_ = 0;
  std::vector<std::uint8_t> staging_;
};

class DirectSoundObject final : public TRefCounted<IDirectSound> {
 public:
  DirectSoundObject() : focus_(std::make_shared<FocusState>()) {
    SoundMixer::Instance().AddFocus(focus_);
  }

  HRESULT QueryInterface(const IID& riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!(riid == IID_IDirectSound)) return E_NOINTERFACE;
    AddRef();
    *object = static_cast<IDirectSound*>(this);
    return S_OK;
  }

  HRESULT CreateSoundBuffer(const DSBUFFERDESC* desc, IDirectSoundBuffer** buffer,
                            IUnknown* outer) override {
    if (buffer == nullptr) return DSERR_INVALIDPARAM;
    *buffer = nullptr;
    if (outer != nullptr) return DSERR_NOAGGREGATION;
    if (desc == nullptr) return DSERR_INVALIDPARAM;
    if (desc->dwSize != DSBUFFERDESC_SIZE && desc->dwSize != sizeof(DSBUFFERDESC))
      return DSERR_INVALIDPARAM;
    Touch();
    if (desc->dwFlags & DSBCAPS_PRIMARYBUFFER) {
      if (desc->dwBufferBytes != 0 || desc->lpwfxFormat != nullptr) return DSERR_INVALIDPARAM;
      *buffer = new SoundBuffer(desc->dwFlags);
      return DS_OK;
    }
    if (desc->lpwfxFormat == nullptr) return DSERR_INVALIDPARAM;
    WAVEFORMATEX f;
    std::memcpy(&f, desc->lpwfxFormat, kPCMFormatSize);  // cbSize is not read for PCM
    if (!ValidPCM(f)) return DSERR_BADFORMAT;
    if (desc->dwBufferBytes < DSBSIZE_MIN || desc->dwBufferBytes > DSBSIZE_MAX)
      return DSERR_INVALIDPARAM;
    auto store = std::make_shared<SampleStore>();
    try {
      store->bytes.assign(desc->dwBufferBytes, f.wBitsPerSample == 8 ? 0x80 : 0);
    } catch (const std::bad_alloc&) {
      return DSERR_OUTOFMEMORY;
    }
    store->channels = f.nChannels;
    store->bits = f.wBitsPerSample;
    store->rate = int(f.nSamplesPerSec);
    store->blockAlign = f.nBlockAlign;
    store->frames = desc->dwBufferBytes / f.nBlockAlign;
    *buffer = new SoundBuffer(desc->dwFlags, std::move(store), focus_);
    return DS_OK;
  }

  HRESULT DuplicateSoundBuffer(IDirectSoundBuffer* original,
                               IDirectSoundBuffer** duplicate) override {
    if (duplicate == nullptr) return DSERR_INVALIDPARAM;
    *duplicate = nullptr;
    auto* src = dynamic_cast<SoundBuffer*>(original);
    if (src == nullptr) return DSERR_INVALIDPARAM;
    if (src->primary()) return DSERR_INVALIDCALL;
    Touch();
    *duplicate = src->Duplicate();
    return DS_OK;
  }

  HRESULT SetCooperativeLevel(HWND window, DWORD level) override {
    if (level < DSSCL_NORMAL || level > DSSCL_WRITEPRIMARY) return DSERR_INVALIDPARAM;
    if (window == 0) return DSERR_INVALIDPARAM;
    focus_->window = window;
    SoundMixer::Instance().RefreshFocus();
    return DS_OK;
  }

 private:
  std::shared_ptr<FocusState> focus_;
};

}  // namespace

HRESULT DirectSoundCreate(const GUID* device, IDirectSound** directSound, IUnknown* outer) {
  if (directSound == nullptr) return DSERR_INVALIDPARAM;
  *directSound = nullptr;
  if (outer != nullptr) return DSERR_NOAGGREGATION;
  if (g_createFailure != DS_OK) return g_createFailure;
  if (device != nullptr && !(*device == GUID_NULL)) return DSERR_NODRIVER;
  SoundMixer::Instance().EnsureDevice();
  *directSound = new DirectSoundObject();
  return DS_OK;
}

namespace dsound {

void SetCreateFailure(HRESULT result) { g_createFailure = result; }

void LoseAllBuffers() {
  for (SoundBuffer* b : std::vector<SoundBuffer*>(LiveBuffers())) b->Lose();
}

void LoseBuffer(IDirectSoundBuffer* buffer) {
  if (auto* b = dynamic_cast<SoundBuffer*>(buffer)) b->Lose();
}

int LiveBufferCount() { return int(LiveBuffers().size()); }

}  // namespace dsound
