#include "platform/forms/StdCtrls.h"

#include "platform/forms/Forms.h"
#include "platform/gdi/Fonts.h"

namespace {
const bool registered = (RegisterClass<TLabel>("TLabel"), true);
const std::vector<std::string> kAlignmentNames = {"taLeftJustify", "taRightJustify", "taCenter"};
}  // namespace

TLabel::TLabel(TComponent* AOwner) : TGraphicControl(AOwner) {
  FWidth = 65;
  FHeight = 17;
  FFont.OnChange = [this](TObject*) {
    AdjustBounds();
    Invalidate();
  };
}

void TLabel::SetCaption(const std::string& Value) {
  TGraphicControl::SetCaption(Value);
  AdjustBounds();
}

void TLabel::SetAutoSize(bool Value) {
  if (Value == FAutoSize) return;
  FAutoSize = Value;
  AdjustBounds();
}

void TLabel::SetAlignment(TAlignment Value) {
  if (Value == FAlignment) return;
  FAlignment = Value;
  Invalidate();
}

void TLabel::SetTransparent(bool Value) {
  if (Value == FTransparent) return;
  FTransparent = Value;
  Invalidate();
}

void TLabel::AdjustBounds() {
  // Stored bounds are read before the caption; the size follows once everything is in.
  if (!FAutoSize || ComponentState().Contains(csLoading)) return;
  TTextEngine& text = TTextEngine::Instance();
  const TFontSpec spec = FFont.Spec();
  const int w = text.Width(spec, FCaption);
  const int h = text.Metrics(spec).Height();
  if (w != FWidth || h != FHeight) SetBounds(FLeft, FTop, w, h);
}

void TLabel::Loaded() {
  TGraphicControl::Loaded();
  AdjustBounds();
}

void TLabel::Paint() {
  TCustomForm* form = GetParentForm(this);
  if (form == nullptr) return;
  TCanvas* c = FBuffer.Begin(FWidth, FHeight);
  c->SetFont(&FFont);
  const TWindowImage& img = form->Image();
  const TPoint at = ControlOffsetInForm(this);
  if (FTransparent) {
    // Start from what lies beneath, so only the glyphs change it.
    FBuffer.CopyFrom(img, at.X, at.Y);
  } else {
    c->Brush()->SetStyle(bsSolid);
    c->Brush()->SetColor(FColor);
    c->FillRect({0, 0, FWidth, FHeight});
  }
  TColor color = FFont.Color();
  if (!FEnabled) color = clGrayText;
  c->Font()->SetColor(color);
  const int w = c->TextWidth(FCaption);
  int x = 0;
  if (FAlignment == taRightJustify) x = FWidth - w;
  if (FAlignment == taCenter) x = (FWidth - w) / 2;
  c->Brush()->SetStyle(bsClear);
  c->TextOut(x, 0, FCaption);
  FBuffer.End();
  FBuffer.CopyTo(form->Image(), at.X, at.Y);
}

void TLabel::DefineProperties(TPropertyDefs& P) {
  TGraphicControl::DefineProperties(P);
  P.String(
       "Caption", [this] { return FCaption; }, [this](const std::string& v) { SetCaption(v); })
      .Default(std::string());
  P.Bool(
       "AutoSize", [this] { return FAutoSize; }, [this](bool v) { SetAutoSize(v); })
      .Default(true);
  P.Enum(
       "Alignment", kAlignmentNames, [this] { return FAlignment; },
       [this](TAlignment v) { SetAlignment(v); })
      .Default(taLeftJustify);
  P.Bool(
       "Transparent", [this] { return FTransparent; }, [this](bool v) { SetTransparent(v); })
      .Default(false);
}
