// WAVE data and the RIFF WAVE reader and writer: round trips, the walk over chunks in any order,
// and damaged files that must fail cleanly.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "framework/sound_input/DXWave.h"
#include "platform/rtl/Streams.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void Put32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(std::uint8_t(v >> (8 * i)));
}
void PutId(Bytes& b, const char* id) {
  for (int i = 0; i < 4; ++i) b.push_back(std::uint8_t(id[i]));
}
void Chunk(Bytes& b, const char* id, const Bytes& body) {
  PutId(b, id);
  Put32(b, std::uint32_t(body.size()));
  b.insert(b.end(), body.begin(), body.end());
}
Bytes Riff(const Bytes& chunks) {
  Bytes b;
  PutId(b, "RIFF");
  Put32(b, std::uint32_t(chunks.size() + 4));
  PutId(b, "WAVE");
  b.insert(b.end(), chunks.begin(), chunks.end());
  return b;
}
Bytes FmtBody(int size = 16, int rate = 44100) {
  Bytes f = {1, 0, 1, 0};  // PCM, mono
  Put32(f, std::uint32_t(rate));
  Put32(f, std::uint32_t(rate * 2));
  f.insert(f.end(), {2, 0, 16, 0});
  f.resize(std::size_t(size), 0);
  return f;
}
Bytes Samples(int n) {
  Bytes s(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) s[std::size_t(i)] = std::uint8_t(i * 7 + 3);
  return s;
}

TMemoryStream* StreamOf(const Bytes& b) {
  auto* m = new TMemoryStream();
  if (!b.empty()) m->Write(b.data(), std::int64_t(b.size()));
  m->SetPosition(0);
  return m;
}

Bytes Load(TWave& w, const Bytes& file) {
  std::unique_ptr<TMemoryStream> m(StreamOf(file));
  w.LoadFromStream(m.get());
  return Bytes(w.Data(), w.Data() + w.Size());
}

Bytes Save(TWave& w) {
  TMemoryStream m;
  w.SaveToStream(&m);
  return Bytes(m.Memory(), m.Memory() + m.Size());
}

std::uint32_t At32(const Bytes& b, std::size_t off) {
  std::uint32_t v;
  std::memcpy(&v, b.data() + off, 4);
  return v;
}

TEST(TWave, SizeGrowsInBlocksOf8096) {
  TWave w;
  EXPECT_EQ(w.Data(), nullptr);
  w.SetSize(1);
  EXPECT_EQ(w.Capacity(), 8096);
  w.Data()[0] = 42;
  w.SetSize(8096);
  EXPECT_EQ(w.Capacity(), 8096);
  w.SetSize(8097);
  EXPECT_EQ(w.Capacity(), 16192);
  EXPECT_EQ(w.Data()[0], 42);  // kept across the reallocation
  w.SetSize(-3);
  EXPECT_EQ(w.Size(), 0);
  EXPECT_EQ(w.Capacity(), 0);
  EXPECT_EQ(w.Data(), nullptr);
  w.SetFormatSize(18);
  EXPECT_EQ(w.FormatSize(), 18);
  w.Clear();
  EXPECT_EQ(w.Format(), nullptr);
}

TEST(TWave, WritesTheFileLayoutAndReadsItBack) {
  TWave w;
  const Bytes fmt = FmtBody();
  const Bytes data = Samples(26594);
  Load(w, Riff([&] {
         Bytes c;
         Chunk(c, "fmt ", fmt);
         Chunk(c, "data", data);
         return c;
       }()));
  const Bytes file = Save(w);
  ASSERT_EQ(file.size(), 26638u);
  EXPECT_EQ(At32(file, 4), 26630u);
  EXPECT_EQ(At32(file, 16), 16u);
  EXPECT_EQ(At32(file, 40), 26594u);
  EXPECT_EQ(0, std::memcmp(file.data() + 44, data.data(), data.size()));

  TWave back;
  EXPECT_EQ(Load(back, file), data);
  EXPECT_EQ(back.FormatSize(), 16);
  EXPECT_EQ(0, std::memcmp(back.Format(), fmt.data(), 16));
}

TEST(TWave, ChunksInAnyOrderAndForeignChunksSkipped) {
  const Bytes data = Samples(1000);
  Bytes list;
  Chunk(list, "INFO", Samples(10));
  std::vector<Bytes> files;
  {
    Bytes c;  // data before fmt, with an 18-byte format block
    Chunk(c, "data", data);
    Chunk(c, "fmt ", FmtBody(18));
    files.push_back(Riff(c));
  }
  {
    Bytes c;  // foreign chunks between and after
    Chunk(c, "fmt ", FmtBody(18));
    Chunk(c, "LIST", list);
    Chunk(c, "fact", {1, 2, 3, 4});
    Chunk(c, "data", data);
    Chunk(c, "cue ", Samples(24));
    files.push_back(Riff(c));
  }
  {
    Bytes c;  // an odd-sized foreign chunk with its pad byte
    Chunk(c, "fmt ", FmtBody(18));
    Chunk(c, "odd ", Samples(5));
    c.push_back(0);
    Chunk(c, "data", data);
    files.push_back(Riff(c));
  }
  for (const Bytes& f : files) {
    TWave w;
    EXPECT_EQ(Load(w, f), data);
    EXPECT_EQ(w.FormatSize(), 18);
    // Written back, only fmt and data remain.
    const Bytes out = Save(w);
    EXPECT_EQ(out.size(), 12u + 8 + 18 + 8 + 1000);
  }
}

TEST(TWave, OddSizesAndShortFilesLoad) {
  TWave w;
  Bytes c;
  Chunk(c, "fmt ", FmtBody());
  Chunk(c, "data", Samples(7));
  EXPECT_EQ(Load(w, Riff(c)), Samples(7));
  EXPECT_EQ(Load(w, Save(w)), Samples(7));

  // An odd-sized format block written without a pad byte reads back as written.
  TWave odd;
  odd.SetFormatSize(17);
  std::memcpy(odd.Format(), FmtBody().data(), 16);
  odd.SetSize(3);
  std::memcpy(odd.Data(), Samples(3).data(), 3);
  TWave oddBack;
  EXPECT_EQ(Load(oddBack, Save(odd)), Samples(3));
  EXPECT_EQ(oddBack.FormatSize(), 17);

  // A file that ends right after "fmt " is a wave with a format and no samples.
  Bytes f;
  Chunk(f, "fmt ", FmtBody());
  EXPECT_TRUE(Load(w, Riff(f)).empty());
  EXPECT_EQ(w.FormatSize(), 16);
  EXPECT_EQ(w.Size(), 0);
  // A dangling part of a header at the end ends the walk too.
  Bytes g = Riff(f);
  g.insert(g.end(), {'d', 'a'});
  EXPECT_TRUE(Load(w, g).empty());
  EXPECT_EQ(w.FormatSize(), 16);

  // Nothing is written for a wave without samples or without format.
  EXPECT_TRUE(Save(w).empty());
  TWave noFormat;
  noFormat.SetSize(10);
  EXPECT_TRUE(Save(noFormat).empty());
}

TEST(TWave, DamagedFilesRaiseTheReadersErrors) {
  TWave w;
  Bytes c;
  Chunk(c, "fmt ", FmtBody());
  Chunk(c, "data", Samples(100));
  const Bytes good = Riff(c);

  Bytes notRiff = good;
  notRiff[0] = 'X';
  EXPECT_THROW(Load(w, notRiff), EWaveStreamError);
  Bytes notWave = good;
  notWave[8] = 'X';
  try {
    Load(w, notWave);
    FAIL();
  } catch (const EWaveStreamError& e) {
    EXPECT_STREQ(e.what(), "Wave is invalid");
  }
  EXPECT_THROW(Load(w, Bytes(good.begin(), good.begin() + 11)), EReadError);
  EXPECT_THROW(Load(w, Bytes()), EReadError);
  // Contents shorter than their size.
  EXPECT_THROW(Load(w, Bytes(good.begin(), good.begin() + 30)), EReadError);
  EXPECT_THROW(Load(w, Bytes(good.begin(), good.end() - 1)), EReadError);
  EXPECT_EQ(w.Size(), 0);
}

TEST(TWave, LyingSizesAreRefusedBeforeAnythingIsAllocated) {
  TWave w;
  for (std::uint32_t lie : {0x7FFFFFF0u, 0x80000000u, 0xFFFFFFF8u, 0xFFFFFFFFu}) {
    Bytes fmtLie;
    PutId(fmtLie, "fmt ");
    Put32(fmtLie, lie);
    fmtLie.resize(fmtLie.size() + 16);
    EXPECT_THROW(Load(w, Riff(fmtLie)), EReadError) << lie;

    Bytes dataLie;
    Chunk(dataLie, "fmt ", FmtBody());
    PutId(dataLie, "data");
    Put32(dataLie, lie);
    dataLie.resize(dataLie.size() + 64);
    EXPECT_THROW(Load(w, Riff(dataLie)), EReadError) << lie;
    EXPECT_EQ(w.Capacity(), 0);

    // A foreign chunk claiming more than there is only ends the walk; nothing walks backwards.
    Bytes skip;
    Chunk(skip, "fmt ", FmtBody());
    PutId(skip, "junk");
    Put32(skip, lie);
    Chunk(skip, "data", Samples(8));
    EXPECT_TRUE(Load(w, Riff(skip)).empty()) << lie;
    EXPECT_EQ(w.FormatSize(), 16);
  }
}

TEST(TWaveStream, PositionsRunOverTheSamplesOnly) {
  Bytes c;
  Chunk(c, "fmt ", FmtBody());
  Chunk(c, "data", Samples(100));
  Chunk(c, "tail", Samples(20));
  std::unique_ptr<TMemoryStream> m(StreamOf(Riff(c)));
  TWaveStream ws(m.get());
  std::uint8_t b[8];
  EXPECT_THROW(ws.ReadWave(b, 1), EWaveStreamError);
  // The public calls reach the raw ones even though nothing can move before opening.
  EXPECT_THROW(ws.Read(b, 4), EWaveStreamError);
  EXPECT_THROW(ws.Write(b, 4), EWaveStreamError);
  EXPECT_EQ(ws.GetSize(), 0);
  ws.Open(false);
  try {
    ws.Open(false);
    FAIL();
  } catch (const EWaveStreamError& e) {
    EXPECT_STREQ(e.what(), "Stream is already open");
  }
  EXPECT_EQ(ws.GetSize(), 100);
  EXPECT_EQ(ws.Seek(-5, soFromBeginning), 0);
  EXPECT_EQ(ws.Seek(500, soFromBeginning), 100);
  EXPECT_EQ(ws.Seek(-4, soFromEnd), 96);
  EXPECT_EQ(ws.Read(b, 8), 4);
  EXPECT_EQ(b[0], Samples(100)[96]);
  EXPECT_EQ(ws.Read(b, 8), 0);

  // Writing through a stream opened for reading overwrites in place, never past the data.
  ws.Seek(98, soFromBeginning);
  const std::uint8_t w[6] = {9, 9, 9, 9, 9, 9};
  EXPECT_EQ(ws.Write(w, 6), 2);
  EXPECT_EQ(m->Size(), std::int64_t(c.size() + 12));
  EXPECT_EQ(m->Memory()[44 + 99], 9);
  EXPECT_EQ(m->Memory()[44 + 100 + 8], Samples(20)[0]);  // the next chunk is untouched
}

TEST(TWaveStream, WriterNeedsAFormatAndFinishesOnItsOwn) {
  TMemoryStream m;
  {
    TWaveStream ws(&m);
    try {
      ws.Open(true);
      FAIL();
    } catch (const EWaveStreamError& e) {
      EXPECT_STREQ(e.what(), "Format is invalid");
    }
  }
  EXPECT_EQ(m.Size(), 0);

  // The file starts where the stream stood; freeing the writer patches the sizes.
  m.Write("abc", 3);
  {
    TWaveStream ws(&m);
    ws.SetFormatSize(16);
    std::memcpy(ws.GetFormat(), FmtBody().data(), 16);
    ws.Open(true);
    const Bytes s = Samples(10);
    ws.WriteBuffer(s.data(), 10);
    EXPECT_EQ(ws.GetSize(), 10);
  }
  ASSERT_EQ(m.Size(), 3 + 44 + 10);
  Bytes file(m.Memory() + 3, m.Memory() + m.Size());
  EXPECT_EQ(At32(file, 4), 36u + 10);
  EXPECT_EQ(At32(file, 40), 10u);
  m.SetPosition(3);
  TWave w;
  w.LoadFromStream(&m);
  EXPECT_EQ(Bytes(w.Data(), w.Data() + w.Size()), Samples(10));
}

// A stream that refuses every write once told to.
class BrittleStream : public TMemoryStream {
 public:
  std::int64_t Write(const void* Buffer, std::int64_t Count) override {
    return broken ? 0 : TMemoryStream::Write(Buffer, Count);
  }
  bool broken = false;
};

TEST(TWaveStream, AFailingFinishNeverEscapesTheDestructor) {
  BrittleStream m;
  {
    TWaveStream ws(&m);
    ws.SetFormatSize(16);
    ws.Open(true);
    m.broken = true;
  }  // FinishWrite fails here and is swallowed
  TWave w;
  w.SetFormatSize(16);
  w.SetSize(4);
  BrittleStream m2;
  m2.broken = true;
  EXPECT_THROW(w.SaveToStream(&m2), EWriteError);
}

TEST(TWave, AssignCopiesAndEmptyStoredValuesReadAsEmptyWaves) {
  TWave a;
  Bytes c;
  Chunk(c, "fmt ", FmtBody());
  Chunk(c, "data", Samples(50));
  Load(a, Riff(c));
  TWave b;
  b.Assign(&a);
  EXPECT_EQ(Bytes(b.Data(), b.Data() + b.Size()), Samples(50));
  EXPECT_EQ(b.FormatSize(), 16);
  b.Assign(&b);
  EXPECT_EQ(b.Size(), 50);
  b.Assign(nullptr);
  EXPECT_EQ(b.Size(), 0);
  EXPECT_EQ(b.FormatSize(), 0);
  struct NotAWave : TPersistent {
  } notAWave;
  EXPECT_THROW(b.Assign(&notAWave), EConvertError);

  // The stored binary property "WAVE": the whole file, and an empty value for an empty wave.
  TPropertyDefs defs;
  a.DefineProperties(defs);
  const TPropInfo* p = defs.Find("WAVE");
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->Kind, TPropKind::Binary);
  TMemoryStream stored;
  p->WriteData(&stored);
  EXPECT_EQ(stored.Size(), 44 + 50);
  stored.SetPosition(0);
  TWave c2;
  TPropertyDefs defs2;
  c2.DefineProperties(defs2);
  defs2.Find("WAVE")->ReadData(&stored);
  EXPECT_EQ(Bytes(c2.Data(), c2.Data() + c2.Size()), Samples(50));

  TMemoryStream empty;
  TWave e;
  TPropertyDefs defs3;
  e.DefineProperties(defs3);
  defs3.Find("WAVE")->WriteData(&empty);
  EXPECT_EQ(empty.Size(), 0);
  c2.ReadData(&empty);
  EXPECT_EQ(c2.Size(), 0);
  EXPECT_EQ(c2.FormatSize(), 0);
}

}  // namespace
