// Runs the Windows back-end tests on the UI thread, with the toolkit started as the
// program starts it.
#include <gtest/gtest.h>

#include "platform/platform.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  platform::init(argc, argv);
  return RUN_ALL_TESTS();
}
