// Runs the shell's tests inside one QApplication on the offscreen platform.

#include <QApplication>
#include <gtest/gtest.h>

#include "ui/Fontutils.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    UseReadableFont(); // as the program does (under wine only)
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
