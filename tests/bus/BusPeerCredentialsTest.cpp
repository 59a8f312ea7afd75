// Who a program on the bus is, as the bus daemon knows its connection: what
// a server decides who may do what from.
#include "Bus/BusPeerCredentials.h"
#include "Bus/MessageBus.h"
#include "support/PrivateBus.h"

#include <gtest/gtest.h>
#include <sdbus-c++/sdbus-c++.h>

#include <unistd.h>

TEST(APeersCredentials, AreTheBusDaemonsAndRememberedOnlyUntilThePeerLeaves)
{
    PrivateBus& bus = PrivateBus::shared();
    ASSERT_NE(MessageBus::shared(), nullptr);
    BusPeerCredentials credentials(MessageBus::shared()->connection());
    auto peer = sdbus::createSessionBusConnectionWithAddress(bus.address());
    const std::string name = peer->getUniqueName();

    const BusPeerCredentials::Peer self {static_cast<std::uint32_t>(::geteuid()), static_cast<int>(::getpid())};
    EXPECT_EQ(credentials.peer(name), self);
    EXPECT_EQ(credentials.peer(name), self);
    EXPECT_EQ(credentials.peer(":1.999999"), std::nullopt) << "a name nobody holds";
    EXPECT_EQ(credentials.peer(""), std::nullopt);
    EXPECT_EQ(credentials.rememberedCount(), 1u);

    peer.reset();
    EXPECT_TRUE(runLoopUntil([&] { return credentials.rememberedCount() == 0; })) << "forgotten when it left the bus";
    EXPECT_EQ(credentials.peer(name), std::nullopt);
}
