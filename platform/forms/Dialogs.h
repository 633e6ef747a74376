// The boxes that open inside a window and hold the program until they are answered: message
// boxes (MessageDlg, ShowMessage) and the file dialog (TOpenDialog). Each is drawn over its
// window's client image, again every time the window shows a new picture, and runs a modal loop
// of its own: paints, posted messages and window events go on as usual, keys and the mouse go to
// the box, and the application's idle event goes on being raised where the box says so.
//
// Tests answer a box through OnModalDialogPass, which every modal loop calls once per pass with
// the box open, or by sending it keys and clicks.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/forms/Forms.h"
#include "platform/forms/PaintBuffer.h"
#include "platform/rtl/Sets.h"

enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
enum TMsgDlgBtn {
  mbYes,
  mbNo,
  mbOK,
  mbCancel,
  mbAbort,
  mbRetry,
  mbIgnore,
  mbAll,
  mbNoToAll,
  mbYesToAll,
  mbHelp
};
using TMsgDlgButtons = TSet<TMsgDlgBtn>;

using TModalResult = int;
constexpr TModalResult mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrRetry = 4, mrIgnore = 5,
                       mrYes = 6, mrNo = 7, mrAll = 8, mrNoToAll = 9, mrYesToAll = 10;

// Asks Msg with the buttons given, in a box captioned by its type ("確認" for a confirmation;
// the application's title for mtCustom). The box raises the idle event while it is open. Gives
// the mr value of the button chosen.
TModalResult MessageDlg(const std::string& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons,
                        int HelpCtx);
// Msg with one OK button, captioned with the application's title.
void ShowMessage(const std::string& Msg);

class TModalDialog : public TFormOverlay {
 public:
  enum class TKind { Message, OpenFile };
  ~TModalDialog() override;

  TKind Kind() const { return FKind; }
  const std::string& Caption() const { return FCaption; }
  // The application's idle event runs while the box waits.
  bool RaisesIdle() const { return FRaisesIdle; }
  // The form the box is drawn in, or nullptr when there is none to show it.
  TCustomForm* Host() const { return FHost; }
  // The box in the host's client coordinates.
  TRect BoxRect() const;
  bool Ended() const { return FEnded; }
  TModalResult ModalResult() const { return FResult; }
  // Closes the box with that result; the modal loop returns it.
  void EndModal(TModalResult Result);

  // Input, as the modal loop hands it on: virtual keys, typed text, and the mouse in the box's
  // own coordinates (0, 0 is its top-left corner).
  virtual void KeyDown(WORD Key) {}
  virtual void TextTyped(const std::string& Text) {}
  virtual void MouseDown(int X, int Y) {}
  virtual void MouseMove(int X, int Y) {}
  virtual void MouseUp(int X, int Y) {}
  virtual void MouseWheel(int Notches) {}
  // The user closed the window (or asked the program to end) while the box was open.
  virtual void CloseRequested() {}
  // The answer of a box that is told to go away (the program is ending).
  virtual TModalResult CancelResult() const { return mrCancel; }

  void DrawOverlay(TWindowImage& Image) override;

 protected:
  TModalDialog(TKind Kind, const std::string& Caption, bool RaisesIdle);
  // Picks the host and the box's size (clamped to the host) before ShowModal.
  void SetBoxSize(int Width, int Height);
  // The widest a box may be in a host of that client width.
  static int MaxBoxWidth(int HostClientWidth);
  // Shows the box and runs the modal loop until it ends; the result.
  TModalResult ShowModal();
  // Marks the box for drawing again and shows it.
  void Changed();
  // Draws the box's face; (0, 0) is its top-left corner. The base draws the frame and the
  // caption band and gives the area below it.
  virtual void PaintBox(TCanvas* Canvas, const TRect& Client) = 0;
  int BoxWidth() const { return FWidth; }
  int BoxHeight() const { return FHeight; }
  static constexpr int kCaptionHeight = 22;

 private:
  friend class TModalLoop;
  TKind FKind;
  std::string FCaption;
  bool FRaisesIdle;
  TCustomForm* FHost = nullptr;
  std::shared_ptr<const bool> FHostAlive;
  int FWidth = 0;
  int FHeight = 0;
  bool FEnded = false;
  bool FShown = false;
  TModalResult FResult = mrNone;
  bool FDirty = true;
  TPaintBuffer FBuffer;
};

// A message box: text, an icon by type, and a row of buttons.
class TMessageBox : public TModalDialog {
 public:
  TMessageBox(const std::string& Text, TMsgDlgType DlgType, TMsgDlgButtons Buttons,
              const std::string& Caption);
  const std::string& Text() const { return FText; }
  // The text as the box shows it: its lines, broken to fit the box's text column.
  const std::vector<std::string>& Lines() const { return FLines; }
  TMsgDlgType DlgType() const { return FType; }
  int ButtonCount() const { return static_cast<int>(FButtons.size()); }
  // The caption as shown, with its "&" for the access key.
  const std::string& ButtonCaption(int Index) const { return FButtons.at(Index).Caption; }
  TModalResult ButtonResult(int Index) const { return FButtons.at(Index).Result; }
  int FocusedButton() const { return FFocused; }
  // Where a button lies in the box.
  TRect ButtonRect(int Index) const;
  // Answers with the button of that result, when the box has one; false otherwise.
  bool Choose(TModalResult Result);

  TModalResult Execute();

  void KeyDown(WORD Key) override;
  void MouseDown(int X, int Y) override;
  void MouseMove(int X, int Y) override;
  void MouseUp(int X, int Y) override;
  TModalResult CancelResult() const override { return FCancel; }

 protected:
  void PaintBox(TCanvas* Canvas, const TRect& Client) override;

 private:
  struct TButton {
    std::string Caption;
    TModalResult Result;
  };
  int ButtonAt(int X, int Y) const;
  std::string FText;
  std::vector<std::string> FLines;
  TMsgDlgType FType;
  std::vector<TButton> FButtons;
  TModalResult FCancel = mrCancel;
  int FFocused = 0;
  int FPressed = -1;
  int FTextWidth = 0;
  int FLineHeight = 0;
  int FButtonWidth = 75;
};

// The file dialog's box: the files of one folder in a list, and a field with the file name.
class TOpenDialogBox : public TModalDialog {
 public:
  TOpenDialogBox(const std::string& Folder, const std::string& FileName, const std::string& Caption,
                 const std::string& Filter);
  // The folder shown, with a trailing "/".
  const std::string& Folder() const { return FFolder; }
  const std::vector<std::string>& Files() const { return FFiles; }
  int Selected() const { return FSelected; }
  void Select(int Index);
  const std::string& FileNameText() const { return FName; }
  void SetFileNameText(const std::string& Text);
  // Takes the name in the field: a folder is opened in the list, a file ends the box with mrOk.
  void Accept();
  void Cancel() { EndModal(mrCancel); }
  // The full path chosen.
  const std::string& ChosenPath() const { return FChosen; }
  // The box ended because the window was closed.
  bool WindowClosed() const { return FWindowClosed; }

  TModalResult Execute();

  void KeyDown(WORD Key) override;
  void TextTyped(const std::string& Text) override;
  void MouseDown(int X, int Y) override;
  void MouseUp(int X, int Y) override;
  void MouseWheel(int Notches) override;
  void CloseRequested() override;

  TRect ListRect() const;
  TRect OpenButtonRect() const;
  TRect CancelButtonRect() const;
  static constexpr int kRowHeight = 16;

 protected:
  void PaintBox(TCanvas* Canvas, const TRect& Client) override;

 private:
  void ReadFolder();
  int VisibleRows() const;
  void ScrollTo(int Index);
  std::string FFolder;
  std::string FFilter;
  std::vector<std::string> FFiles;
  int FSelected = -1;
  int FTop = 0;
  std::string FName;
  std::string FChosen;
  bool FWindowClosed = false;
  int FPressedButton = -1;  // 0 open, 1 cancel
  int FLastClickRow = -1;
  std::uint32_t FLastClickTime = 0;
};

class TOpenDialog : public TComponent {
 public:
  explicit TOpenDialog(TComponent* AOwner);

  // The file chosen, as a full path; where the dialog starts when InitialDir is empty.
  std::string FileName;
  std::string InitialDir;
  // "Description|*.txt;*.csv|..." pairs; FilterIndex (from 1) picks the one in use.
  std::string Filter;
  int FilterIndex = 1;
  std::string DefaultExt;
  std::string Title;

  // Shows the box in the main window. True when a file was chosen (FileName is then its full
  // path), false when cancelled. Closing the window while the box is open ends the program:
  // the application is told to terminate and EAbort ends whatever opened the box.
  bool Execute();

  void DefineProperties(TPropertyDefs& P) override;
};

// The boxes open now, innermost last.
const std::vector<TModalDialog*>& ModalDialogs();
// The innermost box open now, or nullptr.
TModalDialog* ActiveModalDialog();
// Called on every pass of every modal loop with the innermost box (tests answer through it).
extern std::function<void(TModalDialog& Dialog)> OnModalDialogPass;
