#include <gtest/gtest.h>

// One main for every test executable. Qt tests make their own QApplication
// through tests/support helpers; nothing here needs Qt.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
