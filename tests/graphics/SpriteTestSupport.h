// A shown form with an initialized 512 x 448 display on the headless backend, and small
// pictures made pixel by pixel, for the image-list and sprite tests.
#pragma once

#include <gtest/gtest.h>

#include <functional>

#include "framework/graphics/DIB.h"
#include "framework/graphics/DXDraw.h"
#include "framework/graphics/DXImageList.h"
#include "platform/backend/HeadlessBackend.h"
#include "platform/forms/Forms.h"

namespace sprite_test {

// A 24-bit picture; Colour(x, y) gives each pixel as a colour value, red lowest (0x00BBGGRR, as a
// TColor).
inline TDIB* MakePicture(int W, int H, const std::function<DWORD(int, int)>& Colour) {
  auto* dib = new TDIB;
  dib->SetSize(W, H, 24);
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) dib->SetPixels(x, y, Colour(x, y));
  }
  return dib;
}

// Puts a picture into an item (which copies it).
inline void SetPicture(TPictureCollectionItem* Item, int W, int H,
                       const std::function<DWORD(int, int)>& Colour) {
  TDIB* dib = MakePicture(W, H, Colour);
  Item->Picture()->SetGraphic(dib);
  delete dib;
}

class DisplayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hb = &backend::HeadlessBackend::InstallFresh(1000);
    Application->CreateForm(form);
    form->SetBounds(0, 0, 512, 448);
    form->Show();
    Application->ProcessMessages();
    dx = new TDXDraw(form);
    dx->AutoInitialize = false;
    dx->SetAutoSize(false);
    dx->SetParent(form);
    dx->SetBounds(0, 0, 512, 448);
    dx->SetSurfaceWidth(512);
    dx->SetSurfaceHeight(448);
    // As the game's display: no 3-D, so pictures draw through the surface operations.
    dx->SetOptions(
        {doAllowReboot, doWaitVBlank, doCenter, doDirectX7Mode, doHardware, doSelectDriver});
  }
  void TearDown() override {
    Application->DestroyComponents();
    Application->ProcessMessages();
  }
  DWORD Pixel(int X, int Y) { return dx->Surface->Pixels(X, Y); }

  backend::HeadlessBackend* hb = nullptr;
  TForm* form = nullptr;
  TDXDraw* dx = nullptr;
};

}  // namespace sprite_test
