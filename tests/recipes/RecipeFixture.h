#pragma once
// Recipe tests start from an empty recipe and the machine defaults, in a
// fresh empty working folder (the definitions file lives in the current one).
#include "recipes/Definitions.h"
#include "support/Fakes.h"
#include "support/TempDir.h"

class TRecipeTest : public TTempDirTest {
protected:
  void SetUp() override {
    TTempDirTest::SetUp();
    ResetDefinitions();
  }
  void TearDown() override {
    TTempDirTest::TearDown();
    ResetDefinitions();
  }
};
