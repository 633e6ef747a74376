// A fresh headless backend and fresh DirectDraw and Direct3D machines for every display test,
// and at its end the proof that the forms freed every surface, device and drawer they made.
#pragma once

#include <gtest/gtest.h>

#include "framework/graphics/D2D.h"
#include "framework/graphics/DXDraws.h"
#include "framework/graphics/DXImageList.h"
#include "platform/backend/HeadlessBackend.h"
#include "platform/d3d/D3D.h"
#include "platform/ddraw/DDraw.h"
#include "platform/forms/Forms.h"

namespace display_test {

class FreshDisplayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hb = &backend::HeadlessBackend::InstallFresh();
    ddraw::ResetMachine();
    d3d::ResetMachine();
    Application->OnIdle = nullptr;
    Application->ResetTerminated();
  }
  void TearDown() override {
    Application->DestroyComponents();
    Application->ProcessMessages();
    EXPECT_EQ(d3d::LiveDeviceCount(), 0);
    EXPECT_EQ(d3d::LiveDirect3DCount(), 0);
    EXPECT_EQ(ddraw::LiveSurfaceCount(), 0);
    EXPECT_EQ(ddraw::LiveDirectDrawCount(), 0);
    EXPECT_EQ(CurrentD2D, nullptr);
    SkipNextFlip = false;
    ddraw::ResetMachine();
    d3d::ResetMachine();
  }

  backend::HeadlessBackend* hb = nullptr;
};

// The drawer tests' display: 64 x 48, alone on a shown form, initialized once it is shown.
class SmallDisplayTest : public FreshDisplayTest {
 protected:
  void OpenDisplay(TDXDrawOptions Options) {
    Application->CreateForm(Form);
    Form->SetClientWidth(64);
    Form->SetClientHeight(48);
    dx = new TDXDraw(Form);
    dx->AutoInitialize = false;
    dx->SetParent(Form);
    dx->SetBounds(0, 0, 64, 48);
    dx->SetOptions(Options);
    Form->Show();
    Application->ProcessMessages();
    dx->Initialize();
    ASSERT_TRUE(dx->Initialized());
  }

  TForm* Form = nullptr;
  TDXDraw* dx = nullptr;
  TDXImageList* List = nullptr;
};

}  // namespace display_test
