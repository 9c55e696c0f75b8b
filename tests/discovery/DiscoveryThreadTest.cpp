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

TEST_F(DiscoveryThreadTest, AStartWhileASearchRunsJoinsItAndALateEndWritesIntoNoOneElse) {
    // The first search is held in the Bluetooth stage past its starter's wait.
    SimWmiAddPort(L"COM5", DisplayPortIdentity().c_str());
    SimBtDelayNextSearch(3000);
    DiscoveryThread first;
    ASSERT_TRUE(StartDiscovery(first));
    const unsigned searchId = first.id;
    DiscoveryResult gaveUp;
    const LARGE_INTEGER start = Now();
    EXPECT_FALSE(FinishDiscovery(first, 200, gaveUp));
    EXPECT_LT(MillisecondsSince(start), 2500.0) << "the starter waits only its bound";

    // A start while it still runs joins it, and takes its result within its own bound.
    DiscoveryThread second;
    ASSERT_TRUE(StartDiscovery(second));
    EXPECT_EQ(second.id, searchId);
    DiscoveryResult joined;
    ASSERT_TRUE(FinishDiscovery(second, 10000, joined));
    EXPECT_EQ(joined.deviceId, L"COM5");
    EXPECT_EQ(SimBtSearchesStarted(), 1);
    // The starter that gave up never sees the result.
    EXPECT_EQ(gaveUp.completed, 0);
    EXPECT_EQ(gaveUp.deviceId, L"");
    EXPECT_STREQ(gaveUp.portName, "");

    // Once it has ended, the next start is a search of its own.
    SimWmiReset();
    SimWmiAddPort(L"COM7", DisplayPortIdentity().c_str());
    DiscoveryThread third;
    ASSERT_TRUE(StartDiscovery(third));
    DiscoveryResult fresh;
    ASSERT_TRUE(FinishDiscovery(third, 10000, fresh));
    EXPECT_EQ(fresh.deviceId, L"COM7");
    EXPECT_EQ(SimBtSearchesStarted(), 2);
    EXPECT_EQ(joined.deviceId, L"COM5");
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
