// A whole editing session on the headless backend: the editor's window built from its stored
// form, a chart copied from the generated data into a scratch folder and opened through the
// file dialog, frames run one by one on the virtual clock, keys and the mouse driven between
// frames, boxes answered as the test says.
#pragma once

#include <SDL_scancode.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "assets/StoredForms.h"
#include "editor/Main.h"
#include "platform/backend/HeadlessBackend.h"
#include "platform/forms/Dialogs.h"
#include "platform/forms/Forms.h"

namespace e2e {

// The recording buttons' keys (kinds 1 to 8), the playback and record switches.
constexpr int kKindKeys[8] = {SDL_SCANCODE_Z, SDL_SCANCODE_X, SDL_SCANCODE_C, SDL_SCANCODE_A,
                              SDL_SCANCODE_S, SDL_SCANCODE_D, SDL_SCANCODE_1, SDL_SCANCODE_2};
constexpr int kPlaybackKey = SDL_SCANCODE_3;
constexpr int kRecordKey = SDL_SCANCODE_4;
constexpr int kShiftKey = SDL_SCANCODE_LSHIFT;

// A folder of its own for each test, removed afterwards.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& tag) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::filesystem::temp_directory_path() /
            ("tessaly-" + tag + "-" + std::string(info ? info->name() : "x"));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string Dir() const { return path_.string() + "/"; }

 private:
  std::filesystem::path path_;
};

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

class EditorSession {
 public:
  // What the session answers the boxes with. The default opens Chart in the file dialog and
  // answers every message box with its Escape button (No for the closing question).
  std::function<void(TModalDialog&)> OnDialog;
  std::vector<std::string> Messages;  // texts of the message boxes shown

  // Opens `chartPath` (already in place) through the dialog.
  // OnOpen, when given, answers the boxes until the window has been shown (the file dialog and
  // the boxes of loading), in place of the default.
  explicit EditorSession(const std::string& chartPath, bool captureAudio = true,
                         std::uint32_t startMs = 0,
                         std::function<void(TModalDialog&)> OnOpen = nullptr)
      : Chart(chartPath) {
    OnDialog = std::move(OnOpen);
    hb = &backend::HeadlessBackend::InstallFresh(startMs);
    hb->SetAudioCapture(captureAudio);
    Application->ResetForTest();
    Application->SetTitle("Quilletエディター");
    RegisterEditorFormResource();
    OnModalDialogPass = [this](TModalDialog& d) { Answer(d); };
    Application->CreateForm(Tessaly::Form1);
    form = Tessaly::Form1;
    form->SetVisible(true);
    if (form->HandleAllocated()) hb->SetFocus(form->Handle());
    Application->ProcessMessages();
    OnDialog = nullptr;
  }
  ~EditorSession() {
    for (int key : held_) hb->ReleaseKey(key, 0, window());
    OnModalDialogPass = [](TModalDialog& d) { d.EndModal(d.CancelResult()); };
    if (Tessaly::Form1 != nullptr) Tessaly::Form1->Free();
    OnModalDialogPass = nullptr;
    Application->ResetForTest();
  }

  backend::WindowId window() const { return form->Handle(); }

  // Lets the clock move to the next frame and runs the loop until that frame has run.
  bool Frame() {
    const std::int32_t before = Tessaly::FrameCount;
    hb->Advance(17);
    Application->RunUntil(
        [&] { return Tessaly::FrameCount != before || Application->Terminated(); }, 100000);
    return Tessaly::FrameCount != before;
  }
  void Frames(int n) {
    for (int i = 0; i < n; ++i) Frame();
  }
  // Runs frames until Condition holds (at most Max frames).
  bool FramesUntil(const std::function<bool()>& Condition, int Max = 2000) {
    for (int i = 0; i < Max && !Condition(); ++i) Frame();
    return Condition();
  }

  void Press(int key) {
    hb->PressKey(key, 0, window());
    held_.push_back(key);
  }
  void Release(int key) {
    hb->ReleaseKey(key, 0, window());
    std::erase(held_, key);
  }
  // Holds a key for one frame.
  void Tap(int key) {
    Press(key);
    Frame();
    Release(key);
    Frame();
  }

  // The mouse in the window's client coordinates (the lane's, as the display stands at 0, 0).
  void MouseTo(int x, int y) { hb->MoveMouse(window(), x, y); }
  void MouseDown(int button = 1) { hb->PressMouse(window(), button); }
  void MouseUp(int button = 1) { hb->ReleaseMouse(window(), button); }

  Tessaly::TScore& Score() const { return *Tessaly::Score; }
  std::vector<std::pair<int, int>> Notes() const {
    std::vector<std::pair<int, int>> v;
    for (int i = 0; i < Tessaly::Score->Count(); ++i)
      v.emplace_back(Tessaly::Score->GetNote(i)->Time, Tessaly::Score->GetNote(i)->Kind);
    return v;
  }

  // Closes the window as its close box does, answering the question with Yes or No.
  void Close(bool save) {
    closeAnswer_ = save ? mrYes : mrNo;
    hb->ClickCloseBox(window());
    Application->RunUntil([] { return Application->Terminated(); }, 2000);
    closeAnswer_ = mrNone;
  }

  std::string Chart;
  backend::HeadlessBackend* hb = nullptr;
  Tessaly::TForm1* form = nullptr;
  int DialogsOpened = 0;

 private:
  void Answer(TModalDialog& d) {
    if (OnDialog) {
      OnDialog(d);
      return;
    }
    if (auto* open = dynamic_cast<TOpenDialogBox*>(&d)) {
      ++DialogsOpened;
      open->SetFileNameText(Chart);
      open->Accept();
      return;
    }
    if (auto* box = dynamic_cast<TMessageBox*>(&d)) {
      Messages.push_back(box->Text());
      if (closeAnswer_ != mrNone && box->Text() == "セーブしますか？")
        box->Choose(closeAnswer_);
      else
        d.EndModal(d.CancelResult());
    }
  }
  std::vector<int> held_;
  TModalResult closeAnswer_ = mrNone;
};

}  // namespace e2e
