#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <limits>

#include "platform/backend/HeadlessBackend.h"
#include "platform/rtl/SysUtils.h"

TEST(Format, IntegersStringsAndWidths) {
  EXPECT_EQ(Format("%s not made", {"DirectDraw"}), "DirectDraw not made");
  EXPECT_EQ(Format("Display mode cannot be changed (%dx%d %dbit)", {640, 480, 16}),
            "Display mode cannot be changed (640x480 16bit)");
  EXPECT_EQ(Format("debug#%.5d ... %s", {42, "msg"}), "debug#00042 ... msg");
  EXPECT_EQ(Format("%.5d", {123456}), "123456");
  EXPECT_EQ(Format("%.5d", {-42}), "-00042");
  EXPECT_EQ(Format("[%5d|%-5d]", {42, 42}), "[   42|42   ]");
  EXPECT_EQ(Format("[%*d]", {4, 7}), "[   7]");
  EXPECT_EQ(Format("%.3s", {"abcdef"}), "abc");
  EXPECT_EQ(Format("%1:s %0:s %s", {"a", "b"}), "b a b");
  EXPECT_EQ(Format("100%%", {}), "100%");
  EXPECT_EQ(Format("%d", {INT64_MIN}), "-9223372036854775808");
}

TEST(Format, HexIsUpperCaseAndIntegersAre32BitPatterns) {
  EXPECT_EQ(Format("(Error Code(%x))", {static_cast<std::int32_t>(0x80004005u)}),
            "(Error Code(80004005))");
  EXPECT_EQ(Format("%X %x", {255, 0xabc}), "FF ABC");
  EXPECT_EQ(Format("%.4x", {10}), "000A");
  EXPECT_EQ(Format("%u", {-1}), "4294967295");
  EXPECT_EQ(Format("%x", {std::int64_t{1} << 40}), "10000000000");
}

TEST(Format, FloatingPoint) {
  EXPECT_EQ(Format("%f", {1.5}), "1.50");
  EXPECT_EQ(Format("%.1f", {0.25}), "0.2");  // halves go to even
  EXPECT_EQ(Format("%n", {1234567.891}), "1,234,567.89");
  EXPECT_EQ(Format("%e", {1.0}), "1.00000000000000E+000");
  EXPECT_EQ(Format("%.3e", {-1234.5}), "-1.23E+003");
  EXPECT_EQ(Format("%g", {0.5}), "0.5");
  EXPECT_EQ(Format("%g", {100.0}), "100");
  EXPECT_EQ(Format("%g", {1e20}), "1E20");
  EXPECT_EQ(Format("%g", {1.5e-7}), "1.5E-7");
  EXPECT_EQ(Format("%f", {std::numeric_limits<double>::quiet_NaN()}), "NAN");
  EXPECT_EQ(Format("%g", {-std::numeric_limits<double>::infinity()}), "-INF");
}

TEST(Format, BadDirectivesAndArgumentsRaiseEConvertError) {
  EXPECT_THROW(Format("%d", {}), EConvertError);
  EXPECT_THROW(Format("%d", {"text"}), EConvertError);
  EXPECT_THROW(Format("%s", {5}), EConvertError);
  EXPECT_THROW(Format("%f", {5}), EConvertError);
  EXPECT_THROW(Format("%q", {5}), EConvertError);
  EXPECT_THROW(Format("50%", {}), EConvertError);
  EXPECT_THROW(Format("%999999999d", {1}), EConvertError);
  EXPECT_THROW(Format("%*d", {"x", 1}), EConvertError);
  try {
    Format("%d", {});
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message, "No argument for format '%d'");
  }
  // User text as an argument is never interpreted.
  EXPECT_EQ(Format("%s", {"%s%d%n"}), "%s%d%n");
}

TEST(IntConversions, IntToStrAndIntToHex) {
  EXPECT_EQ(IntToStr(-15), "-15");
  EXPECT_EQ(IntToStr(0), "0");
  EXPECT_EQ(IntToHex(255, 4), "00FF");
  EXPECT_EQ(IntToHex(-1, 2), "FFFFFFFF");
  EXPECT_EQ(IntToHex(0, 0), "0");
}

TEST(IntConversions, StrToIntDefFollowsTheFieldRules) {
  struct Case {
    const char* text;
    std::int32_t expect;
  };
  const Case cases[] = {
      {"1500", 1500},
      {"  1500", 1500},  // leading blanks
      {"+7", 7},
      {"-7", -7},
      {"$5DC", 1500},  // hex prefixes
      {"x5dc", 1500},
      {"X5DC", 1500},
      {"0x5DC", 1500},
      {"0X5dc", 1500},
      {"-$10", 16},       // a sign has no effect on hex
      {"$FFFFFFFF", -1},  // hex is a 32-bit pattern
      {"$80000000", INT32_MIN},
      {"$000000001", 1},  // leading zeros do not count against the width
      {"2147483647", INT32_MAX},
      {"-2147483648", INT32_MIN},
      {"0000000000012", 12},
      {"0", 0},
      {"-0", 0},
      // Everything else gives the default.
      {"", -99},
      {" ", -99},
      {"2147483648", -99},
      {"-2147483649", -99},
      {"99999999999999999999", -99},
      {"$100000000", -99},
      {"$", -99},
      {"0x", -99},
      {"x", -99},
      {"+", -99},
      {"-", -99},
      {"12 ", -99},   // trailing blank
      {"\t12", -99},  // only byte 32 is a leading blank
      {"12a", -99},
      {"abc", -99},
      {"1 2", -99},
      {"+-1", -99},
      {"$G", -99},
      {"0x-1", -99},
  };
  for (const Case& c : cases) EXPECT_EQ(StrToIntDef(c.text, -99), c.expect) << '"' << c.text << '"';
  EXPECT_EQ(StrToInt("$10"), 16);
  try {
    StrToInt("1.5");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message, "'1.5' is not a valid integer value");
  }
}

TEST(TextCase, AsciiRulesOnly) {
  EXPECT_EQ(UpperCase("abc\xC3\xA9z"), "ABC\xC3\xA9Z");
  EXPECT_EQ(LowerCase("SNARE_1"), "snare_1");
  EXPECT_EQ(AnsiCompareText("Snare", "SNARE"), 0);
  EXPECT_LT(AnsiCompareText("abc", "ABD"), 0);
  EXPECT_GT(AnsiCompareText("b", "A"), 0);
  EXPECT_LT(AnsiCompareText("ab", "abc"), 0);
  // Bytes above 127 compare as unsigned, after all ASCII.
  EXPECT_GT(CompareText("\xE3", "z"), 0);
  EXPECT_TRUE(SameText("Bass", "bASS"));
  EXPECT_NE(CompareStr("a", "A"), 0);
  EXPECT_EQ(Trim(" \t x y \r\n"), "x y");
}

TEST(RoundTrunc, HalvesToEvenAndRangeChecked) {
  EXPECT_EQ(Round(0.5), 0);
  EXPECT_EQ(Round(1.5), 2);
  EXPECT_EQ(Round(2.5), 2);
  EXPECT_EQ(Round(-0.5), 0);
  EXPECT_EQ(Round(-1.5), -2);
  EXPECT_EQ(Round(2.4999), 2);
  EXPECT_EQ(Trunc(-2.9), -2);
  EXPECT_EQ(Trunc(2.9), 2);
  EXPECT_EQ(Round(-9223372036854775808.0L), INT64_MIN);
  EXPECT_THROW(Round(std::nan("")), EInvalidOp);
  EXPECT_THROW(Trunc(std::numeric_limits<double>::infinity()), EInvalidOp);
  EXPECT_THROW(Round(9223372036854775808.0L), EInvalidOp);
  EXPECT_THROW(Trunc(-1e30), EInvalidOp);
}

TEST(RandomNumbers, SeededSequenceAndRanges) {
  RandSeed = 0;
  EXPECT_EQ(Random(1 << 16), static_cast<std::int32_t>(1013904223u >> 16));
  EXPECT_EQ(RandSeed, 1013904223u);
  RandSeed = 12345;
  std::vector<int> first;
  for (int i = 0; i < 5; ++i) first.push_back(Random(100));
  RandSeed = 12345;
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Random(100), first[i]);

  int counts[3] = {};
  for (int i = 0; i < 3000; ++i) {
    const int r = Random(3);
    ASSERT_GE(r, 0);
    ASSERT_LT(r, 3);
    ++counts[r];
  }
  for (int c : counts) EXPECT_GT(c, 800);
  EXPECT_EQ(Random(0), 0);
  EXPECT_EQ(Random(-5), 0);
  for (int i = 0; i < 100; ++i) {
    const double d = Random();
    ASSERT_GE(d, 0.0);
    ASSERT_LT(d, 1.0);
  }
}

TEST(RandomNumbers, RandomizeRepeatsOnTheVirtualClock) {
  backend::HeadlessBackend& hb = backend::HeadlessBackend::InstallFresh(5000);
  hb.Advance(123);
  Randomize();
  EXPECT_EQ(RandSeed, 5123u);
  const int a = Random(1000);
  backend::HeadlessBackend::InstallFresh(5000).Advance(123);
  Randomize();
  EXPECT_EQ(Random(1000), a);
}

TEST(FileNames, PartsOfAPath) {
  EXPECT_EQ(ExtractFilePath("/opt/game/ProjectMorvane"), "/opt/game/");
  EXPECT_EQ(ExtractFilePath("C:\\Game\\Score\\a.txt"), "C:\\Game\\Score\\");
  EXPECT_EQ(ExtractFilePath("a.txt"), "");
  EXPECT_EQ(ExtractFileDir("/opt/game/x"), "/opt/game");
  EXPECT_EQ(ExtractFileDir("/x"), "/");
  EXPECT_EQ(ExtractFileName("/dir/Score\\song.txt"), "song.txt");
  EXPECT_EQ(ExtractFileExt("/dir/song.txt"), ".txt");
  EXPECT_EQ(ExtractFileExt("/dir.d/song"), "");
  EXPECT_EQ(ChangeFileExt("/x/Score/song.txt", ".mp3"), "/x/Score/song.mp3");
  EXPECT_EQ(ChangeFileExt("song", ".mp3"), "song.mp3");  // appended when there is none
  EXPECT_EQ(ChangeFileExt("a.b.c", ".mp3"), "a.b.mp3");
  EXPECT_EQ(ChangeFileExt("dir.d\\song", ".mp3"), "dir.d\\song.mp3");
  EXPECT_EQ(NativePathName("AppDir/Score\\a.txt"), "AppDir/Score/a.txt");
}

TEST(Files, ExistsDeleteRenameAndTheProgramsFolder) {
  std::string dir = ::testing::TempDir() + "sysutils_XXXXXX";
  ASSERT_NE(::mkdtemp(dir.data()), nullptr);
  dir += "/";
  const std::string a = dir + "a.txt", b = dir + "b.txt";
  EXPECT_FALSE(FileExists(a));
  FILE* f = std::fopen(a.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_TRUE(FileExists(a));
  EXPECT_TRUE(FileExists(dir + "\\a.txt"));
  EXPECT_FALSE(FileExists(dir));  // a folder is no file
  EXPECT_TRUE(DirectoryExists(dir));
  EXPECT_TRUE(RenameFile(a, b));
  EXPECT_FALSE(FileExists(a));
  // Renaming onto an existing file fails and loses neither.
  f = std::fopen(a.c_str(), "w");
  std::fclose(f);
  EXPECT_FALSE(RenameFile(a, b));
  EXPECT_TRUE(FileExists(a));
  EXPECT_TRUE(FileExists(b));
  EXPECT_TRUE(DeleteFile(a));
  EXPECT_FALSE(DeleteFile(a));
  EXPECT_FALSE(DeleteFile(dir));

  const std::string exe = ParamStr(0);
  EXPECT_EQ(exe.front(), '/');
  EXPECT_TRUE(FileExists(exe));
  EXPECT_EQ(ExtractFileName(exe), "tests_platform");
  EXPECT_EQ(ParamStr(1), "");
}
