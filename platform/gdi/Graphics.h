// The class library's picture classes: TGraphic (any picture that can draw itself on a canvas
// and read and write itself), TPicture (holds one graphic of whichever registered class, loads
// files by extension and stores its graphic in forms as "Data"), the reference-counted image
// base TSharedImage, and TBitmap as far as the framework uses it.
//
// Picture classes register themselves with TPicture for file extensions and clipboard formats;
// stored picture data names the graphic's class, and the class is found among the registered
// ones by that name.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/gdi/Canvas.h"
#include "platform/gdi/Gdi.h"
#include "platform/rtl/Classes.h"
#include "platform/rtl/Streams.h"

class TGraphic;
class TPicture;

MORVANE_DECLARE_EXCEPTION(EOutOfResources, EOutOfMemory)

// Shared pixel data of copy-on-write pictures: freed when its last holder releases it.
class TSharedImage : public TObject {
 public:
  int RefCount() const { return FRefCount; }
  void Reference() { ++FRefCount; }
  void Release();

 protected:
  virtual void FreeHandle() = 0;

 private:
  int FRefCount = 0;
};

// A graphic class: its name (as stored data spells it) and how to make one.
struct TGraphicClass {
  std::string Name;
  std::function<TGraphic*()> Create;
};

template <class T>
TGraphicClass GraphicClassOf() {
  T probe;
  return {probe.ClassName(), [] { return static_cast<TGraphic*>(new T); }};
}

class TGraphic : public TPersistent {
 public:
  bool Empty() { return GetEmpty(); }
  int Width() { return GetWidth(); }
  virtual void SetWidth(int value) = 0;
  int Height() { return GetHeight(); }
  virtual void SetHeight(int value) = 0;
  HPALETTE Palette() { return GetPalette(); }
  virtual void SetPalette(HPALETTE value) {}
  bool Modified() const { return FModified; }
  void SetModified(bool value);
  bool PaletteModified = false;
  TNotifyEvent OnChange;

  // Through a file stream; saving writes the whole file or leaves the old one.
  virtual void LoadFromFile(const std::string& fileName);
  virtual void SaveToFile(const std::string& fileName);
  virtual void LoadFromStream(TStream* stream) = 0;
  virtual void SaveToStream(TStream* stream) = 0;
  virtual void LoadFromClipboardFormat(WORD format, HANDLE data, HPALETTE palette) = 0;
  virtual void SaveToClipboardFormat(WORD& format, HANDLE& data, HPALETTE& palette) = 0;

  // "Data": the graphic's own data, when a graphic is itself a stored property.
  void DefineProperties(TPropertyDefs& defs) override;

 protected:
  friend class TCanvas;
  friend class TPicture;

  virtual void Changed(TObject* sender);
  virtual void Draw(TCanvas* canvas, const TRect& rect) = 0;
  virtual bool GetEmpty() = 0;
  virtual int GetWidth() = 0;
  virtual int GetHeight() = 0;
  virtual HPALETTE GetPalette() { return nullptr; }
  // What stored data holds of the graphic; the base goes through the stream operations.
  virtual void ReadData(TStream* stream) { LoadFromStream(stream); }
  virtual void WriteData(TStream* stream) { SaveToStream(stream); }

 private:
  bool FModified = false;
};

class TPicture : public TPersistent {
 public:
  TPicture();
  ~TPicture() override;

  TGraphic* Graphic() const { return FGraphic; }
  // Holds a copy of `value` (of the same class), or nothing for nullptr.
  void SetGraphic(TGraphic* value);
  int Width() const;
  int Height() const;

  // The graphic class registered for the file's extension reads the file. An unknown
  // extension raises EInvalidGraphic, a missing file EFOpenError; on any failure the picture
  // keeps what it held.
  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName);
  void LoadFromClipboardFormat(WORD format, HANDLE data, HPALETTE palette);
  void SaveToClipboardFormat(WORD& format, HANDLE& data, HPALETTE& palette);
  static bool SupportsClipboardFormat(WORD format);

  // Extensions are taken without the dot and without regard to case. A later registration of
  // an extension replaces the earlier one.
  static void RegisterFileFormat(const std::string& extension, const std::string& description,
                                 const TGraphicClass& graphicClass);
  static void RegisterClipboardFormat(WORD format, const TGraphicClass& graphicClass);
  // Removes every file and clipboard format of the class named.
  static void UnregisterGraphicClass(const std::string& className);
  // The class registered for the extension, or nullptr.
  static const TGraphicClass* FileFormat(const std::string& extension);
  // A registered graphic class by its name (ignoring case), or nullptr.
  static const TGraphicClass* FindGraphicClass(const std::string& className);

  // From another picture or a graphic: a copy of its graphic; nullptr empties the picture.
  void Assign(TPersistent* source) override;
  // "Data": the graphic's class name as a length-prefixed string, then the graphic's data.
  void DefineProperties(TPropertyDefs& defs) override;

  TNotifyEvent OnChange;

 protected:
  void AssignTo(TPersistent* dest) override;
  void Changed(TObject* sender);

 private:
  void ReadData(TStream* stream);
  void WriteData(TStream* stream);
  void TakeGraphic(TGraphic* graphic);

  TGraphic* FGraphic = nullptr;
};

enum TBitmapHandleType { bmDIB, bmDDB };
enum TPixelFormat {
  pfDevice,
  pf1bit,
  pf4bit,
  pf8bit,
  pf15bit,
  pf16bit,
  pf24bit,
  pf32bit,
  pfCustom
};

// A bitmap the program draws on: a DIB section of the chosen pixel format (indexed formats
// start with a greyscale colour table) or, as pfDevice, a 32-bit device bitmap. Picture files
// are read by TDIB here; a TBitmap neither reads nor writes streams.
class TBitmap : public TGraphic {
 public:
  TBitmap();
  ~TBitmap() override;

  void Assign(TPersistent* source) override;
  // nullptr while the bitmap is empty.
  HBITMAP Handle() const { return FHandle; }
  TBitmapHandleType HandleType() const { return FPixelFormat == pfDevice ? bmDDB : bmDIB; }
  TPixelFormat PixelFormat() const { return FPixelFormat; }
  void SetPixelFormat(TPixelFormat value);
  void SetSize(int width, int height);
  void SetWidth(int value) override { SetSize(value, FHeight); }
  void SetHeight(int value) override { SetSize(FWidth, value); }
  // Takes the colours of `value` into the colour table and owns the handle from then on.
  void SetPalette(HPALETTE value) override;
  TCanvas* Canvas();

  void LoadFromStream(TStream* stream) override;
  void SaveToStream(TStream* stream) override;
  void LoadFromClipboardFormat(WORD format, HANDLE data, HPALETTE palette) override;
  void SaveToClipboardFormat(WORD& format, HANDLE& data, HPALETTE& palette) override;

 protected:
  void Draw(TCanvas* canvas, const TRect& rect) override;
  bool GetEmpty() override { return FHandle == nullptr; }
  int GetWidth() override { return FWidth; }
  int GetHeight() override { return FHeight; }
  HPALETTE GetPalette() override;

 private:
  void Rebuild(int width, int height, TPixelFormat format);

  HBITMAP FHandle = nullptr;
  HDC FDC = nullptr;
  TCanvas* FCanvas = nullptr;
  HPALETTE FPalette = nullptr;
  int FWidth = 0;
  int FHeight = 0;
  TPixelFormat FPixelFormat = pfDevice;
};
