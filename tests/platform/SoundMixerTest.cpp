// The mixer across changes of backend and device: tests install new backends while sounds and
// music are in use, and real devices call back from their own thread until they are closed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/backend/HeadlessBackend.h"
#include "platform/dsound/DSound.h"
#include "platform/dsound/SoundMixer.h"
#include "platform/forms/Forms.h"
#include "support/HeadlessApp.h"

namespace {

using backend::HeadlessBackend;

// A source that counts the blocks it is asked for.
class CountingSource : public dsound::StreamSource {
 public:
  int Render(std::int16_t* out, int frames, std::uint64_t deviceFrame) override {
    ++calls;
    firstFrames.push_back(deviceFrame);
    for (int i = 0; i < 2 * frames; ++i) out[i] = 7;
    return frames;
  }
  int calls = 0;
  std::vector<std::uint64_t> firstFrames;
};

// A device like a threaded one being closed: its callback runs one last block while it goes.
class LingeringDevice : public backend::AudioDevice {
 public:
  explicit LingeringDevice(backend::AudioRenderFn render) : render_(std::move(render)) {}
  ~LingeringDevice() override {
    std::vector<std::int16_t> block(512 * 2, 1);
    render_(block.data(), 512);
    lastBlockSilent = true;
    for (auto s : block) lastBlockSilent = lastBlockSilent && s == 0;
  }
  int Rate() const override { return 44100; }
  void Lock() override {}
  void Unlock() override {}
  std::uint64_t FramesPlayed() const override { return 0; }
  static inline bool lastBlockSilent = false;

 private:
  backend::AudioRenderFn render_;
};

class LingeringBackend : public HeadlessBackend {
 public:
  std::shared_ptr<backend::AudioDevice> OpenAudio(backend::AudioRenderFn render) override {
    return std::make_shared<LingeringDevice>(std::move(render));
  }
};

TEST(SoundMixer, PumpMovesToANewBackendFromTheNullOutput) {
  auto& mixer = dsound::SoundMixer::Instance();
  auto* first = &HeadlessBackend::InstallFresh();
  // Someone else holds the device: the mixer plays into nothing on the clock.
  auto taken = first->OpenAudio([](std::int16_t*, int) {});
  mixer.EnsureDevice();
  first->Advance(10);
  mixer.Pump();
  EXPECT_EQ(mixer.FramesPlayed(), 441u);
  taken.reset();

  // The first backend is freed here; pumping must not read its clock.
  auto& second = HeadlessBackend::InstallFresh();
  mixer.Pump();
  EXPECT_TRUE(second.AudioOpen());
  CountingSource src;
  mixer.AddSource(&src);
  second.Advance(10);
  mixer.RemoveSource(&src);
  EXPECT_GT(src.calls, 0);
  EXPECT_EQ(mixer.FramesPlayed(), 441u);
  auto out = second.TakeAudio();
  ASSERT_EQ(out.size(), 882u);
  EXPECT_EQ(out[0], 7);
}

TEST(SoundMixer, ADeviceBeingClosedMixesNothingMore) {
  auto& mixer = dsound::SoundMixer::Instance();
  backend::Backend::Install(std::make_unique<LingeringBackend>());
  mixer.EnsureDevice();
  CountingSource src;
  mixer.AddSource(&src);
  LingeringDevice::lastBlockSilent = false;

  // The new backend's device replaces the lingering one, whose last block comes too late.
  auto& hb = HeadlessBackend::InstallFresh();
  mixer.EnsureDevice();
  EXPECT_TRUE(LingeringDevice::lastBlockSilent);
  EXPECT_EQ(src.calls, 0);
  EXPECT_EQ(mixer.FramesMixed(), 0u);

  // The new device counts from its own first frame.
  hb.Advance(10);
  mixer.RemoveSource(&src);
  ASSERT_FALSE(src.firstFrames.empty());
  EXPECT_EQ(src.firstFrames.front(), 0u);
  EXPECT_EQ(mixer.FramesMixed(), mixer.FramesPlayed());
}

// Like SDL's backend in the one way that matters here: its device renders on a thread of its
// own, where the mixer cannot ask which window has the focus.
class ThreadedAudioBackend : public HeadlessBackend {
 public:
  using HeadlessBackend::HeadlessBackend;
  bool IsHeadless() const override { return false; }
};

class FocusMuteTest : public HeadlessAppTest {
 protected:
  void SetUp() override {
    HeadlessAppTest::SetUp();
    auto b = std::make_unique<ThreadedAudioBackend>(StartMs());
    hb = b.get();
    backend::Backend::Install(std::move(b));
  }
  // Lets the clock run and returns the left channel of what was heard meanwhile.
  std::vector<std::int16_t> Listen(std::uint32_t ms) {
    hb->ClearAudio();
    hb->Advance(ms);
    std::vector<std::int16_t> left;
    const auto& out = hb->CapturedAudio();
    for (std::size_t i = 0; i < out.size(); i += 2) left.push_back(out[i]);
    return left;
  }
};

TEST_F(FocusMuteTest, ALoopFallsSilentWhenTheWindowLosesTheFocus) {
  TForm* f = nullptr;
  Application->CreateForm(f);
  f->Show();
  Application->ProcessMessages();
  ASSERT_TRUE(hb->HasFocus(f->Handle()));

  IDirectSound* ds = nullptr;
  ASSERT_EQ(DirectSoundCreate(nullptr, &ds, nullptr), DS_OK);
  ASSERT_EQ(ds->SetCooperativeLevel(f->Handle(), DSSCL_NORMAL), DS_OK);
  WAVEFORMATEX fmt{};
  fmt.wFormatTag = WAVE_FORMAT_PCM;
  fmt.nChannels = 1;
  fmt.wBitsPerSample = 16;
  fmt.nSamplesPerSec = 44100;
  fmt.nBlockAlign = 2;
  fmt.nAvgBytesPerSec = 88200;
  DSBUFFERDESC d{};
  d.dwSize = DSBUFFERDESC_SIZE;
  d.dwBufferBytes = 882;
  d.lpwfxFormat = &fmt;
  IDirectSoundBuffer* loop = nullptr;
  ASSERT_EQ(ds->CreateSoundBuffer(&d, &loop, nullptr), DS_OK);
  void *p1, *p2;
  DWORD s1, s2;
  ASSERT_EQ(loop->Lock(0, 882, &p1, &s1, &p2, &s2, 0), DS_OK);
  std::vector<std::int16_t> samples(441, 1000);
  std::memcpy(p1, samples.data(), s1);
  loop->Unlock(p1, s1, p2, s2);
  loop->Play(0, 0, DSBPLAY_LOOPING);
  auto heard = Listen(20);
  ASSERT_FALSE(heard.empty());
  EXPECT_EQ(heard.front(), 1000);
  EXPECT_EQ(heard.back(), 1000);

  // Only the application loop runs: no sound call tells the mixer.
  hb->SetFocus(0);
  Pump();
  heard = Listen(20);
  ASSERT_FALSE(heard.empty());
  EXPECT_EQ(std::count(heard.begin(), heard.end(), 0), std::ptrdiff_t(heard.size()));

  hb->SetFocus(f->Handle());
  Pump();
  heard = Listen(20);
  ASSERT_FALSE(heard.empty());
  EXPECT_EQ(heard.front(), 1000);

  loop->Release();
  ds->Release();
}

}  // namespace
