#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/rtl/Streams.h"
#include "platform/rtl/SysUtils.h"

namespace {

std::string TempDir() {
  std::string tmpl = ::testing::TempDir() + "streams_XXXXXX";
  char* d = ::mkdtemp(tmpl.data());
  EXPECT_NE(d, nullptr);
  return tmpl + "/";
}

std::string ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

int FolderEntries(const std::string& dir) {
  int n = 0;
  DIR* d = ::opendir(dir.c_str());
  while (dirent* e = ::readdir(d))
    if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") ++n;
  ::closedir(d);
  return n;
}

}  // namespace

TEST(MemoryStream, ReadReturnsWhatIsThereWhileReadBufferDemandsAll) {
  TMemoryStream s;
  s.WriteBuffer("abcdef", 6);
  s.SetPosition(4);
  char buf[8] = {};
  EXPECT_EQ(s.Read(buf, 8), 2);
  EXPECT_EQ(std::string(buf, 2), "ef");
  EXPECT_EQ(s.Read(buf, 8), 0);

  s.SetPosition(4);
  EXPECT_THROW(s.ReadBuffer(buf, 3), EReadError);
  s.SetPosition(0);
  EXPECT_NO_THROW(s.ReadBuffer(buf, 6));
  EXPECT_EQ(std::string(buf, 6), "abcdef");
  EXPECT_THROW(s.ReadBuffer(buf, -1), EReadError);
}

TEST(MemoryStream, SeekOriginsSizeAndWritingPastTheEnd) {
  TMemoryStream s;
  s.WriteBuffer("0123456789", 10);
  EXPECT_EQ(s.Seek(-3, soFromEnd), 7);
  EXPECT_EQ(s.Seek(1, soFromCurrent), 8);
  EXPECT_EQ(s.Seek(2, soFromBeginning), 2);
  EXPECT_THROW(s.Seek(0, 7), EStreamError);

  // A write past the end fills the gap with zeros.
  s.SetPosition(12);
  s.WriteByte('x');
  EXPECT_EQ(s.Size(), 13);
  EXPECT_EQ(s.Memory()[10], 0);
  EXPECT_EQ(s.Memory()[11], 0);
  EXPECT_EQ(s.Memory()[12], 'x');

  // Shrinking pulls the position back with it.
  s.SetSize(5);
  EXPECT_EQ(s.Position(), 5);
  EXPECT_THROW(s.SetSize(-1), EStreamError);

  // A negative position reads and writes nothing (and so the exact forms fail).
  s.Seek(-10, soFromBeginning);
  char c;
  EXPECT_EQ(s.Read(&c, 1), 0);
  EXPECT_THROW(s.WriteBuffer("a", 1), EWriteError);
  s.Clear();
  EXPECT_EQ(s.Size(), 0);
  EXPECT_EQ(s.Position(), 0);
}

TEST(MemoryStream, HugeSizeIsAnErrorNotACrash) {
  TMemoryStream s;
  EXPECT_THROW(s.SetSize(INT64_MAX), EOutOfMemory);
  EXPECT_EQ(s.Size(), 0);
}

TEST(Stream, LittleEndianValues) {
  TMemoryStream s;
  s.WriteByte(0x01);
  s.WriteWord(0x0302);
  s.WriteDWord(0x07060504);
  s.WriteInteger(-2);
  s.WriteSmallInt(-3);
  ASSERT_EQ(s.Size(), 13);
  const std::uint8_t expect[] = {1, 2, 3, 4, 5, 6, 7, 0xFE, 0xFF, 0xFF, 0xFF, 0xFD, 0xFF};
  EXPECT_EQ(std::memcmp(s.Memory(), expect, sizeof expect), 0);
  s.SetPosition(0);
  EXPECT_EQ(s.ReadByte(), 1);
  EXPECT_EQ(s.ReadWord(), 0x0302);
  EXPECT_EQ(s.ReadDWord(), 0x07060504u);
  EXPECT_EQ(s.ReadInteger(), -2);
  EXPECT_EQ(s.ReadSmallInt(), -3);
  EXPECT_THROW(s.ReadByte(), EReadError);
}

TEST(Stream, CopyFrom) {
  TMemoryStream src, dst;
  src.WriteBuffer("hello world", 11);
  src.SetPosition(6);
  EXPECT_EQ(dst.CopyFrom(&src, 5), 5);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(dst.Memory()), 5), "world");
  // Count 0: the whole source from its start.
  TMemoryStream all;
  EXPECT_EQ(all.CopyFrom(&src, 0), 11);
  EXPECT_EQ(all.Size(), 11);
  // More than the source holds is a read error.
  src.SetPosition(8);
  EXPECT_THROW(all.CopyFrom(&src, 5), EReadError);
}

TEST(BoundedStream, SeesOnlyItsRange) {
  TMemoryStream base;
  base.WriteBuffer("AAAAbbbbCCCC", 12);
  TBoundedStream view(&base, 4, 4);
  EXPECT_EQ(view.Size(), 4);
  EXPECT_EQ(view.Position(), 0);
  char buf[16] = {};
  EXPECT_EQ(view.Read(buf, 16), 4);
  EXPECT_EQ(std::string(buf, 4), "bbbb");
  EXPECT_EQ(view.Read(buf, 1), 0);
  view.SetPosition(2);
  EXPECT_THROW(view.ReadBuffer(buf, 3), EReadError);

  // Writing stops at the range's end; the neighbours stay untouched.
  view.SetPosition(2);
  EXPECT_EQ(view.Write("xyz", 3), 2);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(base.Memory()), 12), "AAAAbbxyCCCC");
  EXPECT_THROW(view.SetSize(10), EStreamError);

  // A range that reaches past the base's end reads short rather than past it.
  TBoundedStream past(&base, 10, 8);
  EXPECT_EQ(past.Read(buf, 8), 2);

  // Views over one base interleave: each seeks the base for itself.
  TBoundedStream a(&base, 0, 4), c(&base, 8, 4);
  EXPECT_EQ(a.ReadByte(), 'A');
  EXPECT_EQ(c.ReadByte(), 'C');
  EXPECT_EQ(a.ReadByte(), 'A');
}

TEST(FileStream, OpenCreateAndErrorsNameTheFile) {
  const std::string dir = TempDir();
  const std::string name = dir + "data.bin";
  {
    TFileStream f(name, fmCreate);
    f.WriteDWord(0xAABBCCDD);
    f.WriteBuffer("xyz", 3);
    EXPECT_EQ(f.Size(), 7);
    f.Close();
  }
  {
    TFileStream f(name, fmOpenRead | fmShareDenyWrite);
    EXPECT_EQ(f.ReadDWord(), 0xAABBCCDDu);
    char buf[8];
    EXPECT_EQ(f.Read(buf, 8), 3);
    EXPECT_EQ(f.Seek(-2, soFromEnd), 5);
    EXPECT_EQ(f.ReadByte(), 'y');
    // A stream opened for reading cannot be written.
    EXPECT_THROW(f.WriteByte(1), EWriteError);
  }
  {
    TFileStream f(name, fmOpenReadWrite);
    f.SetSize(2);
    EXPECT_EQ(f.Size(), 2);
  }
  try {
    TFileStream f(dir + "missing.bin", fmOpenRead);
    FAIL() << "opened a missing file";
  } catch (const EFOpenError& e) {
    EXPECT_NE(e.Message.find("Cannot open file \"" + dir + "missing.bin\""), std::string::npos)
        << e.Message;
  }
  EXPECT_THROW(TFileStream(dir + "no/such/folder.bin", fmCreate), EFCreateError);
  // A folder is no file.
  EXPECT_THROW(TFileStream(dir, fmOpenRead), EFOpenError);
}

TEST(FileStream, BackslashesInNamesAreFolders) {
  const std::string dir = TempDir();
  ASSERT_EQ(::mkdir((dir + "Score").c_str(), 0755), 0);
  {
    TFileStream f(dir + "Score\\a.txt", fmCreate);
    f.WriteBuffer("1", 1);
  }
  EXPECT_EQ(ReadAll(dir + "Score/a.txt"), "1");
  TMemoryStream m;
  m.LoadFromFile(dir + "Score\\a.txt");
  EXPECT_EQ(m.Size(), 1);
}

TEST(MemoryStream, SaveToFileReplacesWholeOrNotAtAll) {
  const std::string dir = TempDir();
  const std::string name = dir + "out.bin";
  TMemoryStream m;
  m.WriteBuffer("first", 5);
  m.SaveToFile(name);
  EXPECT_EQ(ReadAll(name), "first");
  m.Clear();
  m.WriteBuffer("2", 1);
  m.SaveToFile(name);
  EXPECT_EQ(ReadAll(name), "2");
  EXPECT_EQ(FolderEntries(dir), 1);  // no scratch file left behind

  // A name that is a folder cannot be written, and the folder stays.
  EXPECT_THROW(m.SaveToFile(dir), EFCreateError);
  EXPECT_THROW(m.SaveToFile(dir + "nowhere/x.bin"), EFCreateError);

  // Loading keeps the old contents when the file cannot be read.
  EXPECT_THROW(m.LoadFromFile(dir + "missing"), EFOpenError);
  EXPECT_EQ(m.Size(), 1);
}

TEST(MemoryStream, AFailedWriteLeavesTheOldFile) {
  const std::string dir = TempDir();
  const std::string name = dir + "chart.txt";
  TMemoryStream m;
  m.WriteBuffer("old", 3);
  m.SaveToFile(name);
  // Make every file write past 16 bytes fail, as a full disk would.
  rlimit saved;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 16;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  TMemoryStream big;
  big.SetSize(4096);
  bool raised = false;
  try {
    big.SaveToFile(name);
  } catch (const EWriteError&) {
    raised = true;
  }
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, oldHandler);
  EXPECT_TRUE(raised);
  EXPECT_EQ(ReadAll(name), "old");
  EXPECT_EQ(FolderEntries(dir), 1);
}
