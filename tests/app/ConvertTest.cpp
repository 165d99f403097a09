#include <gtest/gtest.h>

#include "app/Convert.h"

TEST(Convert, PlaceholderReadsDot) { EXPECT_DOUBLE_EQ(StrToFloat("1.5"), 1.5); }
