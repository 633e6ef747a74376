// A base for tests that run forms and the application loop: every test gets a fresh headless
// backend and a clean application, and whatever forms it made with the application as owner
// are freed after it.
#pragma once

#include <gtest/gtest.h>

#include "platform/backend/HeadlessBackend.h"
#include "platform/forms/Forms.h"

class HeadlessAppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hb = &backend::HeadlessBackend::InstallFresh(StartMs());
    Application->ResetForTest();
  }
  void TearDown() override {
    Application->DestroyComponents();
    Application->ResetForTest();
  }
  // The virtual clock's first reading.
  virtual std::uint32_t StartMs() const { return 5000; }
  // Runs the loop until everything the test sent has been handled.
  void Pump() {
    for (int i = 0; i < 100000 && hb->PendingEvents() > 0; ++i) Application->Step();
  }
  backend::HeadlessBackend* hb = nullptr;
};
