#include "platform/gdi/Clipbrd.h"

#include "platform/gdi/Graphics.h"

TClipboard::~TClipboard() { Clear(); }

void TClipboard::FreeData(WORD format, HANDLE data) {
  if (format == CF_PALETTE)
    DeleteObject(static_cast<HPALETTE>(data));
  else
    GlobalFree(data);
}

void TClipboard::Clear() {
  for (auto& [format, data] : FData) FreeData(format, data);
  FData.clear();
}

bool TClipboard::HasFormat(WORD format) const { return FData.count(format) != 0; }

HANDLE TClipboard::GetAsHandle(WORD format) const {
  auto it = FData.find(format);
  return it == FData.end() ? nullptr : it->second;
}

void TClipboard::SetAsHandle(WORD format, HANDLE data) {
  auto it = FData.find(format);
  if (it != FData.end()) {
    if (it->second == data) return;
    FreeData(format, it->second);
    FData.erase(it);
  }
  if (data) FData[format] = data;
}

void TClipboard::Assign(TPersistent* source) {
  TGraphic* graphic = dynamic_cast<TGraphic*>(source);
  if (auto* picture = dynamic_cast<TPicture*>(source)) graphic = picture->Graphic();
  if (!graphic) {
    TPersistent::Assign(source);
    return;
  }
  WORD format = 0;
  HANDLE data = nullptr;
  HPALETTE palette = nullptr;
  graphic->SaveToClipboardFormat(format, data, palette);
  Clear();
  SetAsHandle(format, data);
  if (palette) SetAsHandle(CF_PALETTE, palette);
}

void TClipboard::AssignTo(TPersistent* dest) {
  auto* picture = dynamic_cast<TPicture*>(dest);
  auto* graphic = dynamic_cast<TGraphic*>(dest);
  if (!picture && !graphic) {
    TPersistent::AssignTo(dest);
    return;
  }
  HPALETTE palette = static_cast<HPALETTE>(GetAsHandle(CF_PALETTE));
  for (const auto& [format, data] : FData) {
    if (format == CF_PALETTE) continue;
    if (picture && TPicture::SupportsClipboardFormat(format)) {
      picture->LoadFromClipboardFormat(format, data, palette);
      return;
    }
    if (graphic) {
      graphic->LoadFromClipboardFormat(format, data, palette);
      return;
    }
  }
  throw EConvertError("The clipboard holds no picture");
}

TClipboard* Clipboard() {
  static TClipboard clipboard;
  return &clipboard;
}
