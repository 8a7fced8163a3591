// The share on its own, on loopback: a client that stops reading is dropped once it has
// fallen kClientBacklog behind, while one that reads gets every byte in order; what a
// client sends goes nowhere; a client that leaves is forgotten.

#include "proto/Streamshare.h"

#include <gtest/gtest.h>

#include <string>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int Connect(std::uint16_t port, int receiveBuffer = 0) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (receiveBuffer > 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    return fd;
}

// Reads what is there; false once the share has closed the connection.
bool Drain(int fd, std::string& got) {
    char chunk[65536];
    for (;;) {
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n > 0)
            got.append(chunk, static_cast<std::size_t>(n));
        else
            return !(n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK));
    }
}

TEST(StreamShare, AStalledClientIsDroppedAndTheOthersGetEveryByte) {
    StreamShare share;
    SocketError error;
    ASSERT_TRUE(share.Start("0", StreamShare::Content::Sentences, error)) << error.text;
    EXPECT_EQ(share.Address(), "127.0.0.1:" + std::to_string(share.Port()));
    const int reader = Connect(share.Port());
    const int stalled = Connect(share.Port(), 4096);
    const int leaving = Connect(share.Port());
    share.Service();
    ASSERT_EQ(share.Clients(), 3u);
    close(leaving);
    ASSERT_EQ(write(reader, "ignored\r\n", 9), 9); // nothing of a client's goes anywhere

    // Numbered sentences, far more than the backlog and any socket buffers hold.
    std::string sent;
    std::string got;
    for (int i = 0; i < 40000; ++i) {
        const std::string sentence = "$GPTXT," + std::to_string(i) + ",0123456789ABCDEF";
        share.SentenceReceived(sentence);
        sent += sentence + "\r\n";
        if (i % 100 == 0) {
            share.Service();
            Drain(reader, got);
        }
    }
    for (int i = 0; i < 200 && got.size() < sent.size(); ++i) {
        share.Service();
        Drain(reader, got);
        usleep(1000);
    }
    EXPECT_TRUE(got == sent) << got.size() << " of " << sent.size();
    EXPECT_EQ(share.DroppedStalled(), 1u);
    EXPECT_EQ(share.Clients(), 1u); // the stalled one dropped, the one that left forgotten
    // It finds its connection closed once it reads again.
    std::string stalledGot;
    bool open = true;
    for (int i = 0; i < 2000 && open; ++i) {
        open = Drain(stalled, stalledGot);
        usleep(1000);
    }
    EXPECT_FALSE(open);
    EXPECT_LT(stalledGot.size(), sent.size());
    close(reader);
    close(stalled);
}

TEST(StreamShare, AnAddressIsAPortWithAnOptionalHost) {
    std::string host;
    std::string port;
    EXPECT_TRUE(StreamShare::ParseAddress("10110", host, port));
    EXPECT_EQ(host + " " + port, "127.0.0.1 10110");
    EXPECT_TRUE(StreamShare::ParseAddress("0.0.0.0:2000", host, port));
    EXPECT_EQ(host + " " + port, "0.0.0.0 2000");
    EXPECT_TRUE(StreamShare::ParseAddress("[::1]:2000", host, port));
    EXPECT_EQ(host + " " + port, "::1 2000");
    for (const char* bad : {"", "x", "70000", "host:", ":", "a:b:1", "[::1]2000", "12 34"})
        EXPECT_FALSE(StreamShare::ParseAddress(bad, host, port)) << bad;
}

} // namespace
