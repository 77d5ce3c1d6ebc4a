// TCP sockets: a listener on a free port, a port another listener holds,
// lines both ways, the peer's end, and a waker that cuts a wait short.
#include "platform/socket.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

namespace {

using platform::Socket;

// Reads until `count` bytes or the end came, waiting on the socket.
std::string ReadSome(const Socket& socket, std::size_t count, platform::SocketWaker& waker) {
  std::string text;
  while (text.size() < count) {
    platform::SocketWait wait{&socket, true};
    platform::WaitSockets({&wait, 1}, waker, 5000);
    char buffer[64];
    const long n = platform::ReceiveSome(socket, buffer, sizeof buffer);
    if (n == 0 || (n < 0 && n != platform::SocketWouldBlock())) break;
    if (n > 0) text.append(buffer, static_cast<std::size_t>(n));
  }
  return text;
}

TEST(Socket, ListensConnectsAndCarriesBytesBothWays) {
  platform::SocketWaker waker;
  Socket listener;
  ASSERT_EQ(platform::ListenTcp("127.0.0.1", 0, listener), 0);
  std::string host;
  std::uint16_t port = 0;
  ASSERT_EQ(platform::LocalAddress(listener, host, port), 0);
  EXPECT_EQ(host, "127.0.0.1");
  ASSERT_NE(port, 0);

  Socket second;
  EXPECT_EQ(platform::ListenTcp("127.0.0.1", port, second), -EADDRINUSE);
  EXPECT_EQ(platform::SocketErrorText(-EADDRINUSE), "Address already in use");
  EXPECT_LT(platform::ListenTcp("no.such.host.invalid", 0, second), 0);

  Socket client;
  ASSERT_EQ(platform::ConnectTcp("127.0.0.1", port, client), 0);
  platform::SocketWait wait{&listener, true};
  ASSERT_EQ(platform::WaitSockets({&wait, 1}, waker, 5000), 1);
  Socket accepted;
  ASSERT_EQ(platform::AcceptTcp(listener, accepted), 0);
  EXPECT_EQ(platform::AcceptTcp(listener, second), platform::SocketWouldBlock());

  EXPECT_EQ(platform::SendSome(client, "*IDN?\n", 6), 6);
  EXPECT_EQ(ReadSome(accepted, 6, waker), "*IDN?\n");
  EXPECT_EQ(platform::SendSome(accepted, "ok\n", 3), 3);
  platform::ShutdownSending(accepted);
  EXPECT_EQ(ReadSome(client, 100, waker), "ok\n") << "then the end";

  client.Close();
  ReadSome(accepted, 1, waker);
  // Writing to a peer that has gone fails without a signal.
  long result = 0;
  for (int i = 0; i < 100 && result >= 0; ++i) result = platform::SendSome(accepted, "x", 1);
  EXPECT_TRUE(result == -EPIPE || result == -ECONNRESET) << result;
}

TEST(Socket, AWakeEndsAWaitWithNothingReady) {
  platform::SocketWaker waker;
  Socket listener;
  ASSERT_EQ(platform::ListenTcp("127.0.0.1", 0, listener), 0);
  std::thread waking([&waker] { waker.Wake(); });
  platform::SocketWait wait{&listener, true};
  EXPECT_EQ(platform::WaitSockets({&wait, 1}, waker, -1), 0);
  waking.join();
  waker.Clear();
  EXPECT_EQ(platform::WaitSockets({&wait, 1}, waker, 0), 0);
  EXPECT_FALSE(wait.readable);
}

}  // namespace
