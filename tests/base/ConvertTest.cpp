#include <gtest/gtest.h>

#include "base/Convert.h"

#include <clocale>
#include <string>

TEST(Convert, TinyAndHugeExponentsWhateverTheLocale) {
  // Found by fuzzing: under a decimal-comma locale the underflow path read
  // "1.5e-400" as 1 and "-7.25e-400" as -7, and "1.5e400" passed as 1.
  const char *old = std::setlocale(LC_ALL, nullptr);
  const std::string saved = old ? old : "C";
  bool comma = false;
  for (const char *loc : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"})
    if (std::setlocale(LC_ALL, loc)) {
      comma = true;
      break;
    }
  double v = -1;
  const bool tiny = TryStrToFloat("1.5e-400", v);
  const double tinyValue = v;
  v = -1;
  const bool negTiny = TryStrToFloat("-7.25e-400", v);
  const double negTinyValue = v;
  double subnormal = -1;
  const bool sub = TryStrToFloat("2.5e-320", subnormal);
  v = -1;
  const bool huge = TryStrToFloat("1.5e400", v);
  // Numbers written for the controllers and the files keep their point.
  const std::string written = FloatToStrF(-20.5, 4);
  std::setlocale(LC_ALL, saved.c_str());

  EXPECT_TRUE(tiny);
  EXPECT_EQ(tinyValue, 0.0);
  EXPECT_TRUE(negTiny);
  EXPECT_EQ(negTinyValue, 0.0);
  EXPECT_TRUE(sub);
  EXPECT_GT(subnormal, 2.4e-320);
  EXPECT_LT(subnormal, 2.6e-320);
  EXPECT_FALSE(huge);
  EXPECT_EQ(written, "-20.5000");
  if (!comma) GTEST_SKIP() << "no locale with a decimal comma installed";
}
