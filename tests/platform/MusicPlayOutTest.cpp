// The music's position around Pause, Stop and Resume on a device that keeps frames queued ahead
// of the speaker, as every real one does: what was handed over before the pause still plays out,
// the position follows it to the last frame heard and stands there, and playing again goes on
// from the next frame. At every step the position is checked against the frame being heard and
// what was heard against the music decoded straight through.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "platform/backend/HeadlessBackend.h"
#include "platform/dsound/SoundMixer.h"
#include "platform/mci/Mp3Decoder.h"
#include "platform/mci/MusicDevice.h"

namespace {

const char* const kMusic = "Sound/Last Boss.mp3";
constexpr int kBlock = 512;

// Asks for blocks whenever it has room, so that `held` frames wait in its queue, and plays one
// frame at a time when told to; keeps every frame it played.
class QueueingDevice : public backend::AudioDevice {
 public:
  QueueingDevice(backend::AudioRenderFn render, std::size_t held)
      : render_(std::move(render)), held_(held) {}
  int Rate() const override { return 44100; }
  void Lock() override {}
  void Unlock() override {}
  std::uint64_t FramesPlayed() const override { return played_; }

  void Play(int frames) {
    std::vector<std::int16_t> block(kBlock * 2);
    for (int i = 0; i < frames; ++i) {
      while (queue_.size() < 2 * held_) {
        std::fill(block.begin(), block.end(), std::int16_t{0});
        render_(block.data(), kBlock);
        queue_.insert(queue_.end(), block.begin(), block.end());
      }
      heard.push_back(queue_[0]);
      heard.push_back(queue_[1]);
      queue_.erase(queue_.begin(), queue_.begin() + 2);
      ++played_;
    }
  }
  std::vector<std::int16_t> heard;

 private:
  backend::AudioRenderFn render_;
  const std::size_t held_;
  std::deque<std::int16_t> queue_;
  std::uint64_t played_ = 0;
};

class QueueingBackend : public backend::HeadlessBackend {
 public:
  std::shared_ptr<backend::AudioDevice> OpenAudio(backend::AudioRenderFn render) override {
    auto dev = std::make_shared<QueueingDevice>(std::move(render), 2048 + 100);
    device = dev.get();
    return dev;
  }
  QueueingDevice* device = nullptr;
};

std::vector<std::int16_t> Decoded(std::int64_t from, std::int64_t frames) {
  mci::Mp3Decoder d(kMusic);
  d.Seek(from);
  std::vector<std::int16_t> v(static_cast<std::size_t>(frames) * 2);
  EXPECT_EQ(d.Read(v.data(), static_cast<int>(frames)), frames);
  return v;
}

std::vector<std::int16_t> Heard(const QueueingDevice& dev, std::uint64_t from, std::uint64_t to) {
  if (to > dev.FramesPlayed()) return {};
  return {dev.heard.begin() + static_cast<std::ptrdiff_t>(2 * from),
          dev.heard.begin() + static_cast<std::ptrdiff_t>(2 * to)};
}

class MusicPlayOutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto b = std::make_unique<QueueingBackend>();
    backend_ = b.get();
    backend::Backend::Install(std::move(b));
    music.Open(kMusic);
    dev = backend_->device;
    ASSERT_NE(dev, nullptr);
  }
  void TearDown() override {
    music.Close();
    backend::HeadlessBackend::InstallFresh();
  }
  // Plays `frames` frames a few at a time; after each step the position must be `expected` of
  // the frames played so far, and never less than before.
  template <typename Expected>
  void PlayChecking(int frames, Expected expected) {
    for (int done = 0; done < frames; done += 37) {
      dev->Play(std::min(37, frames - done));
      const std::int64_t p = music.Position();
      ASSERT_GE(p, last_);
      ASSERT_EQ(p, expected(static_cast<std::int64_t>(dev->FramesPlayed())))
          << "after " << dev->FramesPlayed() << " frames";
      last_ = p;
    }
  }

  mci::MusicDevice music;
  QueueingDevice* dev = nullptr;

 private:
  QueueingBackend* backend_ = nullptr;
  std::int64_t last_ = 0;
};

TEST_F(MusicPlayOutTest, PauseAndResumeNeitherRepeatNorSkip) {
  music.Play();
  ASSERT_NO_FATAL_FAILURE(PlayChecking(44100, [](std::int64_t played) { return played; }));
  music.Pause();
  EXPECT_EQ(music.Mode(), mci::MusicMode::Paused);
  // Everything handed over so far is music from frame 0, one block after another.
  const std::int64_t last = static_cast<std::int64_t>(dsound::SoundMixer::Instance().FramesMixed());
  EXPECT_GT(last, 44100 + 2048);
  ASSERT_NO_FATAL_FAILURE(
      PlayChecking(22050, [&](std::int64_t played) { return std::min(played, last); }));
  EXPECT_EQ(music.Position(), last);

  music.Pause();  // plays on
  const std::int64_t resumedAt =
      static_cast<std::int64_t>(dsound::SoundMixer::Instance().FramesMixed());
  ASSERT_NO_FATAL_FAILURE(PlayChecking(44100, [&](std::int64_t played) {
    return played < resumedAt ? last : last + played - resumedAt;
  }));
  const std::int64_t played = static_cast<std::int64_t>(dev->FramesPlayed());

  EXPECT_EQ(Heard(*dev, 0, last), Decoded(0, last));
  const auto gap = Heard(*dev, last, resumedAt);
  EXPECT_TRUE(std::all_of(gap.begin(), gap.end(), [](std::int16_t s) { return s == 0; }));
  EXPECT_EQ(Heard(*dev, resumedAt, played), Decoded(last, played - resumedAt));
}

TEST_F(MusicPlayOutTest, StopLetsTheQueuePlayOutAndPlayGoesOnAfterIt) {
  music.Play(10000);
  ASSERT_NO_FATAL_FAILURE(PlayChecking(30000, [](std::int64_t played) { return 10000 + played; }));
  music.Stop();
  EXPECT_EQ(music.Mode(), mci::MusicMode::Stopped);
  const std::int64_t handed =
      static_cast<std::int64_t>(dsound::SoundMixer::Instance().FramesMixed());
  ASSERT_NO_FATAL_FAILURE(
      PlayChecking(10000, [&](std::int64_t played) { return 10000 + std::min(played, handed); }));

  // Stopped again before the queue has played out: it plays on from the frame after it.
  music.Play();
  const std::int64_t resumedAt =
      static_cast<std::int64_t>(dsound::SoundMixer::Instance().FramesMixed());
  ASSERT_NO_FATAL_FAILURE(PlayChecking(1000, [&](std::int64_t played) {
    return played < resumedAt ? 10000 + handed : 10000 + handed + played - resumedAt;
  }));
  music.Stop();
  const std::int64_t handedAgain =
      static_cast<std::int64_t>(dsound::SoundMixer::Instance().FramesMixed());
  music.Play();
  const std::int64_t resumedAgain =
      static_cast<std::int64_t>(dsound::SoundMixer::Instance().FramesMixed());
  const std::int64_t musicAtStop = 10000 + handed + handedAgain - resumedAt;
  ASSERT_NO_FATAL_FAILURE(PlayChecking(20000, [&](std::int64_t played) {
    if (played < handedAgain) return 10000 + handed + std::max<std::int64_t>(0, played - resumedAt);
    return played < resumedAgain ? musicAtStop : musicAtStop + played - resumedAgain;
  }));
  const std::int64_t played = static_cast<std::int64_t>(dev->FramesPlayed());
  EXPECT_EQ(Heard(*dev, 0, handed), Decoded(10000, handed));
  EXPECT_EQ(Heard(*dev, resumedAt, handedAgain), Decoded(10000 + handed, handedAgain - resumedAt));
  EXPECT_EQ(Heard(*dev, resumedAgain, played), Decoded(musicAtStop, played - resumedAgain));

  // A seek while stopped moves the position at once; Play starts there.
  music.Seek(5000);
  EXPECT_EQ(music.Position(), 5000);
}

TEST_F(MusicPlayOutTest, EveryReplayAfterTheNaturalEndIsTheWholeMusic) {
  // As a game loops its music: played to the end, a breath of silence, and again.
  const std::int64_t length = music.Length();
  auto& mixer = dsound::SoundMixer::Instance();
  std::vector<std::int64_t> starts;
  for (int play = 0; play < 3; ++play) {
    music.Play();
    starts.push_back(static_cast<std::int64_t>(mixer.FramesMixed()));
    while (music.Mode() == mci::MusicMode::Playing) dev->Play(37);
    ASSERT_EQ(music.Position(), length);
    dev->Play(13230);
  }
  const auto whole = Decoded(0, length);
  for (std::size_t i = 0; i < starts.size(); ++i) {
    const auto from = static_cast<std::uint64_t>(starts[i]);
    const auto heard = Heard(*dev, from, from + static_cast<std::uint64_t>(length));
    ASSERT_EQ(heard.size(), whole.size());
    std::size_t k = 0;
    while (k < heard.size() && heard[k] == whole[k]) ++k;
    EXPECT_EQ(k / 2, length) << "play " << i + 1 << " differs from music frame " << k / 2;
    // Right after it, the silence of the breath: nothing more of the music.
    const auto after = Heard(*dev, from + length, from + length + 4096);
    EXPECT_TRUE(std::all_of(after.begin(), after.end(), [](std::int16_t s) { return s == 0; }));
  }
}

}  // namespace
