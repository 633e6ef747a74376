// Whole sessions of the editor on the generated data: open through the dialog, record against
// the music, edit with the mouse, play back and hear the drums, save, close, reload, and hand the
// file to the game's chart reader. And the two ways a session could lose work: a folder that
// takes no file, and a chart without music.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cmath>
#include <memory>

#include "e2e/EditorSession.h"
#include "game/UScore.h"
#include "support/ImmutableFolder.h"

using e2e::EditorSession;
using e2e::ReadBytes;
using e2e::ScratchFolder;
using e2e::WriteBytes;

namespace {

std::string CopyGenerated(const ScratchFolder& dir, const std::string& name = "Last Boss.txt") {
  std::filesystem::copy_file("Score/" + name, dir.Dir() + name);
  return dir.Dir() + name;
}

void PointAt(EditorSession& s, int x, int y) {
  s.MouseTo(x, y);
  s.Frame();
}

void Drag(EditorSession& s, int x0, int y0, int x1, int y1, bool shift = false) {
  if (shift) s.Press(e2e::kShiftKey);
  PointAt(s, x0, y0);
  s.MouseDown();
  s.Frame();
  PointAt(s, x1, y1);
  s.MouseUp();
  s.Frame();
  if (shift) s.Release(e2e::kShiftKey);
}

}  // namespace

TEST(EditorE2ETest, RecordsNotesWhereTheMusicStandsWhenTheKeysGoDown) {
  ScratchFolder dir("record");
  WriteBytes(dir.Dir() + "Last Boss.txt", "");
  EditorSession s(dir.Dir() + "Last Boss.txt", false);
  EXPECT_EQ(s.DialogsOpened, 1);
  s.Tap(e2e::kRecordKey);
  ASSERT_EQ(Tessaly::EditorMode, Tessaly::emRecord);
  // The music starts on the first recording frame; from then on its position is the audio played.
  ASSERT_TRUE(s.FramesUntil([&] { return s.form->BGM1->Mode() == mpPlaying; }));
  const std::uint64_t started = s.hb->Elapsed();
  const int startPos = s.form->BGM1->Position();
  struct Hit {
    int target, key, kind;
  };
  const Hit hits[] = {{1000, 0, 1}, {1750, 2, 3}, {2500, 7, 8}, {2600, 3, 4}};
  std::vector<int> at;
  for (const Hit& h : hits) {
    ASSERT_TRUE(s.FramesUntil([&] { return s.form->BGM1->Position() >= h.target; }));
    s.Press(e2e::kKindKeys[h.key]);
    s.Frame();
    at.push_back(Tessaly::MusicPos);
    s.Release(e2e::kKindKeys[h.key]);
    s.Frame();
  }
  s.Tap(e2e::kRecordKey);
  ASSERT_EQ(s.Score().Count(), 4);
  for (int i = 0; i < 4; ++i) {
    const Tessaly::TNote* n = s.Score().GetNote(i);
    EXPECT_EQ(n->Kind, hits[i].kind);
    EXPECT_EQ(n->Time, at[static_cast<std::size_t>(i)]);
    // Within two frames of the moment the key went down, on the music's own clock.
    EXPECT_GE(n->Time, hits[i].target);
    EXPECT_LE(n->Time, hits[i].target + 2 * 17);
  }
  // The music's clock is the time that passed since it started.
  EXPECT_NEAR(s.form->BGM1->Position() - startPos, static_cast<int>(s.hb->Elapsed() - started),
              150);
  EXPECT_EQ(ReadBytes(dir.Dir() + "BackUp_Last Boss.txt"),
            std::to_string(at[0]) + ",1\r\n" + std::to_string(at[1]) + ",3\r\n" +
                std::to_string(at[2]) + ",8\r\n" + std::to_string(at[3]) + ",4\r\n");
}

TEST(EditorE2ETest, EditsAGeneratedChartWithTheMouseAndSavesIt) {
  ScratchFolder dir("edit");
  const std::string chart = CopyGenerated(dir);
  EditorSession s(chart, false);
  s.Frames(2);
  // At speed 5 the notes at 2000, 2500, 3000, 3500 and 4000 stand on rows 320 to 220.
  // Move: the note at 2000 down to row 330, 90 rows before the line: 1799 ms.
  PointAt(s, 50, 320);
  s.MouseDown();
  s.Frame();
  PointAt(s, 50, 330);
  s.MouseUp();
  s.Frame();
  // Space the moved note and the next two (rows 330, 295, 270) from 1799 to 3000.
  s.Frames(2);
  Drag(s, 10, 262, 90, 340);
  // Merge 3500 and 4000 (rows 245 and 220) with Shift.
  s.Frames(2);
  Drag(s, 10, 210, 90, 250, true);
  // Delete the note now at 2399 (row 300): grab it, then the right button.
  s.Frames(2);
  PointAt(s, 50, 300);
  s.MouseDown();
  s.Frame();
  s.MouseDown(3);
  s.Frame();
  s.MouseUp(3);
  s.MouseUp();
  s.Frame();
  // Save with the button.
  PointAt(s, 200, 80);
  s.MouseDown();
  s.MouseUp();
  s.Frame();
  const std::string saved = ReadBytes(chart);
  std::string original = ReadBytes("Score/Last Boss.txt");
  const std::string head = "1799,2\r\n2999,2\r\n3750,2\r\n3750,2\r\n";
  EXPECT_EQ(saved.substr(0, head.size()), head);
  // Everything after the fifth note is as it was.
  std::size_t cut = 0;
  for (int i = 0; i < 5; ++i) cut = original.find("\r\n", cut) + 2;
  EXPECT_EQ(saved.substr(head.size()), original.substr(cut));
}

TEST(EditorE2ETest, PlaybackSoundsEachNotesDrumWhenTheMusicReachesIt) {
  // Two sessions driven alike, one with notes and one without: what differs in the rendered
  // audio is the drums.
  const std::vector<int> times = {1000, 1500, 2200};
  struct Run {
    std::vector<std::int16_t> audio;
    std::vector<std::pair<std::size_t, int>> frames;  // samples rendered, music position
  };
  auto play = [&](const std::string& chart) {
    ScratchFolder dir("playback");
    WriteBytes(dir.Dir() + "Last Boss.txt", chart);
    EditorSession s(dir.Dir() + "Last Boss.txt");
    s.Tap(e2e::kPlaybackKey);
    s.hb->ClearAudio();
    Run r;
    for (int i = 0; i < 200; ++i) {
      s.Frame();
      r.frames.emplace_back(s.hb->CapturedAudio().size(), Tessaly::MusicPos);
    }
    r.audio = s.hb->TakeAudio();
    return r;
  };
  const Run notes = play("1000,1\r\n1500,2\r\n2200,4\r\n");
  const Run quiet = play("");
  ASSERT_EQ(notes.audio.size(), quiet.audio.size());
  ASSERT_EQ(notes.frames, quiet.frames);
  auto energy = [&](std::size_t from, std::size_t to) {
    double e = 0;
    for (std::size_t i = from; i < to && i < notes.audio.size(); ++i) {
      const double d = double(notes.audio[i]) - double(quiet.audio[i]);
      e += d * d;
    }
    return e;
  };
  const std::size_t window = 2 * 44100 * 20 / 1000;  // 20 ms of stereo samples
  bool first = true;
  for (int t : times) {
    // The frame that reached the note's time; its drum sounds in the audio rendered after it.
    std::size_t f = 0;
    while (f < notes.frames.size() && notes.frames[f].second < t) ++f;
    ASSERT_LT(f, notes.frames.size());
    EXPECT_LE(notes.frames[f].second, t + 17);
    const std::size_t at = notes.frames[f].first;
    if (first) {
      EXPECT_EQ(energy(0, at), 0.0) << "a drum before the first note";
    }
    first = false;
    EXPECT_GT(energy(at, at + window), 1e6) << t;
    EXPECT_GT(energy(at, at + window), 4 * energy(at - window, at)) << t;
  }
}

TEST(EditorE2ETest, SavedOnClosingAndReadBackAsItWasAndTheGameTracksIt) {
  ScratchFolder dir("reload");
  const std::string chart = CopyGenerated(dir);
  std::vector<std::pair<int, int>> edited;
  {
    EditorSession s(chart, false);
    s.Tap(e2e::kRecordKey);
    ASSERT_TRUE(s.FramesUntil([&] { return s.form->BGM1->Position() > 300; }));
    s.Tap(e2e::kKindKeys[4]);
    s.Tap(e2e::kRecordKey);
    edited = s.Notes();
    s.Close(true);
    EXPECT_TRUE(Application->Terminated());
    EXPECT_EQ(s.Messages.back(), "セーブしますか？");
  }
  EditorSession again(chart, false);
  EXPECT_EQ(again.Notes(), edited);
  ASSERT_EQ(edited.size(), 165u);
  // The game reads the same file, adds its sentinel, sorts and follows the music.
  ::TScore game;
  int position = 0;
  game.MusicPosition = [&] { return position; };
  int badLines = 0;
  game.OnBadLine = [&](const std::string&, int) { ++badLines; };
  game.LoadFromFile(chart);
  EXPECT_EQ(badLines, 0);
  ASSERT_EQ(game.Count(), 166);
  std::vector<std::pair<int, int>> sorted = edited;
  std::stable_sort(sorted.begin(), sorted.end(), [](auto a, auto b) { return a.first < b.first; });
  for (int i = 1; i < game.Count(); ++i) {
    EXPECT_EQ(game.GetNote(i)->Time, sorted[static_cast<std::size_t>(i - 1)].first);
  }
  position = edited.front().first;  // the recorded note comes first
  game.Update();
  EXPECT_TRUE(game.Passed);
  EXPECT_EQ(game.Current->Time, position);
  EXPECT_EQ(game.Current->Kind, 5);
  position = 4000;
  game.Update();
  EXPECT_EQ(game.Current->Time, 4000);
  EXPECT_EQ(game.Next->Time, 4500);
}

TEST(EditorE2ETest, AFolderThatTakesNoFileKeepsTheOldChartAndTheWindowOpen) {
  ScratchFolder dir("readonly");
  const std::string chart = CopyGenerated(dir);
  const std::string before = ReadBytes(chart);
  EditorSession s(chart, false);
  s.Score().AddNote(100, 1);
  if (!MakeImmutable(dir.Dir(), true)) GTEST_SKIP() << "the file system has no immutable folders";
  // The save button: the failure is reported in the error box, the chart stays.
  PointAt(s, 200, 80);
  s.MouseDown();
  s.MouseUp();
  s.Frame();
  // Closing with Yes: the save fails, so the window stays open.
  s.Close(true);
  const bool closed = Application->Terminated();
  MakeImmutable(dir.Dir(), false);
  EXPECT_FALSE(closed);
  EXPECT_EQ(ReadBytes(chart), before);
  ASSERT_EQ(s.hb->MessageBoxes().size(), 2u);
  for (const auto& box : s.hb->MessageBoxes()) {
    EXPECT_EQ(box.title, "Quilletエディター");
    EXPECT_NE(box.text.find("Cannot create file"), std::string::npos);
    EXPECT_NE(box.text.find("Last Boss.txt"), std::string::npos);
  }
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.Dir())) files += e.is_regular_file();
  EXPECT_EQ(files, 1);
  // Once the folder takes files again, the same window saves.
  s.Close(true);
  EXPECT_TRUE(Application->Terminated());
  EXPECT_EQ(ReadBytes(chart).substr(ReadBytes(chart).size() - 7), "100,1\r\n");
}

TEST(EditorE2ETest, AChartWithoutMusicAsksForAnotherFileAndIsNeverWritten) {
  ScratchFolder dir("orphan");
  WriteBytes(dir.Dir() + "Orphan.txt", "1000,1\r\n2000,2\r\n");
  const std::string chart = CopyGenerated(dir);
  std::vector<std::string> asked, messages;
  EditorSession s(dir.Dir() + "Orphan.txt", false, 0, [&](TModalDialog& d) {
    if (auto* open = dynamic_cast<TOpenDialogBox*>(&d)) {
      asked.push_back(asked.empty() ? "Orphan.txt" : "Last Boss.txt");
      open->SetFileNameText(dir.Dir() + asked.back());
      open->Accept();
    } else {
      messages.push_back(dynamic_cast<TMessageBox&>(d).Text());
      d.EndModal(mrOk);
    }
  });
  EXPECT_EQ(asked, (std::vector<std::string>{"Orphan.txt", "Last Boss.txt"}));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("Orphan.mp3"), std::string::npos);
  EXPECT_EQ(s.Score().Count(), 164);
  s.Frames(4);
  s.Tap(e2e::kRecordKey);
  s.Tap(e2e::kRecordKey);
  s.Close(true);
  EXPECT_EQ(ReadBytes(dir.Dir() + "Orphan.txt"), "1000,1\r\n2000,2\r\n");
  EXPECT_FALSE(std::filesystem::exists(dir.Dir() + "BackUp_Orphan.txt"));
  EXPECT_TRUE(std::filesystem::exists(dir.Dir() + "BackUp_Last Boss.txt"));
  EXPECT_EQ(ReadBytes(chart), ReadBytes("Score/Last Boss.txt"));
}

TEST(EditorE2ETest, ABackUpChartOpensWithTheMusicOfItsChart) {
  ScratchFolder dir("backup");
  const std::string chart = CopyGenerated(dir);
  {
    EditorSession s(chart, false);
    s.Tap(e2e::kRecordKey);
    s.Tap(e2e::kRecordKey);
  }
  const std::string backup = dir.Dir() + "BackUp_Last Boss.txt";
  ASSERT_EQ(ReadBytes(backup), ReadBytes(chart));
  EditorSession s(backup, false);
  EXPECT_EQ(s.Score().Count(), 164);
  EXPECT_EQ(ExtractFileName(s.form->BGM1->FileName), "Last Boss.mp3");
  s.Tap(e2e::kPlaybackKey);
  ASSERT_TRUE(s.FramesUntil([&] { return s.form->BGM1->Position() > 2100; }));
  EXPECT_TRUE(s.Score().GetNote(0)->Played);
  EXPECT_TRUE(s.hb->MessageBoxes().empty());
}
