// The tests share one evaluator, started as the program starts it, on Qt's offscreen
// platform; what start-up left behind is noted before any test changes it.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QtGlobal>

#include "app/evaluator.h"
#include "startup_snapshot.h"

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
  testing::InitGoogleTest(&argc, argv);
  evaluator::StartUp();
  evaluator_test::TakeStartUpSnapshot();
  const int result = RUN_ALL_TESTS();
  evaluator::ShutDown();
  return result;
}
