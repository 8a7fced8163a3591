// The windows with a receiver behind ser2net: a network port added in the Open Port
// dialog for the run and opened by hand; the sentences arrive; the server killed, the
// port panel says "Closed" at once; and the main window's share passes the sentences on.

#include "sim/Simreceiver.h"
#include "tests/connect/Windows.h"
#include "tests/network/Ser2net.h"

#include <QComboBox>
#include <QPushButton>
#include <QToolButton>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include <fcntl.h>

namespace {

using namespace std::chrono_literals;

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

TEST(NetworkWindows, ANetworkPortOpensShowsTheSentencesAndClosesWhenTheServerDies) {
    SimOptions options;
    options.baudRate = 9600;
    SimReceiver sim(options);
    ASSERT_TRUE(sim.Start());
    const std::string dir = MakeTempDir();
    Ser2net server(sim.DevicePath(), 19200, dir);
    ASSERT_TRUE(server.ok());
    TestWindows windows({});
    FormPort->ShowOver(OuterRect(*FormMain));

    // A name that is not a network port's changes nothing.
    NoteCatcher notes;
    EXPECT_FALSE(FormPort->AddNetworkPort(QStringLiteral("rfc2217://nohost")));
    ASSERT_TRUE(TickUntil([&] { return !notes.texts.empty(); }, 2000ms));
    EXPECT_TRUE(notes.texts.front().contains(QStringLiteral("is not a network port's name")));

    // Added for the run and opened by hand at the receiver's rate.
    ASSERT_TRUE(FormPort->AddNetworkPort(Q(server.Rfc2217())));
    auto* devices = Child<QComboBox>(FormPort, "ComboBoxDeviceName");
    EXPECT_EQ(devices->currentText(), Q(server.Rfc2217()));
    Child<QToolButton>(FormPort, "ButtonDeviceNameManual")->click();
    Child<QToolButton>(FormPort, "ButtonBaudRateManual")->click();
    auto* rates = Child<QComboBox>(FormPort, "ComboBoxBaudRate");
    rates->setCurrentIndex(rates->findText(QStringLiteral("9600")));
    Child<QPushButton>(FormPort, "ButtonApply")->click();
    ASSERT_TRUE(CommPort.IsOpen());
    EXPECT_EQ(FormMain->PanelText(0), Q(server.Rfc2217()) + " : 9600 : Open");
    const int before = FormMain->messageCount;
    ASSERT_TRUE(TickUntil([&] { return FormMain->messageCount >= before + 5; }, 5000ms));

    // The main window shares what it receives.
    ASSERT_TRUE(FormMain->StartSharing(QStringLiteral("0")));
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(FormMain->Share().Port());
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    std::string shared;
    ASSERT_TRUE(TickUntil(
        [&] {
            char chunk[1024];
            const ssize_t n = read(fd, chunk, sizeof chunk);
            if (n > 0)
                shared.append(chunk, static_cast<std::size_t>(n));
            return shared.find("\r\n$GP") != std::string::npos;
        },
        5000ms));
    EXPECT_EQ(shared.rfind("$GP", 0), 0u) << shared;
    EXPECT_TRUE(FormMain->PanelText(0).endsWith(QStringLiteral(": Open")));
    close(fd);
    FormMain->StopSharing();

    // The server dies: the next tick finds the connection gone.
    server.Stop(SIGKILL);
    const auto killed = std::chrono::steady_clock::now();
    ASSERT_TRUE(TickUntil([] { return FormMain->PanelText(0).endsWith(QStringLiteral(": Closed")); },
                          2000ms));
    EXPECT_LT(std::chrono::steady_clock::now() - killed, 500ms);
    EXPECT_FALSE(CommPort.IsOpen());
    std::filesystem::remove_all(dir);
}

} // namespace
