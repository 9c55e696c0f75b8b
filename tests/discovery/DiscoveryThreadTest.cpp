// The search on a thread of its own, waited for a bounded time.
#include "DiscoveryFixture.h"
#include "DiscoveryThread.h"
#include "TestSupport.h"

namespace {

class DiscoveryThreadTest : public DiscoveryTest {
protected:
    void SetUp() override {
        DiscoveryTest::SetUp();
        AddDevice(L"ZR47-0001", kDisplayAddress);
    }
};

TEST_F(DiscoveryThreadTest, HandsOverTheResultOfASearchThatEndsInTime) {
    SimWmiAddPort(L"COM12", DisplayPortIdentity().c_str());
    DiscoveryThread thread;
    ASSERT_TRUE(StartDiscovery(thread));
    EXPECT_NE(thread.handle, nullptr);
    EXPECT_NE(thread.id, 0u);
    DiscoveryResult result;
    EXPECT_TRUE(FinishDiscovery(thread, 10000, result));
    EXPECT_EQ(result.completed, 1);
    EXPECT_EQ(result.deviceId, L"COM12");
    EXPECT_STREQ(result.portName, "COM12");
    EXPECT_EQ(thread.handle, nullptr);
}

TEST_F(DiscoveryThreadTest, ALateSearchNeverWritesIntoALaterResult) {
    // The first search is held in the Bluetooth stage past its starter's wait.
    SimWmiAddPort(L"COM5", DisplayPortIdentity().c_str());
    SimBtDelayNextSearch(3000);
    DiscoveryThread late;
    ASSERT_TRUE(StartDiscovery(late));
    DiscoveryResult result;
    const LARGE_INTEGER start = Now();
    EXPECT_FALSE(FinishDiscovery(late, 200, result));
    EXPECT_LT(MillisecondsSince(start), 2500.0) << "the starter waits only its bound";
    EXPECT_EQ(result.completed, 0);
    EXPECT_EQ(result.deviceId, L"");
    EXPECT_STREQ(result.portName, "");

    // A newer search runs to its end meanwhile, into the same result.
    DiscoveryThread newer;
    ASSERT_TRUE(StartDiscovery(newer));
    ASSERT_TRUE(FinishDiscovery(newer, 10000, result));
    ASSERT_EQ(result.deviceId, L"COM5");

    // Now the late search goes on and finds a different port.
    SimWmiReset();
    SimWmiAddPort(L"COM7", DisplayPortIdentity().c_str());
    ASSERT_TRUE(WaitFor(
        [] {
            const SimWmiRecord wmi = WmiRecord();
            return wmi.queries == 1 && wmi.portsHandedOut == 1 && wmi.liveObjects == 0;
        },
        15000))
        << "the late search reached the serial ports";
    Sleep(500); // its last steps after the listing
    EXPECT_EQ(result.completed, 1);
    EXPECT_EQ(result.deviceId, L"COM5");
    EXPECT_STREQ(result.portName, "COM5");
}

TEST_F(DiscoveryThreadTest, AFailedSearchHandsOverNothingCompleted) {
    SimBtSetRadio(0);
    DiscoveryThread thread;
    ASSERT_TRUE(StartDiscovery(thread));
    DiscoveryResult result;
    EXPECT_TRUE(FinishDiscovery(thread, 10000, result));
    EXPECT_EQ(result.completed, 0);
    EXPECT_EQ(WmiRecord().locatorsCreated, 0);
}

} // namespace
