// The tests share one QApplication on the main thread, which is the UI thread.
#include <gtest/gtest.h>

#include <QApplication>

#include "threads/posted_events.h"
#include "ui/ui.h"

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  testing::InitGoogleTest(&argc, argv);
  QApplication application(argc, argv);
  PostEventInit();
  UiInit();
  const int result = RUN_ALL_TESTS();
  UiEnd();
  PostEventEnd();
  return result;
}
