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

// A records-only start never joins a full search (it would wait on WMI) and a
// full start never joins a records-only one (it would miss WMI): one of each
// kind runs, and later starts join the running one of their own kind.
TEST_F(DiscoveryThreadTest, EachKindOfSearchJoinsOnlyItsOwnKind) {
    ASSERT_TRUE(AddPortRecord(DisplayPortIdentity(), L"COM8"));
    SimWmiAddPort(L"COM12", DisplayPortIdentity().c_str());
    SimBtDelayNextSearch(3000); // holds the full search
    DiscoveryThread full;
    ASSERT_TRUE(StartDiscovery(full));
    ASSERT_TRUE(WaitFor([] { return SimBtSearchesStarted() == 1; }, 5000));
    SimBtDelayNextSearch(3000); // now holds the records-only search
    DiscoveryThread recordsOnly, recordsAgain;
    ASSERT_TRUE(StartDiscovery(recordsOnly, SearchStages::kRecordsOnly));
    ASSERT_TRUE(StartDiscovery(recordsAgain, SearchStages::kRecordsOnly));
    EXPECT_NE(recordsOnly.id, full.id);
    EXPECT_EQ(recordsAgain.id, recordsOnly.id);
    DiscoveryThread fullAgain;
    ASSERT_TRUE(StartDiscovery(fullAgain));
    EXPECT_EQ(fullAgain.id, full.id);

    DiscoveryResult results[4];
    ASSERT_TRUE(FinishDiscovery(recordsOnly, 10000, results[0]));
    ASSERT_TRUE(FinishDiscovery(recordsAgain, 10000, results[1]));
    ASSERT_TRUE(FinishDiscovery(full, 10000, results[2]));
    ASSERT_TRUE(FinishDiscovery(fullAgain, 10000, results[3]));
    for (const DiscoveryResult& result : results)
        EXPECT_EQ(result.deviceId, L"COM8");
    EXPECT_EQ(SimBtSearchesStarted(), 2);
    EXPECT_EQ(WmiRecord().locatorsCreated, 0);
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
