// Test entry for the contract suite on Windows: the toolkit started as the program starts
// it. The test server is the one ADDROVA_TEST_SERVER names, running on the loopback
// address.
#include "contract/contract.h"

bool contract::g_have_ui = true;

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  platform::init(argc, argv);
  return RUN_ALL_TESTS();
}
