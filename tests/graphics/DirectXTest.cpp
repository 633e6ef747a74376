#include <gtest/gtest.h>

#include "framework/graphics/DXConsts.h"
#include "framework/graphics/DirectX.h"
#include "platform/dsound/DSound.h"
#include "platform/rtl/SysUtils.h"

namespace {
int FakeEntryA() { return 1; }
int FakeEntryB() { return 2; }

std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Exception& e) {
    return std::string(e.ClassName()) + ": " + e.Message;
  }
  return "no exception";
}

// Takes the libraries a test made up out again when it ends, and empties the entry cache it
// filled, so that every test meets the libraries and the cache as if it ran first.
struct ForgetMadeUpLibraries {
  ~ForgetMadeUpLibraries() {
    FreeLibraryCache();
    for (const char* name : {"CaseTest.dll", "Present.dll", "Later.dll", "Released.dll"})
      UnregisterLibrary(name);
  }
};

}  // namespace

TEST(GetLibraryEntry, BindsOurStandInsByName) {
  auto create = BindLibraryEntry<decltype(DirectSoundCreate)>("DSound.dll", "DirectSoundCreate");
  EXPECT_EQ(create, &DirectSoundCreate);
}

TEST(GetLibraryEntry, NamesDifferingInCaseLoadTheLibraryOnce) {
  const ForgetMadeUpLibraries forget;
  RegisterLibraryEntry("CaseTest.DLL", "EntryA", &FakeEntryA);
  const int before = LibraryLoadCount("casetest.dll");
  auto a = BindLibraryEntry<int()>("CaseTest.DLL", "EntryA");
  auto b = BindLibraryEntry<int()>("casetest.dll", "EntryA");
  EXPECT_EQ(a(), 1);
  EXPECT_EQ(a, b);
  EXPECT_EQ(LibraryLoadCount("CASETEST.dll") - before, 1);
}

TEST(GetLibraryEntry, FailuresNameTheLibraryAndMissingLibrariesAreRetried) {
  const ForgetMadeUpLibraries forget;
  RegisterLibraryEntry("Present.dll", "EntryA", &FakeEntryA);
  // A missing entry point names the library, not the entry point; the library stays cached.
  EXPECT_EQ(MessageOf([] { GetLibraryEntry("Present.dll", "NoSuchEntry"); }),
            "Exception: Present.dll is not loaded");
  const int cached = LibraryCacheCount();
  EXPECT_EQ(MessageOf([] { GetLibraryEntry("Present.dll", "NoSuchEntry"); }),
            "Exception: Present.dll is not loaded");
  EXPECT_EQ(LibraryCacheCount(), cached);
  EXPECT_EQ(LibraryLoadCount("Present.dll"), 1);

  // A library that cannot be loaded is not cached, so a later call tries again.
  EXPECT_EQ(MessageOf([] { GetLibraryEntry("Later.dll", "EntryB"); }),
            "Exception: Later.dll is not loaded");
  EXPECT_EQ(LibraryCacheCount(), cached);
  RegisterLibraryEntry("Later.dll", "EntryB", &FakeEntryB);
  EXPECT_EQ(BindLibraryEntry<int()>("Later.dll", "EntryB")(), 2);
  EXPECT_EQ(LibraryCacheCount(), cached + 1);

  // The error is the plain Exception class: a handler for the DirectX errors would not see it.
  try {
    GetLibraryEntry("Nowhere.dll", "X");
  } catch (const Exception& e) {
    EXPECT_STREQ(e.ClassName(), "Exception");
  }
}

TEST(GetLibraryEntry, FreeingTheCacheReleasesEveryModule) {
  const ForgetMadeUpLibraries forget;
  RegisterLibraryEntry("Released.dll", "EntryA", &FakeEntryA);
  GetLibraryEntry("Released.dll", "EntryA");
  EXPECT_EQ(LibraryRefCount("Released.dll"), 1);
  FreeLibraryCache();
  EXPECT_EQ(LibraryCacheCount(), 0);
  EXPECT_EQ(LibraryRefCount("Released.dll"), 0);
  // Binding again after the shut-down simply loads anew.
  EXPECT_EQ(BindLibraryEntry<int()>("Released.dll", "EntryA")(), 1);
  EXPECT_EQ(LibraryRefCount("Released.dll"), 1);
}

TEST(LoadDirectXLibraries, SkipsMissingLibrariesSilently) {
  // It has already run at start-up; run it again from scratch.
  FreeDirectXLibraries();
  const int dsound = LibraryRefCount("DSound.dll");
  EXPECT_NO_THROW(LoadDirectXLibraries());
  EXPECT_EQ(LibraryRefCount("DSound.dll"), dsound + 1);
  EXPECT_EQ(LibraryLoadCount("DPlayX.dll"), 0);  // none of ours; skipped
  LoadDirectXLibraries();                        // once only
  EXPECT_EQ(LibraryRefCount("DSound.dll"), dsound + 1);
  FreeDirectXLibraries();
  EXPECT_EQ(LibraryRefCount("DSound.dll"), dsound);
  EXPECT_FALSE(IsRunningInsideIDE());
}

TEST(Libraries, HandlesOfTakenOutLibrariesFindNothing) {
  RegisterLibraryEntry("Gone.dll", "EntryA", &FakeEntryA);
  HMODULE h = LoadLibrary("GONE.DLL");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(GetProcAddress(h, "entrya"), nullptr);  // entry names are case-sensitive
  UnregisterLibrary("gone.dll");
  EXPECT_EQ(GetProcAddress(h, "EntryA"), nullptr);
  EXPECT_EQ(LoadLibrary("Gone.dll"), nullptr);
  EXPECT_TRUE(FreeLibrary(h));
  EXPECT_FALSE(FreeLibrary(h));  // no loads left to give back
  EXPECT_FALSE(FreeLibrary(nullptr));
}
