#include <gtest/gtest.h>

#include <QApplication>

#include "tests/viewer/ViewerTestSupport.h"

int main(int argc, char** argv) {
    viewertest::prepareEnvironment(argv[0]);
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    viewertest::cleanUpEnvironment();
    return result;
}
