// The main window on a screen smaller than itself is placed at the screen's corner,
// never at a negative position.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include "app/Mainform.h"
#include "app/Startup.h"
#include "proto/Port.h"
#include "ui/Fontutils.h"

TEST(SmallScreen, MainWindowGoesToTheCornerInsteadOfOffScreen) {
    ASSERT_LT(QGuiApplication::primaryScreen()->geometry().width(), 650);
    CreateWindows();
    FormMain->Timer->stop();
    EXPECT_EQ(FormMain->pos(), QPoint(0, 0));
    DestroyWindows();
    Recipients.clear();
}

int main(int argc, char** argv) {
    // A 640 x 480 offscreen screen, described in a file in the working folder.
    QTemporaryDir dir(QDir::current().filePath(QStringLiteral("smallscreen-XXXXXX")));
    const QString config = dir.filePath("screen.json");
    QFile f(config);
    if (!f.open(QIODevice::WriteOnly))
        return 1;
    f.write(R"({"screens": [{"name": "small", "x": 0, "y": 0, "width": 640, "height": 480,
                "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
    f.close();
    // The platform's options are separated by colons, so the file is named relative to
    // the working folder: no drive letter on Windows.
    qputenv("QT_QPA_PLATFORM",
            ("offscreen:configfile=" + QDir::current().relativeFilePath(config)).toLocal8Bit());
    QApplication app(argc, argv);
    UseReadableFont();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
