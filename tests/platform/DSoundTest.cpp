// The software DirectSound and its mixer, heard through the headless backend: the virtual clock
// renders the mix into memory, and the samples are checked one by one.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "platform/backend/HeadlessBackend.h"
#include "platform/dsound/DSound.h"
#include "platform/dsound/SoundMixer.h"

namespace {

using backend::HeadlessBackend;

WAVEFORMATEX Pcm(int channels, int bits, int rate) {
  WAVEFORMATEX f{};
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = WORD(channels);
  f.wBitsPerSample = WORD(bits);
  f.nSamplesPerSec = DWORD(rate);
  f.nBlockAlign = WORD(channels * bits / 8);
  f.nAvgBytesPerSec = f.nSamplesPerSec * f.nBlockAlign;
  return f;
}

class DSoundTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hb = &HeadlessBackend::InstallFresh();
    ASSERT_EQ(DirectSoundCreate(nullptr, &ds, nullptr), DS_OK);
    hb->ClearAudio();
  }
  void TearDown() override {
    for (auto* b : made) b->Release();
    if (ds) ds->Release();
    dsound::SetCreateFailure(DS_OK);
    EXPECT_EQ(dsound::LiveBufferCount(), 0);
  }

  HRESULT TryMake(const WAVEFORMATEX& f, DWORD bytes, IDirectSoundBuffer** out,
                  DWORD flags = DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLPAN | DSBCAPS_CTRLVOLUME) {
    WAVEFORMATEX copy = f;
    DSBUFFERDESC d{};
    d.dwSize = DSBUFFERDESC_SIZE;
    d.dwFlags = flags;
    d.dwBufferBytes = bytes;
    d.lpwfxFormat = &copy;
    return ds->CreateSoundBuffer(&d, out, nullptr);
  }

  IDirectSoundBuffer* Make(const WAVEFORMATEX& f, const void* bytes, DWORD size,
                           DWORD flags = DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLPAN |
                                         DSBCAPS_CTRLVOLUME) {
    IDirectSoundBuffer* b = nullptr;
    EXPECT_EQ(TryMake(f, size, &b, flags), DS_OK);
    if (!b) return nullptr;
    void *p1, *p2;
    DWORD s1, s2;
    EXPECT_EQ(b->Lock(0, size, &p1, &s1, &p2, &s2, 0), DS_OK);
    std::memcpy(p1, bytes, s1);
    EXPECT_EQ(b->Unlock(p1, s1, p2, s2), DS_OK);
    made.push_back(b);
    return b;
  }

  IDirectSoundBuffer* Mono16(const std::vector<std::int16_t>& s, int rate = 44100,
                             DWORD flags = DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLPAN |
                                           DSBCAPS_CTRLVOLUME) {
    return Make(Pcm(1, 16, rate), s.data(), DWORD(s.size() * 2), flags);
  }

  // Advances the clock and returns the frames rendered meanwhile (interleaved L, R).
  std::vector<std::int16_t> Listen(std::uint32_t ms) {
    hb->Advance(ms);
    return hb->TakeAudio();
  }

  DWORD Status(IDirectSoundBuffer* b) {
    DWORD st = 0xFFFF;
    EXPECT_EQ(b->GetStatus(&st), DS_OK);
    return st;
  }

  HeadlessBackend* hb = nullptr;
  IDirectSound* ds = nullptr;
  std::vector<IDirectSoundBuffer*> made;
};

std::vector<std::int16_t> Ramp(int n, int start = 1, int step = 1) {
  std::vector<std::int16_t> v(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) v[std::size_t(i)] = std::int16_t(start + i * step);
  return v;
}

TEST_F(DSoundTest, RefusesFormatsTheMixerCannotPlay) {
  IDirectSoundBuffer* b = nullptr;
  WAVEFORMATEX f = Pcm(1, 16, 44100);
  f.wFormatTag = 2;
  EXPECT_EQ(TryMake(f, 100, &b), DSERR_BADFORMAT);
  EXPECT_EQ(TryMake(Pcm(3, 16, 44100), 100, &b), DSERR_BADFORMAT);
  EXPECT_EQ(TryMake(Pcm(1, 12, 44100), 100, &b), DSERR_BADFORMAT);
  EXPECT_EQ(TryMake(Pcm(1, 24, 44100), 100, &b), DSERR_BADFORMAT);
  f = Pcm(2, 16, 44100);
  f.nBlockAlign = 2;
  EXPECT_EQ(TryMake(f, 100, &b), DSERR_BADFORMAT);
  EXPECT_EQ(TryMake(Pcm(1, 16, 0), 100, &b), DSERR_BADFORMAT);
  EXPECT_EQ(TryMake(Pcm(1, 16, 99), 100, &b), DSERR_BADFORMAT);
  EXPECT_EQ(TryMake(Pcm(1, 16, 200001), 100, &b), DSERR_BADFORMAT);
  EXPECT_EQ(TryMake(Pcm(1, 16, 44100), 0, &b), DSERR_INVALIDPARAM);
  EXPECT_EQ(b, nullptr);

  DSBUFFERDESC d{};
  d.dwSize = DSBUFFERDESC_SIZE;
  d.dwBufferBytes = 100;
  EXPECT_EQ(ds->CreateSoundBuffer(&d, &b, nullptr), DSERR_INVALIDPARAM);  // no format
  d.dwSize = 12;
  EXPECT_EQ(ds->CreateSoundBuffer(&d, &b, nullptr), DSERR_INVALIDPARAM);

  for (auto f2 : {Pcm(1, 8, 100), Pcm(2, 8, 11025), Pcm(1, 16, 22050), Pcm(2, 16, 200000)}) {
    ASSERT_EQ(TryMake(f2, 7, &b), DS_OK);
    b->Release();
  }
}

TEST_F(DSoundTest, GetFormatAnswersTheSizeQueryForPrimaryAndSecondary) {
  DSBUFFERDESC d{};
  d.dwSize = DSBUFFERDESC_SIZE;
  d.dwFlags = DSBCAPS_PRIMARYBUFFER;
  IDirectSoundBuffer* primary = nullptr;
  ASSERT_EQ(ds->CreateSoundBuffer(&d, &primary, nullptr), DS_OK);
  DWORD size = 0;
  EXPECT_EQ(primary->GetFormat(nullptr, 0, &size), DS_OK);
  EXPECT_EQ(size, sizeof(WAVEFORMATEX));
  WAVEFORMATEX f{};
  EXPECT_EQ(primary->GetFormat(&f, size, nullptr), DS_OK);
  EXPECT_EQ(f.nSamplesPerSec, 44100u);
  EXPECT_EQ(f.nChannels, 2);
  DSBCAPS caps{};
  caps.dwSize = sizeof caps;
  EXPECT_EQ(primary->GetCaps(&caps), DS_OK);
  EXPECT_TRUE(caps.dwFlags & DSBCAPS_PRIMARYBUFFER);
  primary->Release();

  // A 16-byte format block (no cbSize) is read as PCM and reported back whole.
  IDirectSoundBuffer* b = nullptr;
  WAVEFORMATEX in = Pcm(1, 8, 22050);
  in.cbSize = 0xBEEF;
  ASSERT_EQ(TryMake(in, 10, &b), DS_OK);
  size = 0;
  EXPECT_EQ(b->GetFormat(nullptr, 0, &size), DS_OK);
  EXPECT_EQ(size, 18u);
  EXPECT_EQ(b->GetFormat(&f, 4, nullptr), DSERR_INVALIDPARAM);
  EXPECT_EQ(b->GetFormat(&f, 18, nullptr), DS_OK);
  EXPECT_EQ(f.nSamplesPerSec, 22050u);
  EXPECT_EQ(f.wBitsPerSample, 8);
  EXPECT_EQ(f.cbSize, 0);
  caps.dwSize = sizeof caps;
  EXPECT_EQ(b->GetCaps(&caps), DS_OK);
  EXPECT_EQ(caps.dwBufferBytes, 10u);
  EXPECT_EQ(caps.dwFlags & 0xE0, 0xE0u);
  b->Release();
}

TEST_F(DSoundTest, OneShotPlaysSampleExactThenStopsAtOnce) {
  auto* b = Mono16(Ramp(441));  // exactly 10 ms
  EXPECT_EQ(Status(b), 0u);
  ASSERT_EQ(b->Play(0, 0, 0), DS_OK);
  EXPECT_EQ(Status(b), DSBSTATUS_PLAYING);
  auto out = Listen(10);
  ASSERT_EQ(out.size(), 882u);
  for (int i = 0; i < 441; ++i) {
    ASSERT_EQ(out[2 * i], i + 1) << i;
    ASSERT_EQ(out[2 * i + 1], i + 1) << i;
  }
  // Ended exactly at the block's end: not playing any more, position back at the start.
  EXPECT_EQ(Status(b), 0u);
  DWORD play = 99;
  EXPECT_EQ(b->GetCurrentPosition(&play, nullptr), DS_OK);
  EXPECT_EQ(play, 0u);
  out = Listen(5);
  for (auto s : out) ASSERT_EQ(s, 0);
}

TEST_F(DSoundTest, LoopingWrapsAndStopKeepsThePosition) {
  auto* b = Mono16(Ramp(100));
  ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  EXPECT_EQ(Status(b), DSBSTATUS_PLAYING | DSBSTATUS_LOOPING);
  auto out = Listen(10);  // 441 frames: four and a bit rounds
  for (int i = 0; i < 441; ++i) ASSERT_EQ(out[2 * i], i % 100 + 1) << i;
  EXPECT_EQ(b->Stop(), DS_OK);
  EXPECT_EQ(Status(b), 0u);
  DWORD play = 0;
  b->GetCurrentPosition(&play, nullptr);
  EXPECT_EQ(play, 41u * 2);
  // Play resumes where it stopped; SetCurrentPosition moves it (in bytes).
  b->Play(0, 0, 0);
  out = Listen(1);
  EXPECT_EQ(out[0], 42);
  b->Stop();
  EXPECT_EQ(b->SetCurrentPosition(20), DS_OK);
  EXPECT_EQ(b->SetCurrentPosition(200), DSERR_INVALIDPARAM);
  b->Play(0, 0, 0);
  out = Listen(1);
  EXPECT_EQ(out[0], 11);
}

TEST_F(DSoundTest, VolumeAndPanInHundredthsOfADecibel) {
  std::vector<std::int16_t> loud(441, 20000);
  auto* b = Mono16(loud);
  ASSERT_EQ(b->SetVolume(-600), DS_OK);
  b->Play(0, 0, 0);
  auto out = Listen(10);
  const double g = std::pow(10.0, -600 / 2000.0);
  EXPECT_NEAR(out[100], 20000 * g, 1.0);
  EXPECT_NEAR(out[101], 20000 * g, 1.0);

  ASSERT_EQ(b->SetVolume(0), DS_OK);
  ASSERT_EQ(b->SetPan(DSBPAN_RIGHT), DS_OK);
  b->Play(0, 0, 0);
  out = Listen(10);
  EXPECT_EQ(out[100], 0);
  EXPECT_EQ(out[101], 20000);

  ASSERT_EQ(b->SetPan(-1000), DS_OK);  // left: the right channel loses 10 dB
  b->Play(0, 0, 0);
  out = Listen(10);
  EXPECT_EQ(out[100], 20000);
  EXPECT_NEAR(out[101], 20000 * std::pow(10.0, -0.5), 1.0);

  ASSERT_EQ(b->SetVolume(DSBVOLUME_MIN), DS_OK);  // the minimum is silence
  b->Play(0, 0, 0);
  out = Listen(10);
  EXPECT_EQ(out[100], 0);
  EXPECT_EQ(out[101], 0);

  LONG v = 1;
  EXPECT_EQ(b->GetVolume(&v), DS_OK);
  EXPECT_EQ(v, DSBVOLUME_MIN);
  EXPECT_EQ(b->SetVolume(1), DSERR_INVALIDPARAM);
  EXPECT_EQ(b->SetPan(10001), DSERR_INVALIDPARAM);
  EXPECT_EQ(b->SetFrequency(50), DSERR_INVALIDPARAM);

  auto* plain = Mono16(loud, 44100, 0);  // made without controls
  EXPECT_EQ(plain->SetVolume(-100), DSERR_CONTROLUNAVAIL);
  EXPECT_EQ(plain->SetPan(100), DSERR_CONTROLUNAVAIL);
  EXPECT_EQ(plain->SetFrequency(22050), DSERR_CONTROLUNAVAIL);
}

TEST_F(DSoundTest, SumsVoicesAndClipsAtFullScale) {
  auto* a = Mono16(std::vector<std::int16_t>(441, 30000));
  auto* b = Mono16(std::vector<std::int16_t>(441, 10000));
  auto* c = Mono16(std::vector<std::int16_t>(441, -32768));
  a->Play(0, 0, 0);
  b->Play(0, 0, 0);
  auto out = Listen(10);
  EXPECT_EQ(out[0], 32767);
  EXPECT_EQ(out[881], 32767);
  c->Play(0, 0, 0);
  out = Listen(10);
  EXPECT_EQ(out[0], -32768);
  a->Play(0, 0, 0);
  c->Play(0, 0, 0);
  out = Listen(10);
  EXPECT_EQ(out[0], 30000 - 32768);
}

TEST_F(DSoundTest, ResamplesToTheOutputRate) {
  // 22050 Hz: every source frame spans two output frames, the second interpolated.
  auto* b = Mono16({0, 1000, 2000, 3000, -3000}, 22050);
  b->Play(0, 0, 0);
  auto out = Listen(1);
  const std::vector<std::int16_t> want = {0, 500, 1000, 1500, 2000, 2500, 3000, 0, -3000, -1500};
  for (std::size_t i = 0; i < want.size(); ++i) EXPECT_EQ(out[2 * i], want[i]) << i;
  EXPECT_EQ(out[20], 0);  // ended
  EXPECT_EQ(Status(b), 0u);

  // SetFrequency plays faster; 0 goes back to the buffer's own rate.
  ASSERT_EQ(b->SetFrequency(44100), DS_OK);
  b->Play(0, 0, 0);
  out = Listen(1);
  EXPECT_EQ(out[2], 1000);
  EXPECT_EQ(out[8], -3000);
  EXPECT_EQ(out[10], 0);
  DWORD hz = 0;
  ASSERT_EQ(b->SetFrequency(0), DS_OK);
  EXPECT_EQ(b->GetFrequency(&hz), DS_OK);
  EXPECT_EQ(hz, 22050u);

  // 88200 Hz stereo skips every other frame.
  std::vector<std::int16_t> st;
  for (int i = 0; i < 8; ++i) {
    st.push_back(std::int16_t(i * 10));
    st.push_back(std::int16_t(-i * 10));
  }
  auto* s = Make(Pcm(2, 16, 88200), st.data(), DWORD(st.size() * 2));
  s->Play(0, 0, 0);
  out = Listen(1);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(out[2 * i], i * 20);
    EXPECT_EQ(out[2 * i + 1], -i * 20);
  }
}

TEST_F(DSoundTest, EightBitSamplesAreUnsigned) {
  const std::uint8_t bytes[] = {0x80, 0xFF, 0x00, 0x90};
  auto* b = Make(Pcm(1, 8, 44100), bytes, 4);
  b->Play(0, 0, 0);
  auto out = Listen(1);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[2], 127 * 256);
  EXPECT_EQ(out[4], -32768);
  EXPECT_EQ(out[6], 16 * 256);
}

TEST_F(DSoundTest, DuplicatesShareSamplesAndOutliveTheOriginal) {
  auto* a = Mono16(Ramp(441, 100, 0));  // constant 100
  IDirectSoundBuffer* d = nullptr;
  ASSERT_EQ(ds->DuplicateSoundBuffer(a, &d), DS_OK);
  ASSERT_NE(d, nullptr);
  a->Play(0, 0, 0);
  Listen(5);
  d->Play(0, 0, 0);  // beside the original, half a sound later
  auto out = Listen(5);
  EXPECT_EQ(out[0], 200);
  out = Listen(3);
  EXPECT_EQ(out[0], 100);
  EXPECT_EQ(Status(a), 0u);
  EXPECT_EQ(Status(d), DSBSTATUS_PLAYING);

  // Writing through the original is heard through the duplicate; freeing the original keeps the
  // samples alive for the duplicate.
  void *p1, *p2;
  DWORD s1, s2;
  ASSERT_EQ(a->Lock(0, 4, &p1, &s1, &p2, &s2, 0), DS_OK);
  const std::int16_t two[] = {7, 8};
  std::memcpy(p1, two, 4);
  a->Unlock(p1, s1, p2, s2);
  made.erase(made.begin());
  a->Release();
  d->Stop();
  d->SetCurrentPosition(0);
  d->Play(0, 0, 0);
  out = Listen(1);
  EXPECT_EQ(out[0], 7);
  EXPECT_EQ(out[2], 8);
  EXPECT_EQ(out[4], 100);
  d->Release();
}

TEST_F(DSoundTest, LockGivesTwoRegionsAcrossTheEndAndOneLockAtATime) {
  auto* b = Mono16(Ramp(10));
  void *p1, *p2, *q1, *q2;
  DWORD s1, s2, t1, t2;
  ASSERT_EQ(b->Lock(16, 8, &p1, &s1, &p2, &s2, 0), DS_OK);
  EXPECT_EQ(s1, 4u);
  EXPECT_EQ(s2, 4u);
  std::int16_t got[4];
  std::memcpy(got, p1, 4);
  std::memcpy(got + 2, p2, 4);
  EXPECT_EQ(got[0], 9);
  EXPECT_EQ(got[1], 10);
  EXPECT_EQ(got[2], 1);
  EXPECT_EQ(b->Lock(0, 2, &q1, &t1, &q2, &t2, 0), DSERR_INVALIDCALL);
  const std::int16_t w[4] = {-1, -2, -3, -4};
  std::memcpy(p1, w, 4);
  std::memcpy(p2, w + 2, 4);
  ASSERT_EQ(b->Unlock(p1, s1, p2, s2), DS_OK);
  EXPECT_EQ(b->Unlock(p1, s1, p2, s2), DSERR_INVALIDCALL);
  b->Play(0, 0, 0);
  auto out = Listen(1);
  EXPECT_EQ(out[0], -3);
  EXPECT_EQ(out[2], -4);
  EXPECT_EQ(out[4], 3);
  EXPECT_EQ(out[16], -1);
  EXPECT_EQ(out[18], -2);
}

TEST_F(DSoundTest, FocusMutesPlainBuffersWithoutStoppingThem) {
  const auto w = hb->CreateWindow({});
  ASSERT_TRUE(hb->HasFocus(w));
  ASSERT_EQ(ds->SetCooperativeLevel(w, DSSCL_NORMAL), DS_OK);
  auto* plain = Mono16(Ramp(100, 1000, 0));
  auto* global =
      Mono16(Ramp(100, 10, 0), 44100,
             DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLPAN | DSBCAPS_CTRLVOLUME | DSBCAPS_GLOBALFOCUS);
  auto* sticky = Mono16(Ramp(100, 1, 0), 44100, DSBCAPS_STICKYFOCUS);
  for (auto* b : {plain, global, sticky}) b->Play(0, 0, DSBPLAY_LOOPING);
  auto out = Listen(1);
  EXPECT_EQ(out[0], 1011);
  hb->SetFocus(0);
  out = Listen(1);
  EXPECT_EQ(out[0], 11);
  EXPECT_EQ(Status(plain), DSBSTATUS_PLAYING | DSBSTATUS_LOOPING);
  hb->SetFocus(w);
  out = Listen(1);
  EXPECT_EQ(out[0], 1011);
  hb->DestroyWindow(w);
}

TEST_F(DSoundTest, LostBuffersAnswerTheLossUntilReplaced) {
  auto* a = Mono16(Ramp(441));
  IDirectSoundBuffer* d = nullptr;
  ASSERT_EQ(ds->DuplicateSoundBuffer(a, &d), DS_OK);
  made.push_back(d);
  a->Play(0, 0, DSBPLAY_LOOPING);
  dsound::LoseBuffer(a);
  EXPECT_EQ(Status(a), DSBSTATUS_BUFFERLOST);
  EXPECT_EQ(Status(d), DSBSTATUS_BUFFERLOST);  // shares the lost memory
  EXPECT_EQ(a->Play(0, 0, 0), DSERR_BUFFERLOST);
  EXPECT_EQ(d->Play(0, 0, 0), DSERR_BUFFERLOST);
  void *p1, *p2;
  DWORD s1, s2;
  EXPECT_EQ(a->Lock(0, 2, &p1, &s1, &p2, &s2, 0), DSERR_BUFFERLOST);
  auto out = Listen(5);
  for (auto s : out) ASSERT_EQ(s, 0);

  auto* fresh = Mono16(Ramp(441));
  EXPECT_EQ(fresh->Play(0, 0, 0), DS_OK);
  dsound::LoseAllBuffers();
  EXPECT_EQ(Status(fresh), DSBSTATUS_BUFFERLOST);
  EXPECT_EQ(Mono16(Ramp(4))->Play(0, 0, 0), DS_OK);
}

TEST_F(DSoundTest, CreateFailureHookAndArguments) {
  dsound::SetCreateFailure(DSERR_NODRIVER);
  IDirectSound* other = reinterpret_cast<IDirectSound*>(1);
  EXPECT_EQ(DirectSoundCreate(nullptr, &other, nullptr), DSERR_NODRIVER);
  EXPECT_EQ(other, nullptr);
  dsound::SetCreateFailure(DS_OK);
  EXPECT_EQ(DirectSoundCreate(nullptr, nullptr, nullptr), DSERR_INVALIDPARAM);
  GUID g{1, 2, 3, {4}};
  EXPECT_EQ(DirectSoundCreate(&g, &other, nullptr), DSERR_NODRIVER);
  ASSERT_EQ(DirectSoundCreate(&GUID_NULL, &other, nullptr), DS_OK);
  EXPECT_EQ(other->SetCooperativeLevel(0, DSSCL_NORMAL), DSERR_INVALIDPARAM);
  EXPECT_EQ(other->SetCooperativeLevel(1, 9), DSERR_INVALIDPARAM);
  other->Release();
}

// A source that counts its frames, checking that it is asked for consecutive device frames.
class CountingSource : public dsound::StreamSource {
 public:
  int Render(std::int16_t* out, int frames, std::uint64_t deviceFrame) override {
    if (next != ~std::uint64_t{0}) {
      EXPECT_EQ(deviceFrame, next);
    }
    next = deviceFrame + std::uint64_t(frames);
    const int n = std::min(frames, left);
    for (int i = 0; i < n; ++i) out[2 * i] = out[2 * i + 1] = 5;
    left -= n;
    calls++;
    return n;
  }
  std::uint64_t next = ~std::uint64_t{0};
  int left = 600;
  int calls = 0;
};

TEST_F(DSoundTest, StreamSourcesAreMixedWithTheBuffers) {
  auto& mixer = dsound::SoundMixer::Instance();
  CountingSource src;
  mixer.AddSource(&src);
  auto* b = Mono16(Ramp(441, 100, 0));
  b->Play(0, 0, 0);
  auto out = Listen(20);
  EXPECT_EQ(out[0], 105);
  EXPECT_EQ(out[2 * 440 + 1], 105);
  EXPECT_EQ(out[2 * 441], 5);  // the sound ended at 441 frames
  EXPECT_EQ(out[2 * 599], 5);
  EXPECT_EQ(out[2 * 600], 0);  // the source ran dry
  EXPECT_EQ(mixer.FramesPlayed(), mixer.FramesMixed());
  mixer.RemoveSource(&src);
  const int calls = src.calls;
  Listen(20);
  EXPECT_EQ(src.calls, calls);
}

TEST_F(DSoundTest, ANewBackendGetsTheMixOnItsOwnDevice) {
  auto* b = Mono16(Ramp(441, 3, 0));
  auto& second = HeadlessBackend::InstallFresh();
  hb = &second;
  b->Play(0, 0, 0);  // the mixer moves to the new backend's device
  auto out = Listen(10);
  ASSERT_EQ(out.size(), 882u);
  EXPECT_EQ(out[0], 3);
  EXPECT_EQ(dsound::SoundMixer::Instance().FramesPlayed(), 441u);
}

}  // namespace
