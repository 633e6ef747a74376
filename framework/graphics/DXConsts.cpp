#include "framework/graphics/DXConsts.h"

const TDXConstEntry DXConstTable[] = {
    {65296, SBitCountInvalid},   {65297, SPixelFormatInvalid},
    {65298, SWaveInvalid},       {65299, SDisplayBitCount},
    {65300, SFormatInvalid},     {65301, SStreamAlreadyOpen},
    {65302, SDXTInvalid},        {65303, SCannotLoadGraphic},
    {65312, STexture},           {65313, SNotMade},
    {65314, SStreamNotOpened},   {65315, SCannotMade},
    {65316, SCannotInitialized}, {65317, SCannotLocked},
    {65318, SNotLoaded},         {65319, SImageNotFound},
    {65320, SWaveNotFound},      {65321, SListIndexOutOfRange},
    {65322, SFormNotFound},      {65323, SDirectX6NotFound},
    {65324, SDirectX7NotFound},  {65325, S3DDeviceNotFound},
    {65326, SDisplayModeChange}, {65327, SDIBInvalid},
    {65336, SDirectDraw},        {65337, SDirect3DRM},
    {65338, SDirectSound},       {65339, SDirectDrawClipper},
    {65340, SDirectDrawSurface}, {65341, SDirectDrawPrimarySurface},
    {65342, SDirectSoundBuffer}, {65343, SDirectSoundPrimaryBuffer},
};

const int DXConstCount = sizeof(DXConstTable) / sizeof(DXConstTable[0]);

const char* DXConstText(int Id) {
  for (const TDXConstEntry& e : DXConstTable)
    if (e.Id == Id) return e.Text;
  return nullptr;
}
