// Named pipes, sockets and links to devices where the programs look for a chart, a picture, a
// sound or their music: every reader refuses them at once, with the same words for the same
// file, and nothing ever waits on them. Also the words for a link that leads to itself, a
// colour table of absurd length and an ID3 tag longer than its file.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "editor/Score.h"
#include "framework/graphics/DIB.h"
#include "framework/sound_input/DXWave.h"
#include "framework/sound_input/Ddidex.h"
#include "game/UScore.h"
#include "odd_inputs/OddFolder.h"
#include "platform/backend/HeadlessBackend.h"
#include "platform/forms/Forms.h"
#include "platform/mci/Mp3Decoder.h"
#include "platform/rtl/Lists.h"
#include "platform/rtl/Streams.h"
#include "support/Watchdog.h"

namespace {

// The message of whatever Body raises, or "" when it raises nothing.
template <typename Body>
std::string MessageOf(Body body) {
  try {
    body();
  } catch (const Exception& e) {
    return e.Message;
  }
  return "";
}

std::vector<std::uint8_t> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct OddThing {
  std::string Name;
  std::string Reason;
};

class OddFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    backend::HeadlessBackend::InstallFresh();
    Application->ResetForTest();
  }
  void TearDown() override { Application->ResetForTest(); }

  // Every reader of the programs, given the odd thing at Path, refuses it with Reason.
  void ExpectEveryReaderRefuses(const std::string& Path, const std::string& Reason) {
    Watchdog guard("reading " + Path);
    const std::string opened = "Cannot open file \"" + Path + "\". " + Reason;
    TStringList lines;
    EXPECT_EQ(MessageOf([&] { lines.LoadFromFile(Path); }), opened);
    // The editor tells the user the same and reads no note.
    Tessaly::TScore chart;
    EXPECT_EQ(MessageOf([&] { chart.LoadFromFile(Path); }), opened);
    EXPECT_FALSE(chart.IsLoaded());
    // The game plays on without a chart it cannot open, as it does for a missing one.
    TScore played;
    int badLine = 0;
    played.OnBadLine = [&](const std::string&, int Line) { badLine = Line; };
    played.LoadFromFile(Path);
    EXPECT_EQ(played.Count(), 1);
    EXPECT_EQ(badLine, 0);
    // Pictures, sounds and raw bytes go through the same file stream.
    TDIB dib;
    EXPECT_EQ(MessageOf([&] { dib.LoadFromFile(Path); }), opened);
    TPicture picture;
    EXPECT_EQ(MessageOf([&] { picture.LoadFromFile(Path + ".bmp"); }),
              "Cannot open file \"" + Path + ".bmp\". " + Reason);
    TMemoryStream bytes;
    EXPECT_EQ(MessageOf([&] { bytes.LoadFromFile(Path); }), opened);
    EXPECT_EQ(MessageOf([&] {
                TFileStream wave(Path, fmOpenRead);
                TWave w;
                w.LoadFromStream(&wave);
              }),
              opened);
    // The music says it in its own sentence, with the same reason.
    EXPECT_EQ(MessageOf([&] { mci::Mp3Decoder music(Path); }),
              "Cannot open the music file \"" + Path + "\": " + Reason);
  }
};

TEST_F(OddFiles, PipesSocketsAndDevicesAreRefusedByEveryReaderWithoutWaiting) {
  OddFolder dir;
  const std::vector<OddThing> things = {
      {dir.Fifo("pipe"), "Is a named pipe"},
      {dir.Socket("socket"), "Is a socket"},
      {dir.Link("zero", "/dev/zero"), "Is a character device"},
      {dir.Link("null", "/dev/null"), "Is a character device"},
  };
  // The picture reader picks its class by the extension: the same things under a ".bmp" name.
  dir.Fifo("pipe.bmp");
  dir.Link("socket.bmp", dir.Dir() + "socket");
  dir.Link("zero.bmp", "/dev/zero");
  dir.Link("null.bmp", "/dev/null");
  for (const OddThing& t : things) {
    SCOPED_TRACE(t.Name);
    ExpectEveryReaderRefuses(t.Name, t.Reason);
  }
  // A folder was refused before; it still is, in the same words.
  TStringList lines;
  EXPECT_EQ(MessageOf([&] { lines.LoadFromFile(dir.Dir()); }),
            "Cannot open file \"" + dir.Dir() + "\". Is a directory");
}

TEST_F(OddFiles, NoFileIsOpenedForWritingOverAPipeOrADevice) {
  OddFolder dir;
  const std::string pipe = dir.Fifo("pipe");
  const std::string null = dir.Link("null", "/dev/null");
  Watchdog guard("opening a pipe and a device for writing");
  for (std::uint16_t mode : {fmCreate, fmOpenWrite, fmOpenReadWrite}) {
    SCOPED_TRACE(mode);
    EXPECT_NE(MessageOf([&] { TFileStream f(pipe, mode); }).find("Is a named pipe"),
              std::string::npos);
    EXPECT_NE(MessageOf([&] { TFileStream f(null, mode); }).find("Is a character device"),
              std::string::npos);
  }
  EXPECT_THROW(TFileStream(pipe, fmCreate), EFCreateError);
  EXPECT_THROW(TFileStream(pipe, fmOpenWrite), EFOpenError);
  // A regular file opens as before, in every mode.
  const std::string file = dir.Write("file", "abc");
  TFileStream f(file, fmOpenReadWrite);
  EXPECT_EQ(f.Size(), 3);
}

TEST_F(OddFiles, ALinkToItselfSaysSoInTheChartAndInTheMusic) {
  OddFolder dir;
  const std::string loop = dir.Loop("Last Boss.mp3");
  const std::string reason = std::strerror(ELOOP);
  EXPECT_EQ(MessageOf([&] { mci::Mp3Decoder music(loop); }),
            "Cannot open the music file \"" + loop + "\": " + reason);
  TStringList lines;
  EXPECT_EQ(MessageOf([&] { lines.LoadFromFile(loop); }),
            "Cannot open file \"" + loop + "\". " + reason);
  // A name that leads nowhere still says that the file does not exist.
  const std::string dangling = dir.Link("gone.mp3", dir.Dir() + "nothing-here.mp3");
  EXPECT_NE(MessageOf([&] { mci::Mp3Decoder music(dangling); }).find("does not exist"),
            std::string::npos);
}

TEST_F(OddFiles, TheInputDebugLogNeverWaitsForAReaderOfAPipe) {
  OddFolder dir;
  dir.Fifo("ddid.debug");
  Ddidex::SetDebugLogFolder(dir.Dir());
  Ddidex::DebugMessage = true;
  Ddidex::DebugCount = 0;
  std::string said;
  {
    Watchdog guard("writing the input debug log into a pipe");
    said = MessageOf([] { Ddidex::DDIDDebugOut("a line"); });
  }
  Ddidex::DebugMessage = false;
  Ddidex::SetDebugLogFolder("");
  EXPECT_EQ(said, "Cannot open \"" + dir.Dir() + "ddid.debug\": " + std::strerror(ENXIO));
}

// A 1 x 1 bitmap of 24 bits whose header claims biClrUsed colours.
std::string Bitmap(std::uint32_t ClrUsed, int TableEntries) {
  std::string b;
  auto put = [&](std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  const std::uint32_t offset = 14 + 40 + 4 * TableEntries;
  b += "BM";
  put(offset + 4, 4);
  put(0, 4);
  put(offset, 4);
  put(40, 4);
  put(1, 4);   // width
  put(1, 4);   // height
  put(1, 2);   // planes
  put(24, 2);  // bits
  put(0, 4);   // BI_RGB
  put(4, 4);   // image size
  put(0, 4);
  put(0, 4);
  put(ClrUsed, 4);
  put(0, 4);
  for (int i = 0; i < TableEntries; ++i) put(0x00112233, 4);
  put(0x00FF0000, 4);  // the pixel: blue, green, red, and the row's padding
  return b;
}

TEST_F(OddFiles, AColourTableLongerThanItsFileIsAnInvalidPicture) {
  OddFolder dir;
  TDIB dib;
  const std::string absurd = dir.Write("absurd.bmp", Bitmap(0xFFFFFFFF, 0));
  EXPECT_EQ(MessageOf([&] { dib.LoadFromFile(absurd); }), "DIB is invalid");
  const std::string tooMany = dir.Write("many.bmp", Bitmap(300, 10));
  EXPECT_EQ(MessageOf([&] { dib.LoadFromFile(tooMany); }), "DIB is invalid");
  // A long table that is really there is read, its first 256 entries kept.
  const std::string real = dir.Write("real.bmp", Bitmap(300, 300));
  EXPECT_EQ(MessageOf([&] { dib.LoadFromFile(real); }), "");
  EXPECT_EQ(dib.Width(), 1);
}

TEST_F(OddFiles, AnID3TagClaimingMoreThanTheFileSaysSo) {
  OddFolder dir;
  const std::vector<std::uint8_t> music = FileBytes("Sound/Last Boss.mp3");
  ASSERT_GT(music.size(), 10000u);
  // A tag of ID3 version 2.4; its size in four bytes of seven bits.
  auto tagged = [&](std::uint32_t size) {
    std::string t = "ID3";
    t += '\x04';
    t += '\0';
    t += '\0';
    for (int shift = 21; shift >= 0; shift -= 7) t += static_cast<char>((size >> shift) & 0x7F);
    t += std::string(std::min<std::uint32_t>(size, 64), '\0');
    return t + std::string(music.begin(), music.end());
  };
  const std::string big = dir.Write("big.mp3", tagged(200u << 20));
  EXPECT_EQ(
      MessageOf([&] { mci::Mp3Decoder d(big); }),
      "Cannot open the music file \"" + big + "\": its ID3v2 tag runs past the end of the file");
  // A tag of its true length in front of the same music plays.
  const std::string fine = dir.Write("fine.mp3", tagged(64));
  EXPECT_EQ(MessageOf([&] { mci::Mp3Decoder d(fine); }), "");
}

}  // namespace
