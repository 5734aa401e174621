#include <gtest/gtest.h>

#include <QCoreApplication>

// The adapters need an event loop; every test runs on this thread and spins it while it waits.
int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
