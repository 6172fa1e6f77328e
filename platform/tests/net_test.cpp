// What the socket layer reports of a connection's unsent bytes.
#include <gtest/gtest.h>

#include <vector>

#include "platform/clock.h"
#include "platform/net.h"
#include "platform/thread.h"

namespace {

TEST(Net, UnsentBytesCountWhatThePeerHasNotTakenAndFallToZeroOnceItHas) {
  plat::Socket listener = plat::listenTcp("127.0.150.1", 5001);
  ASSERT_NE(listener, plat::kInvalidSocket) << "bind failed (the address is busy?)";
  plat::Socket sender = plat::tcpSocket();
  ASSERT_TRUE(plat::setSendBufferSize(sender, 131072));
  ASSERT_EQ(plat::connectIPv4(sender, plat::ipv4FromText("127.0.150.1"), 5001), 0);
  plat::Socket receiver = plat::acceptConnection(listener, 2000000);
  ASSERT_NE(receiver, plat::kInvalidSocket);
  ASSERT_TRUE(plat::setNonBlocking(sender, true));
  EXPECT_EQ(plat::unsentBytes(sender), 0);

  // The receiver reads nothing: once its window is full, what is written
  // stays with the sender.
  std::vector<char> chunk(65536, 'x');
  long written = 0;
  while (plat::sendSome(sender, chunk.data(), chunk.size()) > 0) written += static_cast<long>(chunk.size());
  const long unsent = plat::unsentBytes(sender);
  EXPECT_GT(unsent, 0);
  EXPECT_LE(unsent, written);

  // Read all of it: nothing is left unacknowledged.
  long read = 0;
  const std::int64_t until = plat::monotonicUs() + 5000000;
  while (plat::unsentBytes(sender) > 0 && plat::monotonicUs() < until) {
    if (plat::waitReadable(receiver, 10000) > 0) {
      long n = plat::recvSome(receiver, chunk.data(), chunk.size());
      if (n > 0) read += n;
    }
  }
  EXPECT_EQ(plat::unsentBytes(sender), 0);
  EXPECT_GT(read, 0);

  plat::closeSocket(sender);
  plat::closeSocket(receiver);
  plat::closeSocket(listener);
  EXPECT_EQ(plat::unsentBytes(sender), -1) << "a closed socket has nothing to tell";
}

}  // namespace
