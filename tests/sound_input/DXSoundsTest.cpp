// The sound component and the sound list on a form, heard through the headless backend.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "framework/graphics/DirectX.h"
#include "framework/sound_input/DXSounds.h"
#include "platform/backend/HeadlessBackend.h"
#include "platform/dsound/DSound.h"
#include "platform/forms/Forms.h"

namespace {

using backend::HeadlessBackend;

// A whole RIFF-less wave: mono 16-bit PCM at `rate`, every sample `value` (or a ramp).
void FillWave(TWave* w, int frames, int value, int rate = 44100, int tag = 1) {
  w->SetFormatSize(16);
  WAVEFORMATEX f{};
  f.wFormatTag = WORD(tag);
  f.nChannels = 1;
  f.nSamplesPerSec = DWORD(rate);
  f.nAvgBytesPerSec = DWORD(rate * 2);
  f.nBlockAlign = 2;
  f.wBitsPerSample = 16;
  std::memcpy(w->Format(), &f, 16);
  w->SetSize(frames * 2);
  auto* s = reinterpret_cast<std::int16_t*>(w->Data());
  for (int i = 0; i < frames; ++i) s[i] = std::int16_t(value);
}

// Records what a notify handler is told.
struct Recorder {
  void Handler(TCustomDXSound* Sender, TDXSoundNotifyKind Kind) {
    kinds.push_back(Kind);
    if (Kind == raiseOn) throw Exception("handler failed");
    if (Kind == removeOn) Sender->RemoveNotifyHandler(Event());
  }
  TDXSoundNotifyEvent Event() { return TDXSoundNotifyEvent(this, &Recorder::Handler); }
  std::vector<TDXSoundNotifyKind> kinds;
  int raiseOn = -1;
  int removeOn = -1;
};

class DXSoundsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hb = &HeadlessBackend::InstallFresh();
    form = new TForm(nullptr);
    form->SetVisible(true);
    sound = new TDXSound(form);
    list = new TDXWaveList(form);
    hb->ClearAudio();
  }
  void TearDown() override {
    form->Free();
    dsound::SetCreateFailure(DS_OK);
    EXPECT_EQ(dsound::LiveBufferCount(), 0);
  }

  TWaveCollectionItem* AddSound(const std::string& name, int frames, int value) {
    auto* item = static_cast<TWaveCollectionItem*>(list->Items()->Add());
    item->SetName(name);
    FillWave(item->Wave(), frames, value);
    return item;
  }

  std::vector<std::int16_t> Listen(std::uint32_t ms) {
    hb->Advance(ms);
    return hb->TakeAudio();
  }

  HeadlessBackend* hb = nullptr;
  TForm* form = nullptr;
  TDXSound* sound = nullptr;
  TDXWaveList* list = nullptr;
};

TEST_F(DXSoundsTest, StartsAndStopsWithItsHandlersAndEvents) {
  std::vector<std::string> events;
  sound->OnInitializing = [&](TObject*) { events.push_back("initializing"); };
  sound->OnInitialize = [&](TObject*) { events.push_back("initialize"); };
  sound->OnRestore = [&](TObject*) { events.push_back("restore"); };
  sound->OnFinalize = [&](TObject*) { events.push_back("finalize"); };
  Recorder r;
  sound->Finalize();  // never started: nothing at all
  sound->AddNotifyHandler(r.Event());
  EXPECT_TRUE(r.kinds.empty());

  sound->Initialize();
  EXPECT_TRUE(sound->Initialized());
  ASSERT_NE(sound->DSound(), nullptr);
  ASSERT_NE(sound->Primary(), nullptr);
  EXPECT_EQ(sound->Form(), form);
  EXPECT_EQ(r.kinds, (std::vector<TDXSoundNotifyKind>{snInitializing, snInitialize, snRestore}));
  EXPECT_EQ(events, (std::vector<std::string>{"initializing", "initialize", "restore"}));
  // The primary buffer answers the format size query without a format of its own.
  EXPECT_EQ(sound->Primary()->FormatSize(), 18);

  r.kinds.clear();
  events.clear();
  sound->Initialize();  // a second start stops first
  EXPECT_EQ(r.kinds,
            (std::vector<TDXSoundNotifyKind>{snFinalize, snInitializing, snInitialize, snRestore}));
  EXPECT_EQ(events,
            (std::vector<std::string>{"finalize", "initializing", "initialize", "restore"}));

  // Adding the same handler again keeps one entry and replays the state.
  r.kinds.clear();
  const int count = sound->NotifyCount();
  sound->AddNotifyHandler(r.Event());
  EXPECT_EQ(sound->NotifyCount(), count);
  EXPECT_EQ(r.kinds, (std::vector<TDXSoundNotifyKind>{snFinalize, snInitialize, snRestore}));

  r.kinds.clear();
  sound->Finalize();
  EXPECT_FALSE(sound->Initialized());
  EXPECT_EQ(sound->DSound(), nullptr);
  EXPECT_EQ(r.kinds, (std::vector<TDXSoundNotifyKind>{snFinalize}));
  sound->RemoveNotifyHandler(r.Event());
}

TEST_F(DXSoundsTest, FailedStartsLeaveTheComponentStopped) {
  Recorder r;
  sound->AddNotifyHandler(r.Event());
  dsound::SetCreateFailure(DSERR_NODRIVER);
  try {
    sound->Initialize();
    FAIL();
  } catch (const EDirectSoundError& e) {
    EXPECT_STREQ(e.what(), "DirectSound cannot be initialized");
  }
  EXPECT_FALSE(sound->Initialized());
  EXPECT_EQ(r.kinds, (std::vector<TDXSoundNotifyKind>{snInitializing, snFinalize}));
  // Started from loading, the same failure is swallowed: the program runs silent.
  sound->Loaded();
  EXPECT_FALSE(sound->Initialized());
  dsound::SetCreateFailure(DS_OK);
  sound->RemoveNotifyHandler(r.Event());

  // Without the library the failure is not DirectSound's: loading does not swallow it.
  UnregisterLibrary("DSound.dll");
  FreeLibraryCache();
  try {
    sound->Loaded();
    ADD_FAILURE();
  } catch (const EDirectSoundError&) {
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "DSound.dll is not loaded");
  }
  RegisterLibraryEntry("DSound.dll", "DirectSoundCreate", &DirectSoundCreate);
  FreeLibraryCache();
  EXPECT_FALSE(sound->Initialized());

  // No form anywhere up the owner chain.
  TComponent holder(nullptr);
  auto* orphan = new TDXSound(&holder);
  try {
    orphan->Initialize();
    FAIL();
  } catch (const EDXSoundError& e) {
    EXPECT_STREQ(e.what(), "Form not found");
  }
  // Owned by a component that a form owns: found.
  auto* middle = new TComponent(form);
  auto* deep = new TDXSound(middle);
  deep->Initialize();
  EXPECT_EQ(deep->Form(), form);
}

TEST_F(DXSoundsTest, OptionsWhileRunningAffectLaterBuffersOnly) {
  sound->SetOptions({soExclusive});
  sound->Initialize();
  EXPECT_TRUE(sound->NowOptions().Contains(soExclusive));
  sound->SetOptions({soGlobalFocus});
  EXPECT_TRUE(sound->NowOptions().Contains(soExclusive));  // kept until the next start
  EXPECT_TRUE(sound->NowOptions().Contains(soGlobalFocus));
  TWave w;
  FillWave(&w, 10, 1);
  auto* b = new TDirectSoundBuffer(sound->DSound());  // freed with the DirectSound object
  b->LoadFromWave(&w);
  EXPECT_TRUE(b->Caps().dwFlags & DSBCAPS_GLOBALFOCUS);
  EXPECT_EQ(b->Caps().dwFlags & 0xE0, 0xE0u);
  sound->Finalize();
  EXPECT_EQ(sound->NowOptions(), TDXSoundOptions({soGlobalFocus}));
}

TEST_F(DXSoundsTest, BufferWrapperLocksOnceAndRefusesBadFormats) {
  sound->Initialize();
  TWave w;
  FillWave(&w, 100, 7);
  TDirectSoundBuffer& b = *new TDirectSoundBuffer(sound->DSound());
  b.LoadFromWave(&w);
  void *p1, *p2, *q1, *q2;
  DWORD s1, s2, t1, t2;
  ASSERT_TRUE(b.Lock(0, 8, p1, s1, p2, s2));
  EXPECT_FALSE(b.Lock(0, 8, q1, t1, q2, t2));
  EXPECT_EQ(b.LockCount(), 1);
  std::memset(p1, 0, s1);
  b.UnLock();
  EXPECT_EQ(b.LockCount(), 0);

  // Format blocks too small, of another encoding, or with sizes that do not agree.
  auto refused = [&](TWave& bad) {
    try {
      b.LoadFromWave(&bad);
      return false;
    } catch (const EDirectSoundBufferError& e) {
      return std::string(e.what()) == "Sound Buffer cannot be made";
    }
  };
  TWave bad;
  FillWave(&bad, 10, 1, 44100, 2);
  EXPECT_TRUE(refused(bad));
  FillWave(&bad, 10, 1, 0);
  EXPECT_TRUE(refused(bad));
  FillWave(&bad, 10, 1);
  bad.SetFormatSize(14);
  EXPECT_TRUE(refused(bad));
  FillWave(&bad, 10, 1);
  reinterpret_cast<WAVEFORMATEX*>(bad.Format())->nBlockAlign = 4;
  EXPECT_TRUE(refused(bad));
  EXPECT_EQ(b.IBuffer(), nullptr);
  try {
    b.Play();
    FAIL();
  } catch (const EDirectSoundBufferError& e) {
    EXPECT_STREQ(e.what(), "IDirectSoundBuffer not made");
  }
}

TEST_F(DXSoundsTest, TwoNamedSoundsPlayAtOnceIntoTheMix) {
  AddSound("Snare", 441, 1000);
  AddSound("Bass", 882, 20);
  list->SetDXSound(sound);
  sound->Initialize();
  hb->ClearAudio();
  list->Items()->Find("Snare")->Play(false);
  list->Items()->Find("Bass")->Play(false);
  auto out = Listen(20);
  ASSERT_EQ(out.size(), 2u * 882);
  EXPECT_EQ(out[0], 1020);
  EXPECT_EQ(out[2 * 440 + 1], 1020);
  EXPECT_EQ(out[2 * 441], 20);
  EXPECT_EQ(out[2 * 881], 20);
  out = Listen(5);
  EXPECT_EQ(out[0], 0);
}

TEST_F(DXSoundsTest, FindIgnoresCaseAndNamesTheMissingSound) {
  AddSound("Snare", 10, 1);
  AddSound("Bass", 10, 1);
  EXPECT_EQ(list->Items()->Find("snare")->Name(), "Snare");
  EXPECT_EQ(list->Items()->Find("BASS")->Index(), 1);
  try {
    list->Items()->Find("Tom");
    FAIL();
  } catch (const EWaveCollectionError& e) {
    EXPECT_STREQ(e.what(), "Wave 'Tom' not found");
  }
}

TEST_F(DXSoundsTest, PoolsGrowReuseAndRotate) {
  auto* s = AddSound("Hit", 4410, 5);  // 100 ms
  // Before the list is bound to a running component nothing happens.
  s->Play(false);
  EXPECT_EQ(s->Buffer(), nullptr);
  sound->Initialize();
  list->SetDXSound(sound);  // attaching to a running component makes the master at once
  ASSERT_NE(s->Buffer(), nullptr);
  EXPECT_TRUE(s->BufferList().empty());

  for (int i = 0; i < 4; ++i) s->Play(false);
  EXPECT_EQ(s->BufferList().size(), 4u);  // no limit: one more copy per overlapping play
  auto out = Listen(1);
  EXPECT_EQ(out[0], 20);
  Listen(150);
  const auto pool = s->BufferList();
  s->Play(false);  // all idle: the first is reused, nothing added
  EXPECT_EQ(s->BufferList(), pool);
  EXPECT_TRUE(pool[0]->Playing());
  EXPECT_FALSE(pool[1]->Playing());

  s->SetMaxPlayingCount(2);  // the pool goes, the master stays
  EXPECT_TRUE(s->BufferList().empty());
  ASSERT_NE(s->Buffer(), nullptr);
  s->Play(false);
  s->Play(false);
  const TDirectSoundBuffer* a = s->BufferList()[0];
  const TDirectSoundBuffer* b = s->BufferList()[1];
  Listen(10);
  s->Play(false);  // full: the first restarts and goes to the end
  ASSERT_EQ(s->BufferList().size(), 2u);
  EXPECT_EQ(s->BufferList()[0], b);
  EXPECT_EQ(s->BufferList()[1], a);
  s->SetMaxPlayingCount(-4);
  EXPECT_EQ(s->MaxPlayingCount(), 0);
}

TEST_F(DXSoundsTest, LoopedSoundsPlayOnTheMasterAndStopWhenUnlooped) {
  auto* s = AddSound("Loop", 100, 9);
  auto* empty = static_cast<TWaveCollectionItem*>(list->Items()->Add());
  empty->SetName("Empty");
  list->SetDXSound(sound);
  sound->Initialize();
  s->SetLooped(true);
  s->Play(false);
  EXPECT_TRUE(s->BufferList().empty());
  auto out = Listen(10);
  EXPECT_EQ(out[2 * 400], 9);
  s->SetLooped(false);  // stops every buffer of the item
  EXPECT_FALSE(s->Buffer()->Playing());
  out = Listen(5);
  EXPECT_EQ(out[0], 0);

  // An empty wave never plays and never makes buffers; looped, it has no master to play on.
  empty->Play(false);
  EXPECT_EQ(empty->Buffer(), nullptr);
  EXPECT_TRUE(empty->BufferList().empty());
  EXPECT_THROW(empty->SetLooped(true), EDirectSoundBufferError);
  EXPECT_FALSE(empty->Looped());
}

TEST_F(DXSoundsTest, LostBuffersRestoreThroughTheComponent) {
  auto* s = AddSound("Snare", 441, 300);
  list->SetDXSound(sound);
  int restores = 0;
  sound->OnRestore = [&](TObject*) { ++restores; };
  sound->Initialize();
  EXPECT_EQ(restores, 1);
  s->Play(false);
  s->Play(false);
  Listen(20);
  const auto before = s->BufferList();
  ASSERT_EQ(before.size(), 2u);

  dsound::LoseAllBuffers();
  s->Play(false);  // the idle pool buffer reports the loss: everything is restored
  EXPECT_EQ(restores, 2);
  EXPECT_TRUE(s->BufferList().empty());  // no buffer from before the restore is kept
  EXPECT_EQ(s->Buffer()->GetStatus() & DSBSTATUS_BUFFERLOST, 0u);
  s->Play(false);
  auto out = Listen(10);
  EXPECT_EQ(out[0], 300);
  EXPECT_EQ(restores, 2);
}

TEST_F(DXSoundsTest, ALossDuringTheRestoreDoesNotRestartIt) {
  auto* s = AddSound("Snare", 441, 300);
  list->SetDXSound(sound);
  int restores = 0;
  sound->Initialize();
  sound->OnRestore = [&](TObject*) {
    ++restores;
    dsound::LoseAllBuffers();
    s->Play(false);  // reports the loss again, inside the restore
  };
  s->Play(false);
  dsound::LoseAllBuffers();
  s->Play(false);
  EXPECT_EQ(restores, 1);
  EXPECT_FALSE(sound->DSound()->InRestoreBuffer);
}

TEST_F(DXSoundsTest, HandlersMayRemoveThemselvesWhileTheyAreCalled) {
  AddSound("A", 10, 1);
  auto* list2 = new TDXWaveList(form);
  Recorder r;
  r.removeOn = snRestore;
  list->SetDXSound(sound);
  sound->AddNotifyHandler(r.Event());
  list2->SetDXSound(sound);
  sound->Initialize();
  EXPECT_EQ(sound->NotifyCount(), 2);
  EXPECT_NE(list->Items()->GetItem(0)->Buffer(), nullptr);  // the earlier list was still told
  // Destroying: every list detaches itself in the middle of the broadcast.
  sound->Free();
  EXPECT_EQ(list->DXSound(), nullptr);
  EXPECT_EQ(list2->DXSound(), nullptr);
  sound = nullptr;
}

TEST_F(DXSoundsTest, ARaisingFinaliseHandlerSkipsNoOtherList) {
  AddSound("A", 10, 1);
  list->SetDXSound(sound);  // registered first, told last
  Recorder r;
  r.raiseOn = snFinalize;
  sound->AddNotifyHandler(r.Event());
  sound->Initialize();
  ASSERT_NE(list->Items()->GetItem(0)->Buffer(), nullptr);
  try {
    sound->Finalize();
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "handler failed");
  }
  EXPECT_FALSE(sound->Initialized());
  EXPECT_EQ(list->Items()->GetItem(0)->Buffer(), nullptr);
  EXPECT_FALSE(list->Items()->GetItem(0)->Initialized());
  EXPECT_EQ(dsound::LiveBufferCount(), 0);

  // Freed while a handler and OnFinalize raise: nothing escapes the destructor.
  sound->Initialize();
  sound->OnFinalize = [](TObject*) { throw Exception("finalize failed"); };
  sound->Free();
  sound = nullptr;
  EXPECT_EQ(list->DXSound(), nullptr);
}

TEST_F(DXSoundsTest, FocusOptionDecidesWhetherAnInactiveWindowHearsTheSounds) {
  auto* s = AddSound("Loop", 100, 50);
  s->SetLooped(true);
  list->SetDXSound(sound);
  sound->Initialize();
  s->Play(false);
  EXPECT_EQ(Listen(5)[0], 50);
  hb->SetFocus(0);
  EXPECT_EQ(Listen(5)[0], 0);  // muted, still playing
  EXPECT_TRUE(s->Buffer()->Playing());
  sound->SetOptions({soGlobalFocus});
  sound->Initialize();
  s->Play(false);
  EXPECT_EQ(Listen(5)[0], 50);
}

TEST_F(DXSoundsTest, ARecreatedWindowIsHookedAndBoundAnew) {
  auto* s = AddSound("Loop", 100, 50);
  s->SetLooped(true);
  list->SetDXSound(sound);
  sound->Initialize();
  s->Play(false);
  for (int round = 0; round < 2; ++round) {
    const HWND old = form->Handle();
    form->RecreateWnd();
    ASSERT_NE(form->Handle(), old);
    hb->SetFocus(backend::WindowId(form->Handle()));
    EXPECT_EQ(Listen(5)[0], 50) << round;  // bound to the new window, which has the focus
    hb->SetFocus(0);
    EXPECT_EQ(Listen(5)[0], 0) << round;
  }
}

TEST_F(DXSoundsTest, ItemsAssignAndKeepTheirSoundsWhileRunning) {
  auto* a = AddSound("A", 441, 11);
  a->SetMaxPlayingCount(3);
  a->Frequency = 22050;
  list->SetDXSound(sound);
  sound->Initialize();
  auto* b = AddSound("B", 10, 1);
  b->Initialize();
  b->Restore();
  b->Assign(a);  // copied and, as it was running, restored
  EXPECT_EQ(b->Name(), "A");
  EXPECT_EQ(b->MaxPlayingCount(), 3);
  EXPECT_EQ(b->Frequency, 22050);
  EXPECT_EQ(b->Wave()->Size(), 882);
  ASSERT_NE(b->Buffer(), nullptr);
  DWORD hz = 0;
  b->Buffer()->IBuffer()->GetFrequency(&hz);
  EXPECT_EQ(hz, 22050u);
  // The stored properties of an item.
  TPropertyDefs defs;
  b->DefineProperties(defs);
  for (const char* name : {"Name", "Looped", "MaxPlayingCount", "Wave"})
    EXPECT_NE(defs.Find(name), nullptr) << name;
}

TEST_F(DXSoundsTest, StoredFormsKeepSoundsWholeAndEmptySoundsEmpty) {
  TComponent root(nullptr);
  root.SetName("Root");
  auto* snd = new TDXSound(&root);
  snd->SetName("DXSound1");
  snd->AutoInitialize = false;
  snd->SetOptions({soGlobalFocus});
  auto* wl = new TDXWaveList(&root);
  wl->SetName("DXWaveList1");
  wl->SetDXSound(snd);
  auto* snare = static_cast<TWaveCollectionItem*>(wl->Items()->Add());
  snare->SetName("Snare");
  FillWave(snare->Wave(), 441, 77);
  snare->SetMaxPlayingCount(3);
  snare->SetLooped(true);
  static_cast<TWaveCollectionItem*>(wl->Items()->Add())->SetName("Empty");

  const std::string text = WriteStoredForm(&root);
  EXPECT_NE(text.find("Wave.WAVE"), std::string::npos);
  TComponent back(nullptr);
  ReadStoredForm(&back, text);
  auto* snd2 = dynamic_cast<TDXSound*>(back.FindComponent("DXSound1"));
  auto* wl2 = dynamic_cast<TDXWaveList*>(back.FindComponent("DXWaveList1"));
  ASSERT_NE(snd2, nullptr);
  ASSERT_NE(wl2, nullptr);
  EXPECT_EQ(wl2->DXSound(), snd2);
  EXPECT_FALSE(snd2->AutoInitialize);
  EXPECT_EQ(snd2->Options(), TDXSoundOptions({soGlobalFocus}));
  ASSERT_EQ(wl2->Items()->Count(), 2);
  TWaveCollectionItem* s2 = wl2->Items()->Find("snare");
  EXPECT_TRUE(s2->Looped());
  EXPECT_EQ(s2->MaxPlayingCount(), 3);
  ASSERT_EQ(s2->Wave()->Size(), 882);
  EXPECT_EQ(s2->Wave()->FormatSize(), 16);
  EXPECT_EQ(0, std::memcmp(s2->Wave()->Data(), snare->Wave()->Data(), 882));
  TWaveCollectionItem* e2 = wl2->Items()->Find("Empty");
  EXPECT_EQ(e2->Wave()->Size(), 0);
  EXPECT_EQ(e2->Wave()->FormatSize(), 0);
  EXPECT_EQ(WriteStoredForm(&back), text);
}

TEST_F(DXSoundsTest, PlayAndWaitReturnsOnceTheSoundHasEnded) {
  auto* s = AddSound("Snare", 4410, 5);  // 100 ms
  list->SetDXSound(sound);
  sound->Initialize();
  const std::uint32_t start = hb->Milliseconds();
  s->Play(true);
  const std::uint32_t waited = hb->Milliseconds() - start;
  EXPECT_GE(waited, 100u);
  EXPECT_LE(waited, 110u);
  EXPECT_FALSE(s->BufferList()[0]->Playing());
}

}  // namespace
