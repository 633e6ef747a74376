// TLabel: a line of text on a form, drawn by its parent.
#pragma once

#include <string>

#include "platform/forms/Controls.h"
#include "platform/forms/PaintBuffer.h"
#include "platform/gdi/Canvas.h"

enum TAlignment { taLeftJustify, taRightJustify, taCenter };

class TLabel : public TGraphicControl {
 public:
  explicit TLabel(TComponent* AOwner);

  void SetCaption(const std::string& Value) override;
  // With AutoSize the label takes the size of its text whenever the text or font changes.
  bool AutoSize() const { return FAutoSize; }
  void SetAutoSize(bool Value);
  TAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TAlignment Value);
  // A transparent label draws only its text; otherwise it fills its area with Color first.
  bool Transparent() const { return FTransparent; }
  void SetTransparent(bool Value);
  TFont* Font() { return &FFont; }

  void DefineProperties(TPropertyDefs& P) override;
  void Loaded() override;

 protected:
  void Paint() override;

 private:
  void AdjustBounds();
  bool FAutoSize = true;
  TAlignment FAlignment = taLeftJustify;
  bool FTransparent = false;
  TFont FFont;
  TPaintBuffer FBuffer;
};
