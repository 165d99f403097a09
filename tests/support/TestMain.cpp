// Every test program runs with a Qt application object (offscreen), so
// widget tests and logic tests share one main.
#include <QApplication>
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>

int main(int argc, char **argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
