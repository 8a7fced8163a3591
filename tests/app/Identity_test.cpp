// The application's identity: name, version and window icon, the ones the desktop
// entry and the package carry, and the version the About window shows.

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <gtest/gtest.h>

#include "app/Startup.h"

TEST(ApplicationIdentity, NameVersionDesktopEntryAndIconAreSet) {
    SetApplicationIdentity();
    EXPECT_EQ(QApplication::applicationName(), "kestrane-utility");
    EXPECT_EQ(QApplication::applicationVersion(), KESTRANE_VERSION);
    EXPECT_EQ(QApplication::desktopFileName(), "org.kestrane.ReceiverUtility");
    const QIcon icon = QApplication::windowIcon();
    ASSERT_FALSE(icon.isNull()) << "the icon resource did not load";
    const QPixmap px = icon.pixmap(64, 64);
    ASSERT_FALSE(px.isNull());
    // The icon is drawn, not empty: its centre is opaque.
    EXPECT_GT(px.toImage().pixelColor(32, 32).alpha(), 0);
}
