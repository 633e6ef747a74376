// The mixer across changes of backend and device: tests install new backends while sounds and
// music are in use, and real devices call back from their own thread until they are closed.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/backend/HeadlessBackend.h"
#include "platform/dsound/SoundMixer.h"

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

}  // namespace
