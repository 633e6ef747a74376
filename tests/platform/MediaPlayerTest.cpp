// The media player on the headless backend: the virtual clock renders the mix into memory, so
// every position can be checked against the samples that were actually played.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/backend/HeadlessBackend.h"
#include "platform/dsound/SoundMixer.h"
#include "platform/mci/MPlayer.h"
#include "platform/mci/Mp3Decoder.h"

namespace {

using backend::HeadlessBackend;
namespace fs = std::filesystem;

const char* const kMusic = "Sound/Last Boss.mp3";

// The whole music decoded straight through, the reference for what the player must play.
const std::vector<std::int16_t>& Reference() {
  static const std::vector<std::int16_t> pcm = [] {
    mci::Mp3Decoder d(kMusic);
    std::vector<std::int16_t> v(static_cast<size_t>(d.Length()) * 2);
    EXPECT_EQ(d.Read(v.data(), static_cast<int>(d.Length())), d.Length());
    return v;
  }();
  return pcm;
}

std::vector<std::int16_t> Slice(std::int64_t fromFrame, std::int64_t frames) {
  const auto& r = Reference();
  return {r.begin() + fromFrame * 2, r.begin() + (fromFrame + frames) * 2};
}

bool Silent(const std::vector<std::int16_t>& v) {
  for (auto s : v)
    if (s != 0) return false;
  return true;
}

class MediaPlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hb = &HeadlessBackend::InstallFresh();
    mp = new TMediaPlayer(nullptr);
    mp->FileName = kMusic;
  }
  void TearDown() override { delete mp; }

  // Played audio since the last call.
  std::vector<std::int16_t> Heard() { return hb->TakeAudio(); }
  void Open() {
    mp->Open();
    Heard();
  }

  HeadlessBackend* hb = nullptr;
  TMediaPlayer* mp = nullptr;
};

TEST_F(MediaPlayerTest, PlayPauseResumeStopFollowThePlayedSamples) {
  Open();
  EXPECT_EQ(mp->Mode(), mpStopped);
  EXPECT_EQ(mp->Position(), 0);
  EXPECT_EQ(mp->Length(), 67000);

  mp->Play();
  EXPECT_EQ(mp->Mode(), mpPlaying);
  EXPECT_EQ(mp->Position(), 0);  // nothing has left the speaker yet
  hb->Advance(1000);
  EXPECT_EQ(mp->Position(), 1000);
  EXPECT_EQ(Heard(), Slice(0, 44100));

  mp->Pause();
  EXPECT_EQ(mp->Mode(), mpPaused);
  hb->Advance(500);
  EXPECT_EQ(mp->Position(), 1000);  // frozen while paused
  EXPECT_TRUE(Silent(Heard()));

  mp->Pause();  // resumes from the same sample
  EXPECT_EQ(mp->Mode(), mpPlaying);
  hb->Advance(250);
  EXPECT_EQ(mp->Position(), 1250);
  EXPECT_EQ(Heard(), Slice(44100, 11025));

  mp->Stop();
  EXPECT_EQ(mp->Mode(), mpStopped);
  hb->Advance(300);
  EXPECT_EQ(mp->Position(), 1250);  // Stop does not rewind
  EXPECT_TRUE(Silent(Heard()));
  mp->Pause();  // stopped: nothing
  EXPECT_EQ(mp->Mode(), mpStopped);

  mp->Play();  // on from where it stopped
  hb->Advance(10);
  EXPECT_EQ(mp->Position(), 1260);
  EXPECT_EQ(Heard(), Slice(55125, 441));

  mp->Rewind();
  EXPECT_EQ(mp->Mode(), mpStopped);
  EXPECT_EQ(mp->Position(), 0);
  mp->Play();
  hb->Advance(20);
  EXPECT_EQ(Heard(), Slice(0, 882));
}

TEST_F(MediaPlayerTest, PositionIsExactOnEveryMillisecond) {
  Open();
  mp->Play();
  for (int ms = 1; ms <= 60; ++ms) {
    hb->Advance(1);
    ASSERT_EQ(mp->Position(), ms);
  }
}

TEST_F(MediaPlayerTest, SeekingClampsStopsAndRoundTrips) {
  Open();
  mp->SetPosition(30000);
  EXPECT_EQ(mp->Mode(), mpStopped);
  EXPECT_EQ(mp->Position(), 30000);
  mp->Play();
  hb->Advance(100);
  EXPECT_EQ(mp->Position(), 30100);
  EXPECT_EQ(Heard(), Slice(1323000, 4410));

  mp->SetPosition(mp->Position());  // holds the music exactly where it is
  EXPECT_EQ(mp->Mode(), mpStopped);
  EXPECT_EQ(mp->Position(), 30100);
  for (int v : {1, 7, 12345, 33333, 66999}) {
    mp->SetPosition(v);
    mp->SetPosition(mp->Position());
    EXPECT_EQ(mp->Position(), v);
  }

  mp->SetPosition(-20);
  EXPECT_EQ(mp->Position(), 0);
  mp->SetPosition(999999);
  EXPECT_EQ(mp->Position(), mp->Length());
  EXPECT_EQ(mp->Mode(), mpStopped);
}

TEST_F(MediaPlayerTest, SamplesTimeFormat) {
  Open();
  mp->SetTimeFormat(tfSamples);
  mci::Mp3Decoder d(kMusic);
  EXPECT_EQ(mp->Length(), d.Length());
  mp->SetPosition(12345);
  EXPECT_EQ(mp->Position(), 12345);
  mp->Play();
  hb->Advance(10);
  EXPECT_EQ(mp->Position(), 12345 + 441);
}

TEST_F(MediaPlayerTest, NaturalEndStopsExactlyAtTheLength) {
  Open();
  const int length = mp->Length();
  mp->SetPosition(length - 500);
  mp->Play();
  hb->Advance(400);
  EXPECT_EQ(mp->Mode(), mpPlaying);
  EXPECT_EQ(mp->Position(), length - 100);
  hb->Advance(200);
  EXPECT_EQ(mp->Mode(), mpStopped);
  EXPECT_EQ(mp->Position(), length);
  std::vector<std::int16_t> heard = Heard();
  const std::int64_t frames = mci::Mp3Decoder(kMusic).Length();
  const std::int64_t start = (static_cast<std::int64_t>(length - 500) * 44100 + 500) / 1000;
  std::vector<std::int16_t> tail(heard.begin(), heard.begin() + (frames - start) * 2);
  EXPECT_EQ(tail, Slice(start, frames - start));
  EXPECT_TRUE(Silent({heard.begin() + (frames - start) * 2, heard.end()}));

  // At the end, Play without From starts again from the beginning...
  mp->Play();
  hb->Advance(100);
  EXPECT_EQ(mp->Mode(), mpPlaying);
  EXPECT_EQ(mp->Position(), 100);
  // ...while Play from the end itself ends at once, without an error.
  mp->SetFrom(length);
  mp->Play();
  EXPECT_EQ(mp->Mode(), mpStopped);
  EXPECT_EQ(mp->Position(), length);
}

TEST_F(MediaPlayerTest, FromAndWaitAreUsedUpByOneCommand) {
  Open();
  mp->SetFrom(5000);
  mp->Play();
  hb->Advance(100);
  EXPECT_EQ(mp->Position(), 5100);
  mp->Stop();
  mp->Play();  // From was used up: on from the stop
  hb->Advance(100);
  EXPECT_EQ(mp->Position(), 5200);

  // A waited Play returns once the music has ended, with the clock moved on.
  mp->SetPosition(mp->Length() - 300);
  mp->Wait = true;
  const std::uint64_t before = hb->Elapsed();
  mp->Play();
  EXPECT_FALSE(mp->Wait);
  EXPECT_EQ(mp->Mode(), mpStopped);
  EXPECT_EQ(mp->Position(), mp->Length());
  EXPECT_GE(hb->Elapsed() - before, 300u);

  // Wait goes with the next command, whatever it is: here Stop, so Play returns at once.
  mp->Wait = true;
  mp->Stop();
  EXPECT_FALSE(mp->Wait);
  mp->Play();
  EXPECT_EQ(mp->Mode(), mpPlaying);

  // And it is used up by a command that fails.
  mp->Close();
  mp->Wait = true;
  EXPECT_THROW(mp->Play(), EMCIDeviceError);
  EXPECT_FALSE(mp->Wait);
}

TEST_F(MediaPlayerTest, ClosedPlayerReadsZeroAndRefusesCommands) {
  EXPECT_EQ(mp->Mode(), mpNotReady);
  EXPECT_EQ(mp->Position(), 0);
  EXPECT_EQ(mp->Length(), 0);
  EXPECT_NO_THROW(mp->Stop());
  EXPECT_NO_THROW(mp->Close());
  EXPECT_THROW(mp->Pause(), EMCIDeviceError);
  EXPECT_THROW(mp->Play(), EMCIDeviceError);
  EXPECT_THROW(mp->Rewind(), EMCIDeviceError);
  EXPECT_THROW(mp->SetPosition(10), EMCIDeviceError);

  Open();
  mp->Play();
  hb->Advance(50);
  mp->Close();
  EXPECT_EQ(mp->Mode(), mpNotReady);
  EXPECT_EQ(mp->Position(), 0);
  Heard();
  hb->Advance(50);
  EXPECT_TRUE(Silent(Heard()));
}

TEST_F(MediaPlayerTest, OpenClosesWhatWasOpen) {
  Open();
  mp->Play();
  hb->Advance(100);
  mp->FileName = "Sound/スタッコのスタッコ.mp3";
  mp->Open();
  EXPECT_EQ(mp->Mode(), mpStopped);
  EXPECT_EQ(mp->Position(), 0);
  EXPECT_GT(mp->Length(), 80000);

  // Names as the programs spell them: backslashes, a doubled separator.
  mp->FileName = fs::current_path().string() + "\\\\Sound\\Last Boss.mp3";
  mp->Open();
  EXPECT_EQ(mp->Length(), 67000);

  // A failed Open leaves the player closed.
  mp->FileName = "Sound/no such music.mp3";
  EXPECT_THROW(mp->Open(), EMCIDeviceError);
  EXPECT_EQ(mp->Mode(), mpNotReady);
}

// Without an audio device the music plays into nothing, and the position still follows the clock.
TEST_F(MediaPlayerTest, NullOutputAdvancesWithTheClock) {
  // Someone else holds the one device: the mixer falls back to its null output.
  auto taken = hb->OpenAudio(
      [](std::int16_t* out, int frames) { std::fill(out, out + 2 * frames, std::int16_t{0}); });
  dsound::SoundMixer::Instance().EnsureDevice();
  Open();
  mp->Play();
  hb->Advance(1000);
  EXPECT_EQ(mp->Position(), 1000);
  hb->Advance(234);
  EXPECT_EQ(mp->Position(), 1234);
  mp->Pause();
  hb->Advance(100);
  EXPECT_EQ(mp->Position(), 1234);
}

class BadMusicFileTest : public MediaPlayerTest {
 protected:
  void TearDown() override {
    MediaPlayerTest::TearDown();
    std::error_code ec;
    fs::remove(path, ec);
  }
  void Write(const std::vector<std::uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
    mp->FileName = path.string();
  }
  std::vector<std::uint8_t> Music() {
    std::ifstream f(kMusic, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
  }
  std::string OpenError() {
    try {
      mp->Open();
    } catch (const EMCIDeviceError& e) {
      EXPECT_EQ(mp->Mode(), mpNotReady);
      return e.Message;
    }
    return "";
  }
  fs::path path =
      fs::temp_directory_path() / ("morvane_music_" + std::to_string(::getpid()) + ".mp3");
};

TEST_F(BadMusicFileTest, MissingEmptyAndGarbageFilesRaiseClearErrors) {
  mp->FileName = path.string();
  EXPECT_NE(OpenError().find("does not exist"), std::string::npos);
  mp->FileName = "";
  EXPECT_NE(OpenError().find("does not exist"), std::string::npos);
  mp->FileName = fs::temp_directory_path().string();
  EXPECT_NE(OpenError().find("Is a directory"), std::string::npos);

  Write({});
  EXPECT_NE(OpenError().find("is empty"), std::string::npos);

  std::string text;
  for (int i = 0; i < 400; ++i) text += "This is not music at all. ";
  Write({text.begin(), text.end()});
  const std::string message = OpenError();
  EXPECT_NE(message.find("not an MP3"), std::string::npos) << message;
  EXPECT_NE(message.find(path.string()), std::string::npos);

  // A picture is no music either.
  std::ifstream bmp("Image/Grumbak.bmp", std::ios::binary);
  Write({std::istreambuf_iterator<char>(bmp), std::istreambuf_iterator<char>()});
  EXPECT_NE(OpenError(), "");
}

TEST_F(BadMusicFileTest, RandomBytesNeverCrash) {
  std::uint32_t s = 12345;
  for (int round = 0; round < 20; ++round) {
    std::vector<std::uint8_t> bytes(1000 + round * 700);
    for (auto& b : bytes) b = static_cast<std::uint8_t>((s = s * 1103515245u + 12345u) >> 16);
    Write(bytes);
    try {
      mp->Open();
      mp->Play();
      hb->Advance(50);
      EXPECT_LE(mp->Position(), mp->Length());
    } catch (const EMCIDeviceError&) {
    }
  }
}

TEST_F(BadMusicFileTest, TruncatedFilePlaysWhatItHoldsToTheEnd) {
  std::vector<std::uint8_t> bytes = Music();
  bytes.resize(bytes.size() / 2 + 333);  // cut inside a frame
  Write(bytes);
  mp->Open();
  const int length = mp->Length();
  EXPECT_GT(length, 30000);
  EXPECT_LT(length, 40000);
  mp->SetPosition(length - 200);
  mp->Play();
  hb->Advance(300);
  EXPECT_EQ(mp->Mode(), mpStopped);
  EXPECT_EQ(mp->Position(), length);

  // Only the tag frame, or less: nothing to play.
  bytes.resize(100);
  Write(bytes);
  EXPECT_NE(OpenError(), "");
}

TEST(Mp3DecoderTest, SeekingIsSampleExact) {
  const auto& ref = Reference();
  mci::Mp3Decoder d(kMusic);
  ASSERT_EQ(static_cast<size_t>(d.Length()) * 2, ref.size());
  std::vector<std::int16_t> buf(2 * 3000);
  const std::vector<std::int64_t> places = {
      0, 1, 575, 1152, 1153, 44100 * 7 + 13, 1000000, d.Length() - 3000};
  for (std::int64_t at : places) {
    d.Seek(at);
    ASSERT_EQ(d.Read(buf.data(), 3000), 3000);
    EXPECT_TRUE(std::equal(buf.begin(), buf.end(), ref.begin() + at * 2)) << "at frame " << at;
  }
  d.Seek(d.Length());
  EXPECT_EQ(d.Read(buf.data(), 10), 0);
}

}  // namespace
