#include <gtest/gtest.h>

#include <QApplication>

// The window tests drive real widgets, so they need an application; pixel
// geometry and fonts must not depend on whatever desktop the tests run on.
int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
