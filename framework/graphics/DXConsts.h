// The framework's message texts. Errors of the DirectX wrappers, the bitmap, image list, sprite,
// wave and sound units are built from these with Format; the object names fill the "%s" of the
// "not made" / "cannot be made" / "cannot be initialized" / "cannot be locked" messages. The
// texts are shown as they stand, misspellings included.
#pragma once

// Messages.
inline constexpr const char* SBitCountInvalid = "Bitcount in invalid (%d)";
inline constexpr const char* SPixelFormatInvalid = "PixelFormat in invalid";
inline constexpr const char* SWaveInvalid = "Wave is invalid";
inline constexpr const char* SDisplayBitCount = "Display requires 8, 16, 24 or 32 bits";
inline constexpr const char* SFormatInvalid = "Format is invalid";
inline constexpr const char* SStreamAlreadyOpen = "Stream is already open";
inline constexpr const char* SDXTInvalid = "DXT file is invalid";
inline constexpr const char* SCannotLoadGraphic = "Can not load graphic";
inline constexpr const char* STexture = "Texture";
inline constexpr const char* SNotMade = "%s not made";
inline constexpr const char* SStreamNotOpened = "Stream not opened";
inline constexpr const char* SCannotMade = "%s cannot be made";
inline constexpr const char* SCannotInitialized = "%s cannot be initialized";
inline constexpr const char* SCannotLocked = "%s cannot be locked";
inline constexpr const char* SNotLoaded = "%s is not loaded";
inline constexpr const char* SImageNotFound = "Image '%s' not found";
inline constexpr const char* SWaveNotFound = "Wave '%s' not found";
inline constexpr const char* SListIndexOutOfRange = "Index of the list exceeds the range. (%d)";
inline constexpr const char* SFormNotFound = "Form not found";
inline constexpr const char* SDirectX6NotFound = "Requires DirectX 6.0 or later";
inline constexpr const char* SDirectX7NotFound = "Requires DirectX 7.0 or later";
inline constexpr const char* S3DDeviceNotFound = "3D device not found";
inline constexpr const char* SDisplayModeChange = "Display mode cannot be changed (%dx%d %dbit)";
inline constexpr const char* SDIBInvalid = "DIB is invalid";

// Object names.
inline constexpr const char* SDirectDraw = "DirectDraw";
inline constexpr const char* SDirect3DRM = "Direct3D RetainedMode";
inline constexpr const char* SDirectSound = "DirectSound";
inline constexpr const char* SDirectDrawClipper = "Clipper";
inline constexpr const char* SDirectDrawSurface = "Surface";
inline constexpr const char* SDirectDrawPrimarySurface = "Primary Surface";
inline constexpr const char* SDirectSoundBuffer = "Sound Buffer";
inline constexpr const char* SDirectSoundPrimaryBuffer = "Primary Buffer";

// The same texts by their string ids in the program's resource table.
struct TDXConstEntry {
  int Id;
  const char* Text;
};
extern const TDXConstEntry DXConstTable[];
extern const int DXConstCount;
// The text of a string id, or nullptr when the table has no such id.
const char* DXConstText(int Id);
