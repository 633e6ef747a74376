// The clipboard, kept inside the process: formats map to global memory blocks (or palettes)
// that the clipboard owns once they are set.
#pragma once

#include <map>

#include "platform/gdi/Gdi.h"
#include "platform/rtl/Classes.h"
#include "platform/win/GlobalMemory.h"

constexpr WORD CF_BITMAP = 2;
constexpr WORD CF_DIB = 8;
constexpr WORD CF_PALETTE = 9;

class TClipboard : public TPersistent {
 public:
  ~TClipboard() override;

  void Clear();
  bool HasFormat(WORD format) const;
  // The block held for the format (still the clipboard's), or nullptr.
  HANDLE GetAsHandle(WORD format) const;
  // The clipboard takes the block (a palette handle for CF_PALETTE) and frees what it held.
  void SetAsHandle(WORD format, HANDLE data);

  // A picture or graphic is put on the clipboard in its clipboard format.
  void Assign(TPersistent* source) override;

 protected:
  // Into a picture or graphic, from the first format it can read.
  void AssignTo(TPersistent* dest) override;

 private:
  static void FreeData(WORD format, HANDLE data);
  std::map<WORD, HANDLE> FData;
};

TClipboard* Clipboard();
