#include "platform/forms/Dialogs.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/forms/TextWrap.h"
#include "platform/forms/Windows.h"
#include "platform/gdi/Fonts.h"
#include "platform/rtl/SysUtils.h"
#include "platform/timer/MMSystem.h"

std::function<void(TModalDialog& Dialog)> OnModalDialogPass;

namespace {

const bool registered = (RegisterClass<TOpenDialog>("TOpenDialog"), true);

std::vector<TModalDialog*>& Stack() {
  static std::vector<TModalDialog*> stack;
  return stack;
}

backend::Backend& Machine() { return backend::Backend::Current(); }

// How long a modal loop that has nothing to do waits for the next event before it looks again.
constexpr int kModalWaitMs = 10;
// Two clicks on one file within this time open it.
constexpr std::uint32_t kDoubleClickMs = 500;

TFontSpec BoxFont(bool Bold = false) { return MessageFont(Bold); }

void UseFont(TCanvas* C, const TFontSpec& Spec, TColor Color) {
  TFont* f = C->Font();
  f->SetName(Spec.Name);
  f->SetHeight(Spec.Height);
  f->SetStyle(Spec.Bold ? TFontStyles{fsBold} : TFontStyles{});
  f->SetColor(Color);
}

bool Inside(const TRect& R, int X, int Y) {
  return X >= R.Left && X < R.Right && Y >= R.Top && Y < R.Bottom;
}

void DrawButtonFace(TCanvas* C, const TRect& R, const std::string& Caption, bool Pressed,
                    bool Focused) {
  C->Brush()->SetStyle(bsSolid);
  C->Brush()->SetColor(clBtnFace);
  C->FillRect(R);
  TRect face = R;
  if (Focused) {
    // The button Enter would press has a dark outline.
    C->Brush()->SetColor(cl3DDkShadow);
    C->FrameRect(R);
    face = {R.Left + 1, R.Top + 1, R.Right - 1, R.Bottom - 1};
  }
  DrawEdge3D(C, face, !Pressed);
  UseFont(C, BoxFont(), clBtnText);
  TRect text = face;
  if (Pressed) text = {face.Left + 1, face.Top + 1, face.Right + 1, face.Bottom + 1};
  DrawCaptionCentred(C, text, Caption);
}

// A filled disc, for the message icons.
void FillDisc(TCanvas* C, int CX, int CY, int Radius, TColor Color) {
  C->Brush()->SetStyle(bsSolid);
  C->Brush()->SetColor(Color);
  for (int dy = -Radius; dy < Radius; ++dy) {
    const double y = dy + 0.5;
    int half = 0;
    while ((half + 0.5) * (half + 0.5) + y * y <= static_cast<double>(Radius) * Radius) ++half;
    C->FillRect({CX - half, CY + dy, CX + half, CY + dy + 1});
  }
}

void UpperAscii(std::string& S) {
  for (char& c : S)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
}

// Whether Name matches a pattern of * and ?, without regard to ASCII case.
bool MatchesMask(const std::string& Name, const std::string& Mask) {
  if (Mask == "*.*" || Mask == "*") return true;
  std::string n = Name, m = Mask;
  UpperAscii(n);
  UpperAscii(m);
  std::size_t ni = 0, mi = 0, starM = std::string::npos, starN = 0;
  while (ni < n.size()) {
    if (mi < m.size() && (m[mi] == '?' || m[mi] == n[ni])) {
      ++ni;
      ++mi;
    } else if (mi < m.size() && m[mi] == '*') {
      starM = mi++;
      starN = ni;
    } else if (starM != std::string::npos) {
      mi = starM + 1;
      ni = ++starN;
    } else {
      return false;
    }
  }
  while (mi < m.size() && m[mi] == '*') ++mi;
  return mi == m.size();
}

std::vector<std::string> FilterMasks(const std::string& Filter, int Index) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : Filter) {
    if (c == '|') {
      parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  parts.push_back(part);
  std::vector<std::string> masks;
  if (Filter.empty() || parts.size() < 2) return masks;
  const int pairs = static_cast<int>(parts.size() / 2);
  const int pick = std::clamp(Index, 1, pairs) - 1;
  std::string list = parts[static_cast<std::size_t>(pick) * 2 + 1];
  std::string mask;
  for (char c : list + ";") {
    if (c == ';') {
      mask = Trim(mask);
      if (!mask.empty()) masks.push_back(mask);
      mask.clear();
    } else {
      mask += c;
    }
  }
  return masks;
}

void PopUtf8Char(std::string& S) {
  while (!S.empty() && (static_cast<unsigned char>(S.back()) & 0xC0) == 0x80) S.pop_back();
  if (!S.empty()) S.pop_back();
}

}  // namespace

// The modal loops: one pass handles one thing, as the application's own loop does, but keys and
// the mouse go to the box and a close of the window is the box's to answer.
class TModalLoop {
 public:
  static TCustomForm* PickHost() {
    if (Application == nullptr) return nullptr;
    TCustomForm* main = Application->MainForm();
    if (main != nullptr && main->HandleAllocated() && main->Showing()) return main;
    for (TCustomForm* f : Application->FForms)
      if (f->HandleAllocated() && f->Showing()) return f;
    return nullptr;
  }

  static void Pass(TModalDialog& D) {
    TApplication& A = *Application;
    if (!A.FPosted.empty()) {
      // The program is ending: the box goes, and the quit stays queued for the main loop.
      if (A.FPosted.front().Msg == WM_QUIT) {
        D.EndModal(D.CancelResult());
        return;
      }
      A.ProcessMessage();
      return;
    }
    backend::Event e;
    bool have = false;
    if (!A.FPending.empty()) {
      e = std::move(A.FPending.front());
      A.FPending.pop_front();
      have = true;
    } else {
      have = Machine().PollEvent(e);
    }
    if (have) {
      Route(D, e);
      return;
    }
    if (A.PaintOne()) return;
    if (D.RaisesIdle()) {
      A.Idle(false);
      if (!A.FLastDone && !A.InSizeMove()) return;
    }
    if (Machine().WaitEvent(e, kModalWaitMs)) A.FPending.push_back(std::move(e));
  }

  static void Route(TModalDialog& D, const backend::Event& E) {
    using backend::EventType;
    TApplication& A = *Application;
    const bool onHost = D.FHost != nullptr && D.FHostAlive && *D.FHostAlive &&
                        D.FHost->HandleAllocated() && E.window == D.FHost->Handle();
    const TRect box = D.BoxRect();
    switch (E.type) {
      case EventType::Quit:
      case EventType::WindowClose:
        D.CloseRequested();
        break;
      case EventType::KeyDown:
        if (const WORD vk = VirtualKeyFromScancode(E.scancode)) D.KeyDown(vk);
        break;
      case EventType::KeyUp:
        break;
      case EventType::TextInput:
        D.TextTyped(E.text);
        break;
      case EventType::MouseDown:
      case EventType::MouseUp: {
        // The application keeps count of the buttons for the mouse messages after the box.
        const std::uint32_t bit = E.button == 1 ? 1u : E.button == 3 ? 2u : E.button == 2 ? 4u : 0u;
        if (E.type == EventType::MouseDown)
          A.FMouseButtons |= bit;
        else
          A.FMouseButtons &= ~bit;
        if (onHost && E.button == 1) {
          if (E.type == EventType::MouseDown)
            D.MouseDown(E.x - box.Left, E.y - box.Top);
          else
            D.MouseUp(E.x - box.Left, E.y - box.Top);
        }
        break;
      }
      case EventType::MouseMove:
        if (onHost) D.MouseMove(E.x - box.Left, E.y - box.Top);
        break;
      case EventType::MouseWheel:
        if (onHost) D.MouseWheel(E.y);
        break;
      default:
        A.DispatchEvent(E);
        break;
    }
  }
};

// =============================================================================================
// TModalDialog

TModalDialog::TModalDialog(TKind Kind, const std::string& Caption, bool RaisesIdle)
    : FKind(Kind), FCaption(Caption), FRaisesIdle(RaisesIdle) {
  FHost = TModalLoop::PickHost();
  if (FHost != nullptr) FHostAlive = FHost->AliveToken();
}

TModalDialog::~TModalDialog() {
  std::erase(Stack(), this);
  if (FHost != nullptr && FHostAlive && *FHostAlive) FHost->RemoveOverlay(this);
}

int TModalDialog::MaxBoxWidth(int HostClientWidth) { return std::max(HostClientWidth - 8, 120); }

void TModalDialog::SetBoxSize(int Width, int Height) {
  if (FHost != nullptr) {
    Width = std::min(Width, MaxBoxWidth(FHost->ClientWidth()));
    Height = std::min(Height, std::max(FHost->ClientHeight() - 8, 80));
  }
  FWidth = Width;
  FHeight = Height;
  FDirty = true;
}

TRect TModalDialog::BoxRect() const {
  int left = 0, top = 0;
  if (FHost != nullptr && FHostAlive && *FHostAlive) {
    left = std::max((FHost->ClientWidth() - FWidth) / 2, 0);
    top = std::max((FHost->ClientHeight() - FHeight) / 2, 0);
  }
  return Bounds(left, top, FWidth, FHeight);
}

void TModalDialog::EndModal(TModalResult Result) {
  FResult = Result;
  FEnded = true;
}

void TModalDialog::Changed() {
  FDirty = true;
  if (FShown && FHost != nullptr && FHostAlive && *FHostAlive) FHost->PresentImage();
}

void TModalDialog::DrawOverlay(TWindowImage& Image) {
  if (FDirty || FBuffer.Width() != FWidth || FBuffer.Height() != FHeight) {
    TCanvas* c = FBuffer.Begin(FWidth, FHeight);
    c->Brush()->SetStyle(bsSolid);
    c->Brush()->SetColor(clBtnFace);
    c->FillRect({0, 0, FWidth, FHeight});
    DrawEdge3D(c, {0, 0, FWidth, FHeight}, true);
    c->Brush()->SetColor(clActiveCaption);
    c->FillRect({3, 3, FWidth - 3, 3 + kCaptionHeight - 2});
    UseFont(c, BoxFont(true), clCaptionText);
    c->Brush()->SetStyle(bsClear);
    c->TextOut(8, 3 + (kCaptionHeight - 2 - c->TextHeight(FCaption)) / 2, FCaption);
    c->Brush()->SetStyle(bsSolid);
    PaintBox(c, {3, 3 + kCaptionHeight, FWidth - 3, FHeight - 3});
    FBuffer.End();
    FDirty = false;
  }
  const TRect r = BoxRect();
  FBuffer.CopyTo(Image, r.Left, r.Top);
}

TModalResult TModalDialog::ShowModal() {
  if (Application == nullptr) return CancelResult();
  FEnded = false;
  FResult = mrNone;
  Stack().push_back(this);
  // Whatever held the mouse lets it go: the box has it now.
  SetCaptureControl(nullptr);
  FShown = true;
  if (FHost != nullptr) {
    FHost->AddOverlay(this);
    FHost->PresentImage();
  }
  while (!FEnded) {
    try {
      if (OnModalDialogPass) OnModalDialogPass(*this);
      if (FEnded) break;
      TModalLoop::Pass(*this);
    } catch (...) {
      Application->HandleException(Application);
    }
    if (FHost != nullptr && !(FHostAlive && *FHostAlive)) {
      FHost = nullptr;
      EndModal(CancelResult());
    }
  }
  FShown = false;
  std::erase(Stack(), this);
  if (FHost != nullptr) {
    FHost->RemoveOverlay(this);
    FHost->PresentImage();
  }
  return FResult;
}

const std::vector<TModalDialog*>& ModalDialogs() { return Stack(); }

TModalDialog* ActiveModalDialog() { return Stack().empty() ? nullptr : Stack().back(); }

// =============================================================================================
// TMessageBox

namespace {

constexpr int kMargin = 12;
constexpr int kIconSize = 32;
constexpr int kButtonHeight = 23;
constexpr int kButtonGap = 6;

std::string TypeCaption(TMsgDlgType Type) {
  switch (Type) {
    case mtWarning:
      return "警告";
    case mtError:
      return "エラー";
    case mtInformation:
      return "情報";
    case mtConfirmation:
      return "確認";
    default:
      return Application != nullptr ? Application->Title() : std::string();
  }
}

}  // namespace

TMessageBox::TMessageBox(const std::string& Text, TMsgDlgType DlgType, TMsgDlgButtons Buttons,
                         const std::string& Caption)
    : TModalDialog(TKind::Message, Caption, true), FText(Text), FType(DlgType) {
  static const struct {
    TMsgDlgBtn Button;
    const char* Caption;
    TModalResult Result;
  } kButtons[] = {{mbYes, "はい(&Y)", mrYes},
                  {mbNo, "いいえ(&N)", mrNo},
                  {mbOK, "OK", mrOk},
                  {mbCancel, "キャンセル", mrCancel},
                  {mbAbort, "中止(&A)", mrAbort},
                  {mbRetry, "再試行(&R)", mrRetry},
                  {mbIgnore, "無視(&I)", mrIgnore},
                  {mbAll, "すべて(&A)", mrAll},
                  {mbNoToAll, "すべていいえ(&O)", mrNoToAll},
                  {mbYesToAll, "すべてはい(&L)", mrYesToAll},
                  {mbHelp, "ヘルプ(&H)", mrNone}};
  for (const auto& b : kButtons)
    if (Buttons.Contains(b.Button)) FButtons.push_back({b.Caption, b.Result});
  if (FButtons.empty()) FButtons.push_back({"OK", mrOk});
  // Escape answers Cancel when there is one, else No, else OK.
  FCancel = Buttons.Contains(mbCancel) ? mrCancel
            : Buttons.Contains(mbNo)   ? mrNo
            : Buttons.Contains(mbOK)   ? mrOk
                                       : FButtons.front().Result;

  TTextEngine& text = TTextEngine::Instance();
  const TFontSpec font = BoxFont();
  // The text column is as wide as the box may grow inside its window and on the screen, less
  // what stands beside the text; longer lines are broken to it.
  int screenWidth = 0, screenHeight = 0;
  backend::Backend::Current().ScreenSize(screenWidth, screenHeight);
  int boxLimit = screenWidth - 8;
  if (Host() != nullptr) boxLimit = std::min(boxLimit, MaxBoxWidth(Host()->ClientWidth()));
  const int textLimit = std::min(MessageTextLimit(screenWidth),
                                 boxLimit - (kMargin + kIconSize + kMargin + kMargin + 6));
  FLines = WrapMessageText(Text, std::max(textLimit, 1));
  for (const std::string& l : FLines) FTextWidth = std::max(FTextWidth, text.Width(font, l));
  FLineHeight = text.Metrics(font).Height();
  for (const TButton& b : FButtons)
    FButtonWidth = std::max(FButtonWidth, text.Width(font, StripAccelerator(b.Caption)) + 16);
  const int buttonsWidth =
      static_cast<int>(FButtons.size()) * (FButtonWidth + kButtonGap) - kButtonGap;
  const int width = std::max({kMargin + kIconSize + kMargin + FTextWidth + kMargin + 6,
                              buttonsWidth + 2 * kMargin + 6, 180});
  const int textHeight = std::max(kIconSize, static_cast<int>(FLines.size()) * FLineHeight);
  const int height =
      3 + kCaptionHeight + kMargin + textHeight + kMargin + kButtonHeight + kMargin + 3;
  SetBoxSize(width, height);
}

TRect TMessageBox::ButtonRect(int Index) const {
  const int n = ButtonCount();
  const int total = n * (FButtonWidth + kButtonGap) - kButtonGap;
  const int left = (BoxWidth() - total) / 2 + Index * (FButtonWidth + kButtonGap);
  const int top = BoxHeight() - 3 - kMargin - kButtonHeight;
  return Bounds(left, top, FButtonWidth, kButtonHeight);
}

int TMessageBox::ButtonAt(int X, int Y) const {
  for (int i = 0; i < ButtonCount(); ++i)
    if (Inside(ButtonRect(i), X, Y)) return i;
  return -1;
}

bool TMessageBox::Choose(TModalResult Result) {
  for (const TButton& b : FButtons)
    if (b.Result == Result) {
      EndModal(Result);
      return true;
    }
  return false;
}

void TMessageBox::KeyDown(WORD Key) {
  const int n = ButtonCount();
  switch (Key) {
    case VK_LEFT:
    case VK_UP:
      FFocused = (FFocused + n - 1) % n;
      Changed();
      return;
    case VK_RIGHT:
    case VK_DOWN:
    case VK_TAB:
      FFocused = (FFocused + 1) % n;
      Changed();
      return;
    case VK_RETURN:
    case VK_SPACE:
      EndModal(FButtons[static_cast<std::size_t>(FFocused)].Result);
      return;
    case VK_ESCAPE:
      EndModal(FCancel);
      return;
    default:
      break;
  }
  for (const TButton& b : FButtons) {
    const char key = AcceleratorKey(b.Caption);
    if (key != 0 && static_cast<WORD>(static_cast<unsigned char>(key)) == Key) {
      EndModal(b.Result);
      return;
    }
  }
}

void TMessageBox::MouseDown(int X, int Y) {
  FPressed = ButtonAt(X, Y);
  if (FPressed >= 0) {
    FFocused = FPressed;
    Changed();
  }
}

void TMessageBox::MouseMove(int X, int Y) {}

void TMessageBox::MouseUp(int X, int Y) {
  const int was = FPressed;
  FPressed = -1;
  if (was < 0) return;
  Changed();
  if (ButtonAt(X, Y) == was) EndModal(FButtons[static_cast<std::size_t>(was)].Result);
}

void TMessageBox::PaintBox(TCanvas* C, const TRect& Client) {
  const int iconX = Client.Left + kMargin, iconY = Client.Top + kMargin;
  const int r = kIconSize / 2;
  const char* mark = nullptr;
  TColor disc = clBlue, ink = clWhite;
  switch (FType) {
    case mtConfirmation:
      mark = "?";
      break;
    case mtInformation:
      mark = "i";
      break;
    case mtWarning:
      mark = "!";
      disc = clYellow;
      ink = clBlack;
      break;
    case mtError:
      mark = "X";
      disc = clRed;
      break;
    default:
      break;
  }
  int textX = Client.Left + kMargin;
  if (mark != nullptr) {
    FillDisc(C, iconX + r, iconY + r, r, disc);
    TFontSpec big = BoxFont(true);
    big.Height = -22;
    UseFont(C, big, ink);
    C->Brush()->SetStyle(bsClear);
    const TSize s = C->TextExtent(mark);
    C->TextOut(iconX + r - s.cx / 2, iconY + r - s.cy / 2, mark);
    textX = iconX + kIconSize + kMargin;
  }
  UseFont(C, BoxFont(), clWindowText);
  C->Brush()->SetStyle(bsClear);
  const int textHeight = static_cast<int>(FLines.size()) * FLineHeight;
  int y = Client.Top + kMargin + std::max(0, (kIconSize - textHeight) / 2);
  for (const std::string& l : FLines) {
    C->TextOut(textX, y, l);
    y += FLineHeight;
  }
  C->Brush()->SetStyle(bsSolid);
  for (int i = 0; i < ButtonCount(); ++i)
    DrawButtonFace(C, ButtonRect(i), FButtons[static_cast<std::size_t>(i)].Caption, i == FPressed,
                   i == FFocused);
}

TModalResult TMessageBox::Execute() {
  if (Host() != nullptr) return ShowModal();
  // No window to show it in: the system's own box asks instead.
  backend::MessageBoxDesc d;
  d.title = Caption();
  d.text = FText;
  switch (FType) {
    case mtError:
      d.kind = backend::MessageBoxDesc::Kind::Error;
      break;
    case mtWarning:
      d.kind = backend::MessageBoxDesc::Kind::Warning;
      break;
    case mtConfirmation:
      d.kind = backend::MessageBoxDesc::Kind::Question;
      break;
    default:
      d.kind = backend::MessageBoxDesc::Kind::Information;
      break;
  }
  for (std::size_t i = 0; i < FButtons.size(); ++i) {
    d.buttons.push_back(StripAccelerator(FButtons[i].Caption));
    if (FButtons[i].Result == FCancel) d.escapeButton = static_cast<int>(i);
  }
  const int chosen = Machine().ShowMessageBox(d);
  const int n = ButtonCount();
  return FButtons[static_cast<std::size_t>(std::clamp(chosen, 0, n - 1))].Result;
}

TModalResult MessageDlg(const std::string& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons,
                        int HelpCtx) {
  TMessageBox box(Msg, DlgType, Buttons, TypeCaption(DlgType));
  return box.Execute();
}

void ShowMessage(const std::string& Msg) {
  TMessageBox box(Msg, mtCustom, {mbOK}, TypeCaption(mtCustom));
  box.Execute();
}

// =============================================================================================
// TOpenDialogBox

namespace {
constexpr int kListTop = 3 + 22 + 26;
constexpr int kFieldHeight = 22;
constexpr int kDialogButtonWidth = 80;
}  // namespace

TOpenDialogBox::TOpenDialogBox(const std::string& Folder, const std::string& FileName,
                               const std::string& Caption, const std::string& Filter)
    : TModalDialog(TKind::OpenFile, Caption, false), FFilter(Filter), FName(FileName) {
  FFolder = NativePathName(Folder.empty() ? std::string("./") : Folder);
  if (FFolder.back() != '/') FFolder += '/';
  SetBoxSize(340, 430);
  ReadFolder();
}

void TOpenDialogBox::ReadFolder() {
  FFiles.clear();
  FSelected = -1;
  FTop = 0;
  FLastClickRow = -1;
  // The filter travels as "mask list" after a '|' in FFilter: see TOpenDialog::Execute.
  std::vector<std::string> masks;
  {
    std::string list = FFilter, mask;
    for (char c : list + ";") {
      if (c == ';') {
        if (!mask.empty()) masks.push_back(mask);
        mask.clear();
      } else {
        mask += c;
      }
    }
  }
  std::error_code ec;
  for (std::filesystem::directory_iterator it(FFolder, ec), end; !ec && it != end;
       it.increment(ec)) {
    std::error_code fec;
    if (!it->is_regular_file(fec)) continue;
    const std::string name = it->path().filename().string();
    // Hidden files (the scratch files of an interrupted save among them) stay out of the list.
    if (name.empty() || name[0] == '.') continue;
    bool match = masks.empty();
    for (const std::string& m : masks) match = match || MatchesMask(name, m);
    if (match) FFiles.push_back(name);
  }
  std::sort(FFiles.begin(), FFiles.end(),
            [](const std::string& a, const std::string& b) { return CompareText(a, b) < 0; });
  for (std::size_t i = 0; i < FFiles.size(); ++i)
    if (SameText(FFiles[i], FName)) {
      FSelected = static_cast<int>(i);
      ScrollTo(FSelected);
    }
  Changed();
}

TRect TOpenDialogBox::ListRect() const {
  return {9, kListTop, BoxWidth() - 9, BoxHeight() - 3 - 12 - 23 - 10 - kFieldHeight - 8};
}

TRect TOpenDialogBox::OpenButtonRect() const {
  const int top = BoxHeight() - 3 - 12 - 23;
  return Bounds(BoxWidth() - 9 - 2 * kDialogButtonWidth - kButtonGap, top, kDialogButtonWidth, 23);
}

TRect TOpenDialogBox::CancelButtonRect() const {
  const int top = BoxHeight() - 3 - 12 - 23;
  return Bounds(BoxWidth() - 9 - kDialogButtonWidth, top, kDialogButtonWidth, 23);
}

int TOpenDialogBox::VisibleRows() const {
  const TRect l = ListRect();
  return std::max((l.Bottom - l.Top - 4) / kRowHeight, 1);
}

void TOpenDialogBox::ScrollTo(int Index) {
  if (Index < 0) return;
  const int rows = VisibleRows();
  if (Index < FTop) FTop = Index;
  if (Index >= FTop + rows) FTop = Index - rows + 1;
}

void TOpenDialogBox::Select(int Index) {
  if (FFiles.empty()) return;
  Index = std::clamp(Index, 0, static_cast<int>(FFiles.size()) - 1);
  FSelected = Index;
  FName = FFiles[static_cast<std::size_t>(Index)];
  ScrollTo(Index);
  Changed();
}

void TOpenDialogBox::SetFileNameText(const std::string& Text) {
  FName = Text;
  Changed();
}

void TOpenDialogBox::Accept() {
  const std::string name = NativePathName(Trim(FName));
  if (name.empty()) return;
  std::string path = name[0] == '/' ? name : FFolder + name;
  if (DirectoryExists(path)) {
    // A folder typed in the field opens in the list.
    if (path.back() != '/') path += '/';
    FFolder = path;
    FName.clear();
    ReadFolder();
    return;
  }
  FChosen = path;
  EndModal(mrOk);
}

void TOpenDialogBox::CloseRequested() {
  // Closing the window here ends the program: nothing is open yet that could be saved.
  FWindowClosed = true;
  if (Application != nullptr) Application->Terminate();
  EndModal(mrCancel);
}

void TOpenDialogBox::KeyDown(WORD Key) {
  const int last = static_cast<int>(FFiles.size()) - 1;
  switch (Key) {
    case VK_UP:
      Select(FSelected < 0 ? 0 : FSelected - 1);
      break;
    case VK_DOWN:
      Select(FSelected < 0 ? 0 : FSelected + 1);
      break;
    case VK_PRIOR:
      Select(FSelected - VisibleRows());
      break;
    case VK_NEXT:
      Select(std::max(FSelected, 0) + VisibleRows());
      break;
    case VK_HOME:
      Select(0);
      break;
    case VK_END:
      Select(last);
      break;
    case VK_RETURN:
      Accept();
      break;
    case VK_ESCAPE:
      Cancel();
      break;
    case VK_BACK:
      PopUtf8Char(FName);
      Changed();
      break;
    default:
      break;
  }
}

void TOpenDialogBox::TextTyped(const std::string& Text) {
  for (char c : Text)
    if (static_cast<unsigned char>(c) >= 32 && c != 127) FName += c;
  Changed();
}

void TOpenDialogBox::MouseDown(int X, int Y) {
  if (Inside(OpenButtonRect(), X, Y)) {
    FPressedButton = 0;
    Changed();
    return;
  }
  if (Inside(CancelButtonRect(), X, Y)) {
    FPressedButton = 1;
    Changed();
    return;
  }
  const TRect l = ListRect();
  if (!Inside(l, X, Y)) return;
  const int row = FTop + (Y - l.Top - 2) / kRowHeight;
  if (row < 0 || row >= static_cast<int>(FFiles.size())) return;
  const std::uint32_t now = timeGetTime();
  const bool twice = row == FLastClickRow && now - FLastClickTime <= kDoubleClickMs;
  Select(row);
  FLastClickRow = row;
  FLastClickTime = now;
  if (twice) Accept();
}

void TOpenDialogBox::MouseUp(int X, int Y) {
  const int was = FPressedButton;
  FPressedButton = -1;
  if (was < 0) return;
  Changed();
  if (was == 0 && Inside(OpenButtonRect(), X, Y)) Accept();
  if (was == 1 && Inside(CancelButtonRect(), X, Y)) Cancel();
}

void TOpenDialogBox::MouseWheel(int Notches) {
  const int maxTop = std::max(static_cast<int>(FFiles.size()) - VisibleRows(), 0);
  FTop = std::clamp(FTop - 3 * Notches, 0, maxTop);
  Changed();
}

void TOpenDialogBox::PaintBox(TCanvas* C, const TRect& Client) {
  UseFont(C, BoxFont(), clWindowText);
  C->Brush()->SetStyle(bsClear);
  C->TextOut(9, Client.Top + 6, "場所: " + FFolder);
  // The list.
  const TRect l = ListRect();
  C->Brush()->SetStyle(bsSolid);
  C->Brush()->SetColor(clWindow);
  C->FillRect(l);
  DrawEdge3D(C, l, false);
  const int rows = VisibleRows();
  for (int i = 0; i < rows && FTop + i < static_cast<int>(FFiles.size()); ++i) {
    const int index = FTop + i;
    const TRect row{l.Left + 2, l.Top + 2 + i * kRowHeight, l.Right - 2,
                    l.Top + 2 + (i + 1) * kRowHeight};
    const bool selected = index == FSelected;
    if (selected) {
      C->Brush()->SetColor(clHighlight);
      C->FillRect(row);
    }
    UseFont(C, BoxFont(), selected ? clHighlightText : clWindowText);
    C->Brush()->SetStyle(bsClear);
    C->TextOut(row.Left + 3, row.Top + 1, FFiles[static_cast<std::size_t>(index)]);
    C->Brush()->SetStyle(bsSolid);
  }
  if (FFiles.empty()) {
    UseFont(C, BoxFont(), clGrayText);
    C->Brush()->SetStyle(bsClear);
    C->TextOut(l.Left + 5, l.Top + 4, "(ファイルがありません)");
    C->Brush()->SetStyle(bsSolid);
  }
  // The file-name field.
  const int fieldTop = l.Bottom + 8;
  UseFont(C, BoxFont(), clWindowText);
  C->Brush()->SetStyle(bsClear);
  const std::string label = "ファイル名(&N):";
  const int labelWidth = C->TextWidth(StripAccelerator(label));
  C->TextOut(9, fieldTop + 4, StripAccelerator(label));
  const TRect field{9 + labelWidth + 6, fieldTop, BoxWidth() - 9, fieldTop + kFieldHeight};
  C->Brush()->SetStyle(bsSolid);
  C->Brush()->SetColor(clWindow);
  C->FillRect(field);
  DrawEdge3D(C, field, false);
  C->Brush()->SetStyle(bsClear);
  // The end of a long name stays in sight, with the caret after it.
  std::string shown = FName;
  const int room = field.Right - field.Left - 10;
  while (!shown.empty() && C->TextWidth(shown) > room) {
    std::size_t cut = 1;
    while (cut < shown.size() && (static_cast<unsigned char>(shown[cut]) & 0xC0) == 0x80) ++cut;
    shown.erase(0, cut);
  }
  C->TextOut(field.Left + 4, field.Top + 4, shown);
  const int caret = field.Left + 4 + C->TextWidth(shown);
  C->Brush()->SetStyle(bsSolid);
  C->Brush()->SetColor(clWindowText);
  C->FillRect({caret, field.Top + 4, caret + 1, field.Bottom - 4});
  DrawButtonFace(C, OpenButtonRect(), "開く(&O)", FPressedButton == 0, true);
  DrawButtonFace(C, CancelButtonRect(), "キャンセル", FPressedButton == 1, false);
}

TModalResult TOpenDialogBox::Execute() { return ShowModal(); }

// =============================================================================================
// TOpenDialog

TOpenDialog::TOpenDialog(TComponent* AOwner) : TComponent(AOwner) {}

bool TOpenDialog::Execute() {
  std::string folder = InitialDir;
  if (folder.empty()) folder = ExtractFilePath(FileName);
  std::string masks;
  for (const std::string& m : FilterMasks(Filter, FilterIndex))
    masks += (masks.empty() ? "" : ";") + m;
  TOpenDialogBox box(folder, ExtractFileName(FileName), Title.empty() ? "ファイルを開く" : Title,
                     masks);
  const TModalResult r = box.Execute();
  if (box.WindowClosed()) throw EAbort("Operation aborted");
  if (r != mrOk) return false;
  FileName = box.ChosenPath();
  return true;
}

void TOpenDialog::DefineProperties(TPropertyDefs& P) {
  TComponent::DefineProperties(P);
  P.String("FileName", FileName).Default(std::string());
  P.String("InitialDir", InitialDir).Default(std::string());
  P.String("Filter", Filter).Default(std::string());
  P.Int("FilterIndex", FilterIndex).Default(1);
  P.String("DefaultExt", DefaultExt).Default(std::string());
  P.String("Title", Title).Default(std::string());
}
