#include "platform/gdi/Graphics.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/gdi/Clipbrd.h"
#include "platform/rtl/SysUtils.h"

namespace {

struct FileFormatEntry {
  std::string Extension;
  std::string Description;
  TGraphicClass Class;
};

struct ClipboardFormatEntry {
  WORD Format;
  TGraphicClass Class;
};

std::vector<FileFormatEntry>& FileFormats() {
  static std::vector<FileFormatEntry> formats;
  return formats;
}

std::vector<ClipboardFormatEntry>& ClipboardFormats() {
  static std::vector<ClipboardFormatEntry> formats;
  return formats;
}

const TGraphicClass& BitmapClass() {
  static const TGraphicClass cls{"TBitmap", [] { return static_cast<TGraphic*>(new TBitmap); }};
  return cls;
}

std::string NormalExtension(std::string ext) {
  if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
  return LowerCase(ext);
}

}  // namespace

void TSharedImage::Release() {
  if (FRefCount > 0) --FRefCount;
  if (FRefCount == 0) {
    FreeHandle();
    delete this;
  }
}

// ---- TGraphic ----

void TGraphic::SetModified(bool value) {
  if (value)
    Changed(this);
  else
    FModified = false;
}

void TGraphic::Changed(TObject*) {
  FModified = true;
  if (OnChange) OnChange(this);
}

void TGraphic::LoadFromFile(const std::string& fileName) {
  TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(&stream);
}

void TGraphic::SaveToFile(const std::string& fileName) {
  TMemoryStream stream;
  SaveToStream(&stream);
  SaveBytesToFile(fileName, stream.Memory(), static_cast<std::size_t>(stream.Size()));
}

void TGraphic::DefineProperties(TPropertyDefs& defs) {
  TPersistent::DefineProperties(defs);
  defs.DefineBinaryProperty(
      "Data", [this](TStream* s) { ReadData(s); }, [this](TStream* s) { WriteData(s); }, !Empty());
}

// ---- TPicture ----

TPicture::TPicture() = default;

TPicture::~TPicture() { delete FGraphic; }

int TPicture::Width() const { return FGraphic ? FGraphic->Width() : 0; }
int TPicture::Height() const { return FGraphic ? FGraphic->Height() : 0; }

void TPicture::Changed(TObject*) {
  if (OnChange) OnChange(this);
}

void TPicture::TakeGraphic(TGraphic* graphic) {
  TGraphic* old = FGraphic;
  FGraphic = graphic;
  if (FGraphic) FGraphic->OnChange = [this](TObject* sender) { Changed(sender); };
  delete old;
  Changed(this);
}

void TPicture::SetGraphic(TGraphic* value) {
  if (value == FGraphic && value) return;
  if (!value) {
    TakeGraphic(nullptr);
    return;
  }
  const TGraphicClass* cls = FindGraphicClass(value->ClassName());
  if (!cls) throw EInvalidGraphic(Format("Unknown picture format (%s)", {value->ClassName()}));
  std::unique_ptr<TGraphic> copy(cls->Create());
  copy->Assign(value);
  TakeGraphic(copy.release());
}

void TPicture::LoadFromFile(const std::string& fileName) {
  const std::string ext = NormalExtension(ExtractFileExt(fileName));
  const TGraphicClass* cls = FileFormat(ext);
  if (!cls) throw EInvalidGraphic(Format("Unknown picture file extension (.%s)", {ext}));
  std::unique_ptr<TGraphic> graphic(cls->Create());
  graphic->LoadFromFile(fileName);
  TakeGraphic(graphic.release());
}

void TPicture::SaveToFile(const std::string& fileName) {
  if (FGraphic) FGraphic->SaveToFile(fileName);
}

void TPicture::LoadFromClipboardFormat(WORD format, HANDLE data, HPALETTE palette) {
  const TGraphicClass* cls = nullptr;
  for (const auto& e : ClipboardFormats())
    if (e.Format == format) cls = &e.Class;
  if (!cls) throw EInvalidGraphic("Unsupported clipboard format");
  std::unique_ptr<TGraphic> graphic(cls->Create());
  graphic->LoadFromClipboardFormat(format, data, palette);
  TakeGraphic(graphic.release());
}

void TPicture::SaveToClipboardFormat(WORD& format, HANDLE& data, HPALETTE& palette) {
  if (FGraphic) FGraphic->SaveToClipboardFormat(format, data, palette);
}

bool TPicture::SupportsClipboardFormat(WORD format) {
  for (const auto& e : ClipboardFormats())
    if (e.Format == format) return true;
  return false;
}

void TPicture::RegisterFileFormat(const std::string& extension, const std::string& description,
                                  const TGraphicClass& graphicClass) {
  const std::string ext = NormalExtension(extension);
  auto& formats = FileFormats();
  // The latest registration of an extension wins, as the class library searches from the end.
  formats.erase(std::remove_if(formats.begin(), formats.end(),
                               [&](const FileFormatEntry& e) { return e.Extension == ext; }),
                formats.end());
  formats.push_back({ext, description, graphicClass});
}

void TPicture::RegisterClipboardFormat(WORD format, const TGraphicClass& graphicClass) {
  auto& formats = ClipboardFormats();
  formats.erase(std::remove_if(formats.begin(), formats.end(),
                               [&](const ClipboardFormatEntry& e) { return e.Format == format; }),
                formats.end());
  formats.push_back({format, graphicClass});
}

void TPicture::UnregisterGraphicClass(const std::string& className) {
  auto& files = FileFormats();
  files.erase(
      std::remove_if(files.begin(), files.end(),
                     [&](const FileFormatEntry& e) { return SameText(e.Class.Name, className); }),
      files.end());
  auto& clips = ClipboardFormats();
  clips.erase(std::remove_if(
                  clips.begin(), clips.end(),
                  [&](const ClipboardFormatEntry& e) { return SameText(e.Class.Name, className); }),
              clips.end());
}

const TGraphicClass* TPicture::FileFormat(const std::string& extension) {
  const std::string ext = NormalExtension(extension);
  for (const auto& e : FileFormats())
    if (e.Extension == ext) return &e.Class;
  return nullptr;
}

const TGraphicClass* TPicture::FindGraphicClass(const std::string& className) {
  for (const auto& e : FileFormats())
    if (SameText(e.Class.Name, className)) return &e.Class;
  for (const auto& e : ClipboardFormats())
    if (SameText(e.Class.Name, className)) return &e.Class;
  if (SameText(BitmapClass().Name, className)) return &BitmapClass();
  return nullptr;
}

void TPicture::Assign(TPersistent* source) {
  if (!source) {
    SetGraphic(nullptr);
  } else if (auto* picture = dynamic_cast<TPicture*>(source)) {
    SetGraphic(picture->Graphic());
  } else if (auto* graphic = dynamic_cast<TGraphic*>(source)) {
    SetGraphic(graphic);
  } else {
    TPersistent::Assign(source);
  }
}

void TPicture::AssignTo(TPersistent* dest) {
  if (FGraphic && dynamic_cast<TGraphic*>(dest)) {
    dest->Assign(FGraphic);
    return;
  }
  TPersistent::AssignTo(dest);
}

void TPicture::DefineProperties(TPropertyDefs& defs) {
  TPersistent::DefineProperties(defs);
  defs.DefineBinaryProperty(
      "Data", [this](TStream* s) { ReadData(s); }, [this](TStream* s) { WriteData(s); },
      FGraphic != nullptr && !FGraphic->Empty());
}

void TPicture::ReadData(TStream* stream) {
  const std::uint8_t length = stream->ReadByte();
  std::string name(length, '\0');
  if (length > 0) stream->ReadBuffer(name.data(), length);
  if (name.empty()) {
    TakeGraphic(nullptr);
    return;
  }
  const TGraphicClass* cls = FindGraphicClass(name);
  if (!cls) throw EInvalidGraphic(Format("Unknown picture class %s in stored data", {name}));
  std::unique_ptr<TGraphic> graphic(cls->Create());
  graphic->ReadData(stream);
  TakeGraphic(graphic.release());
}

void TPicture::WriteData(TStream* stream) {
  std::string name = FGraphic ? FGraphic->ClassName() : "";
  if (name.size() > 255) name.resize(255);
  stream->WriteByte(static_cast<std::uint8_t>(name.size()));
  if (!name.empty()) stream->WriteBuffer(name.data(), static_cast<std::int64_t>(name.size()));
  if (FGraphic) FGraphic->WriteData(stream);
}

// ---- TBitmap ----

TBitmap::TBitmap() = default;

TBitmap::~TBitmap() {
  delete FCanvas;
  if (FDC) DeleteDC(FDC);
  if (FHandle) DeleteObject(FHandle);
  if (FPalette) DeleteObject(FPalette);
}

void TBitmap::Rebuild(int width, int height, TPixelFormat format) {
  if (width <= 0 || height <= 0) {
    if (FCanvas) FCanvas->SetHandle(nullptr);
    if (FDC) DeleteDC(FDC);
    if (FHandle) DeleteObject(FHandle);
    FDC = nullptr;
    FHandle = nullptr;
    FWidth = std::max(width, 0);
    FHeight = std::max(height, 0);
    FPixelFormat = format;
    return;
  }
  HBITMAP bitmap = nullptr;
  if (format == pfDevice) {
    bitmap = CreateCompatibleBitmap(nullptr, width, height);
  } else {
    int bits = 32;
    DWORD masks[3] = {};
    switch (format) {
      case pf1bit:
        bits = 1;
        break;
      case pf4bit:
        bits = 4;
        break;
      case pf8bit:
        bits = 8;
        break;
      case pf15bit:
        bits = 16;
        break;
      case pf16bit:
        bits = 16;
        masks[0] = 0xF800, masks[1] = 0x07E0, masks[2] = 0x001F;
        break;
      case pf24bit:
        bits = 24;
        break;
      default:
        bits = 32;
        break;
    }
    std::vector<BYTE> block(sizeof(BITMAPINFOHEADER) + sizeof masks + 256 * sizeof(RGBQUAD), 0);
    BITMAPINFOHEADER h{};
    h.biSize = sizeof h;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(bits);
    h.biCompression = masks[0] ? BI_BITFIELDS : BI_RGB;
    std::memcpy(block.data(), &h, sizeof h);
    std::size_t pos = sizeof h;
    if (masks[0]) {
      std::memcpy(block.data() + pos, masks, sizeof masks);
      pos += sizeof masks;
    }
    if (bits <= 8) {
      const int n = 1 << bits;
      for (int i = 0; i < n; ++i) {
        const BYTE v = static_cast<BYTE>(i * 255 / (n - 1));
        const RGBQUAD q{v, v, v, 0};
        std::memcpy(block.data() + pos + i * sizeof q, &q, sizeof q);
      }
    }
    bitmap = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(block.data()), DIB_RGB_COLORS,
                              nullptr, nullptr, 0);
  }
  if (!bitmap) throw EOutOfMemory("Out of system resources");
  HDC dc = CreateCompatibleDC(nullptr);
  SelectObject(dc, bitmap);
  // The old pixels stay where the new size has room for them.
  if (FHandle && FDC)
    BitBlt(dc, 0, 0, std::min(width, FWidth), std::min(height, FHeight), FDC, 0, 0, SRCCOPY);
  if (FDC) DeleteDC(FDC);
  if (FHandle) DeleteObject(FHandle);
  if (FPalette) {
    DeleteObject(FPalette);
    FPalette = nullptr;
  }
  FHandle = bitmap;
  FDC = dc;
  FWidth = width;
  FHeight = height;
  FPixelFormat = format;
  if (FCanvas) FCanvas->SetHandle(FDC);
}

void TBitmap::SetPixelFormat(TPixelFormat value) {
  if (value == FPixelFormat || value == pfCustom) return;
  Rebuild(FWidth, FHeight, value);
  Changed(this);
}

void TBitmap::SetSize(int width, int height) {
  if (width == FWidth && height == FHeight) return;
  Rebuild(width, height, FPixelFormat);
  Changed(this);
}

TCanvas* TBitmap::Canvas() {
  if (!FCanvas) {
    FCanvas = new TCanvas;
    FCanvas->SetHandle(FDC);
    FCanvas->OnChange = [this](TObject*) { Changed(this); };
  }
  return FCanvas;
}

void TBitmap::Assign(TPersistent* source) {
  auto* other = dynamic_cast<TBitmap*>(source);
  if (!other) {
    TGraphic::Assign(source);
    return;
  }
  if (other == this) return;
  Rebuild(0, 0, other->FPixelFormat);
  Rebuild(other->FWidth, other->FHeight, other->FPixelFormat);
  if (FDC && other->FDC) {
    if (other->FHandle->IsDIBSection && FHandle->Buffer.Indexed()) {
      RGBQUAD table[256];
      const UINT n = GetDIBColorTable(other->FDC, 0, 256, table);
      SetDIBColorTable(FDC, 0, n, table);
    }
    BitBlt(FDC, 0, 0, FWidth, FHeight, other->FDC, 0, 0, SRCCOPY);
  }
  Changed(this);
}

HPALETTE TBitmap::GetPalette() {
  if (!FPalette && FHandle && FHandle->Buffer.Indexed()) {
    const TPixelBuffer& b = FHandle->Buffer;
    std::vector<BYTE> block(sizeof(LOGPALETTE) + 256 * sizeof(PALETTEENTRY), 0);
    const WORD n = static_cast<WORD>(std::min(b.ColorCount, 256));
    const WORD version = 0x300;
    std::memcpy(block.data() + offsetof(LOGPALETTE, palVersion), &version, sizeof version);
    std::memcpy(block.data() + offsetof(LOGPALETTE, palNumEntries), &n, sizeof n);
    for (int i = 0; i < n; ++i) {
      const PALETTEENTRY e{b.ColorTable[i].rgbRed, b.ColorTable[i].rgbGreen,
                           b.ColorTable[i].rgbBlue, 0};
      std::memcpy(block.data() + offsetof(LOGPALETTE, palPalEntry) + i * sizeof e, &e, sizeof e);
    }
    FPalette = CreatePalette(reinterpret_cast<LOGPALETTE*>(block.data()));
  }
  return FPalette;
}

void TBitmap::SetPalette(HPALETTE value) {
  if (value == FPalette) return;
  if (FDC && FHandle && FHandle->Buffer.Indexed() && IsLiveObject(value)) {
    PALETTEENTRY entries[256];
    const UINT n = GetPaletteEntries(value, 0, 256, entries);
    RGBQUAD table[256];
    for (UINT i = 0; i < n; ++i)
      table[i] = {entries[i].peBlue, entries[i].peGreen, entries[i].peRed, 0};
    SetDIBColorTable(FDC, 0, n, table);
  }
  if (FPalette) DeleteObject(FPalette);
  FPalette = value;
  PaletteModified = true;
  Changed(this);
}

void TBitmap::Draw(TCanvas* canvas, const TRect& rect) {
  if (!FDC) return;
  StretchBlt(canvas->Handle(), rect.Left, rect.Top, rect.Width(), rect.Height(), FDC, 0, 0, FWidth,
             FHeight, canvas->CopyMode);
}

void TBitmap::LoadFromStream(TStream*) {
  throw EInvalidGraphicOperation("Bitmap streams are read as device-independent bitmaps");
}

void TBitmap::SaveToStream(TStream*) {
  throw EInvalidGraphicOperation("Bitmap streams are written as device-independent bitmaps");
}

void TBitmap::LoadFromClipboardFormat(WORD, HANDLE, HPALETTE) {
  throw EInvalidGraphic("Unsupported clipboard format");
}

void TBitmap::SaveToClipboardFormat(WORD&, HANDLE&, HPALETTE&) {
  throw EInvalidGraphic("Unsupported clipboard format");
}
