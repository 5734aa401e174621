#include <QApplication>

#include <gtest/gtest.h>

// The window and the adapters need a GUI application and its event loop; every test runs on
// this thread and spins the loop while it waits. Always offscreen, also when CTest's discovery
// runs the program without the test environment.
int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  // Windows close in every test; only the program's own loop may end on that.
  QApplication::setQuitOnLastWindowClosed(false);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
