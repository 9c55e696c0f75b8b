// Four host threads writing at once while keys are pressed and the link to the
// display flaps: nothing may crash, no key may be lost, every cell write that
// reaches the display must be whole and in its writer's order, and the display
// must end with the last cells written.
#include <atomic>
#include <cstdio>
#include <map>
#include <process.h>

#include "DisplayTraffic.h"
#include "DriverFixture.h"
#include "ReliabilityTable.h"

namespace {

constexpr int kWriters = 4;
constexpr unsigned kRunMs = 4000;
// The display keeps dropping off briefly; each return costs the worker a 1 s
// settle pause before writes reach it again.
constexpr unsigned kGoneMs = 300;
constexpr unsigned kBackMs = 1300;
constexpr int kKeys = 80;
constexpr uint8_t kFinalTag = 9;

struct Writer {
    uint8_t tag = 0;
    IBrailleDriver* driver = nullptr;
    const std::atomic<bool>* stop = nullptr;
    uint32_t accepted = 0;
    CallTimes times;
};

unsigned __stdcall WriterMain(void* argument) {
    auto* writer = static_cast<Writer*>(argument);
    writer->times.micros.reserve(4096);
    for (uint32_t sequence = 0; !*writer->stop; ++sequence) {
        uint8_t cells[kCells];
        PatternCells(writer->tag, sequence, cells);
        writer->accepted += TimedWrite(writer->driver, cells, writer->times) != 0;
        Sleep(4);
    }
    return 0;
}

struct Flapper {
    const std::atomic<bool>* stop = nullptr;
    int flaps = 0;
};

unsigned __stdcall FlapperMain(void* argument) {
    auto* flapper = static_cast<Flapper*>(argument);
    for (bool present = false; !*flapper->stop; present = !present) {
        SimSetPresent(present ? 1 : 0);
        flapper->flaps += present ? 0 : 1;
        Sleep(present ? kBackMs : kGoneMs);
    }
    SimSetPresent(1);
    return 0;
}

HANDLE Start(unsigned(__stdcall* main)(void*), void* argument) {
    return reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, main, argument, 0, nullptr));
}

// Every write the display received is one writer's whole pattern, and each
// writer's patterns arrive in the order it wrote them.
struct WriteAudit {
    int checked = 0;
    int torn = 0;
    int outOfOrder = 0;
};

WriteAudit AuditDeviceWrites(int logFrom) {
    WriteAudit audit;
    std::map<uint8_t, uint32_t> lastSequence;
    for (const SimCall& call : SimCallsSince(logFrom, 3)) {
        if (call.result < 1)
            continue; // a failed write shows nothing
        ++audit.checked;
        uint8_t tag;
        uint32_t sequence;
        if (call.args[1] != kCells || !ReadPattern(call.cells, &tag, &sequence)) {
            ++audit.torn;
            continue;
        }
        auto last = lastSequence.find(tag);
        if (last != lastSequence.end() && sequence <= last->second)
            ++audit.outOfOrder;
        lastSequence[tag] = sequence;
    }
    return audit;
}

} // namespace

TEST_F(DriverTest, FourWritersKeysAndAFlappingLinkLoseNothing) {
    OpenWithDisplay();
    const int logFrom = SimCallCount();
    const int keysBefore = SimKeysDelivered();
    std::atomic<bool> stop{false};

    Writer writers[kWriters];
    HANDLE threads[kWriters + 1];
    for (int i = 0; i < kWriters; ++i) {
        writers[i].tag = static_cast<uint8_t>(i + 1);
        writers[i].driver = driver;
        writers[i].stop = &stop;
        threads[i] = Start(WriterMain, &writers[i]);
        ASSERT_NE(threads[i], nullptr);
    }
    Flapper flapper;
    flapper.stop = &stop;
    threads[kWriters] = Start(FlapperMain, &flapper);
    ASSERT_NE(threads[kWriters], nullptr);

    // This thread owns the driver's window: it presses keys and serves them.
    for (int key = 1; key <= kKeys; ++key) {
        SimPressKey(0, 0, static_cast<uint8_t>(key));
        host.Pump(kRunMs / kKeys);
    }
    stop = true;
    const bool joined = host.PumpUntil(
        [&] { return WaitForMultipleObjects(kWriters + 1, threads, TRUE, 0) == WAIT_OBJECT_0; },
        10000);
    for (HANDLE thread : threads)
        CloseHandle(thread);
    ASSERT_TRUE(joined);
    host.PumpUntil([&] { return SimKeysDelivered() >= keysBefore + kKeys; }, 10000);
    const bool workerAlive = WaitForSingleObject(fields->m_hWorkerThread, 0) == WAIT_TIMEOUT;

    // The display is back for good: the next cells the host writes are the last.
    uint32_t finalSequence = 0;
    CallTimes finalTimes;
    const double settledMs = WriteUntilShown(host, kFinalTag, &finalSequence, 15000, &finalTimes);
    uint8_t last[kCells];
    PatternCells(kFinalTag, finalSequence - 1, last);
    driver->Close();
    const bool endsWithLast = DisplayShows(last);
    const WriteAudit audit = AuditDeviceWrites(logFrom);

    int keysInOrder = 0;
    for (size_t i = 0; i < host.keys.size() && i < static_cast<size_t>(kKeys); ++i)
        keysInOrder += host.keys[i].name == "Routing" && host.keys[i].routingKey == int(i) + 1;
    uint32_t accepted = 0;
    double slowestUs = 0;
    size_t writes = 0;
    for (const Writer& w : writers) {
        accepted += w.accepted;
        writes += w.times.micros.size();
        slowestUs = std::max(slowestUs, w.times.Max());
    }

    char tried[160];
    snprintf(tried, sizeof tried,
             "%d writer threads for %.0f s, %d keys, display gone %.1f s in every %.1f s", kWriters,
             kRunMs / 1000.0, kKeys, kGoneMs / 1000.0, (kGoneMs + kBackMs) / 1000.0);
    ReportRow("3 concurrency", tried,
              "%zu writes (%u accepted), slowest %.1f us; %d drop-offs; keys %d/%d in order; %d "
              "device writes: %d torn, %d out of order; last cells shown: %s (%.0f ms after)",
              writes, accepted, slowestUs, flapper.flaps, keysInOrder, kKeys, audit.checked,
              audit.torn, audit.outOfOrder, endsWithLast ? "yes" : "NO", settledMs);
    EXPECT_TRUE(workerAlive);
    EXPECT_EQ(host.keys.size(), static_cast<size_t>(kKeys));
    EXPECT_EQ(keysInOrder, kKeys);
    EXPECT_GT(accepted, 0u);
    EXPECT_GT(audit.checked, 0);
    EXPECT_EQ(audit.torn, 0);
    EXPECT_EQ(audit.outOfOrder, 0);
    EXPECT_GE(settledMs, 0.0);
    EXPECT_TRUE(endsWithLast);
    EXPECT_LT(slowestUs / 1000.0, kWriteBoundMs);
}
