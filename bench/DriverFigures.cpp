#include "DriverFigures.h"

#include <thread>

#include <algorithm>
#include <cstring>
#include <vector>

#include <dbt.h>

#include "KeyEvent.h"
#include "PortRecords.h"
#include "SimulatedBluetooth.h"
#include "SimulatedDisplay.h"

namespace {

constexpr DWORD kShowTimeoutMs = 120000;
// Longer than the driver's wait for silence, its retry interval and settle pause.
constexpr DWORD kSilentStepTimeoutMs = 20000;

bool DisplayShows(const CellPattern& pattern) {
    unsigned char shown[kBenchCells] = {};
    return SimGetCells(shown, kBenchCells) == kBenchCells &&
           memcmp(shown, pattern.cells, kBenchCells) == 0;
}

// Polls the simulated display; the exact moment comes from its log.
bool WaitUntilShown(const CellPattern& pattern, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!DisplayShows(pattern)) {
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(1);
    }
    return true;
}

// The successful device write of these cells logged at or after `from`,
// newest first; its log index, or -1.
int FindWrite(const CellPattern& pattern, int from, SimCall* found) {
    for (int index = SimCallCount() - 1; index >= from; --index) {
        if (SimGetCall(index, found) && found->ordinal == 3 && found->result >= 1 &&
            memcmp(found->cells, pattern.cells, kBenchCells) == 0)
            return index;
    }
    return -1;
}

// The first call of the ordinal logged at or after `from` that started at or
// after `since`; its log index, or -1.
int FindCallStartedSince(int ordinal, int from, int64_t since, SimCall* found) {
    for (int index = from; index < SimCallCount(); ++index) {
        if (SimGetCall(index, found) && found->ordinal == ordinal && found->startTicks >= since)
            return index;
    }
    return -1;
}

// Waits until a call of the ordinal logged at or after `from` has returned a
// failure (a result below 1).
bool WaitForFailedCall(int ordinal, int from, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        SimCall call;
        for (int index = from; index < SimCallCount(); ++index) {
            if (SimGetCall(index, &call) && call.ordinal == ordinal && call.endTicks != 0 &&
                call.result < 1)
                return true;
        }
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(1);
    }
}

// End of the device write logged before `before` and at or after `from`; 0 if none.
int64_t PreviousWriteEnd(int from, int before) {
    SimCall call;
    for (int index = before - 1; index >= from; --index) {
        if (SimGetCall(index, &call) && call.ordinal == 3)
            return call.endTicks;
    }
    return 0;
}

// Mean duration of the device writes logged at or after `from`.
double MeanDeviceWriteMs(int from) {
    double total = 0;
    int count = 0;
    SimCall call;
    for (int index = from; index < SimCallCount(); ++index) {
        if (SimGetCall(index, &call) && call.ordinal == 3 && call.endTicks != 0) {
            total += TicksToMicros(call.endTicks - call.startTicks);
            ++count;
        }
    }
    return count != 0 ? total / count / 1000.0 : 0.0;
}

// Writes a pattern and waits until the display shows it: the worker is idle again.
void WriteAndSettle(IBrailleDriver* driver) {
    const CellPattern pattern = PatternFor(NextSerial());
    driver->WriteCells(pattern.cells, kBenchCells);
    WaitUntilShown(pattern, kShowTimeoutMs);
}

// Writes `count` fresh patterns; returns the last and counts refused calls.
CellPattern WriteRun(IBrailleDriver* driver, int count, int* refused) {
    CellPattern pattern{};
    for (int i = 0; i < count; ++i) {
        pattern = PatternFor(NextSerial());
        if (driver->WriteCells(pattern.cells, kBenchCells) == 0)
            ++*refused;
    }
    return pattern;
}

const KeyEvent kNamedKeys[] = {
    {0x00, 0x04, 0x00}, {0x00, 0x08, 0x00}, {0x00, 0x10, 0x00}, {0x00, 0x20, 0x00},
    {0x00, 0x02, 0x00}, {0x00, 0x01, 0x00}, {0x00, 0x80, 0x00}, {0x00, 0x00, 0x05},
    {0x15, 0x00, 0x07}, {0x01, 0x04, 0x00},
};
constexpr int kNamedKeyCount = sizeof kNamedKeys / sizeof kNamedKeys[0];

void PressNamedKey(int index) {
    const KeyEvent& key = kNamedKeys[index % kNamedKeyCount];
    SimPressKey(key.dotKeys, key.controlKeys, key.routingKey);
}

} // namespace

int32_t BenchHost::KeyPressed(IBrailleDriver* driver, const char* keyName, int32_t routingKey) {
    const int64_t now = Ticks();
    if (keysSeen++ == 0)
        firstKeyTicks = now;
    lastKeyTicks = now;
    return ScreenReaderHost::KeyPressed(driver, keyName, routingKey);
}

void BenchHost::StartCountingKeys() {
    keysSeen = 0;
    firstKeyTicks = lastKeyTicks = 0;
    ClearRecords();
}

bool OpenWithDisplay(BenchHost& host) {
    SimReset();
    SimSetLogService(0);
    return host.Driver()->Open("COM5", &host, "", "") == 1 && SimIsLinkOpen() == 1;
}

Samples MeasureWriteCellsCost(IBrailleDriver* driver, int batches, int perBatch) {
    Samples samples;
    for (int batch = 0; batch < batches; ++batch) {
        CellPattern pattern{};
        for (int i = 0; i < perBatch; ++i) {
            pattern = PatternFor(NextSerial());
            const int64_t start = Ticks();
            driver->WriteCells(pattern.cells, kBenchCells);
            samples.Add(MicrosSince(start));
        }
        WaitUntilShown(pattern, kShowTimeoutMs);
    }
    return samples;
}

Samples MeasureWriteToDeviceLatency(IBrailleDriver* driver, int rounds) {
    Samples samples;
    WriteAndSettle(driver);
    for (int round = 0; round < rounds; ++round) {
        Sleep(1); // the worker is back in its wait
        const CellPattern pattern = PatternFor(NextSerial());
        const int mark = SimCallCount();
        const int writes = SimCountCalls(3);
        const int64_t start = Ticks();
        driver->WriteCells(pattern.cells, kBenchCells);
        SimCall call;
        if (!SimWaitCallsReturned(3, writes + 1, 5000) || FindWrite(pattern, mark, &call) < 0)
            break;
        samples.Add(TicksToMicros(call.startTicks - start));
    }
    return samples;
}

Samples MeasureDeviceVersionCost(IBrailleDriver* driver, int rounds) {
    Samples samples;
    for (int round = 0; round < rounds; ++round) {
        Sleep(1); // the worker is back in its wait
        const int64_t start = Ticks();
        const int32_t version = driver->GetDeviceVersion();
        samples.Add(TicksToMicros(Ticks() - start));
        if (version == 0)
            break; // the link is not up: not the figure asked for
    }
    return samples;
}

Samples MeasureKeyToHostLatency(BenchHost& host, int rounds) {
    Samples samples;
    host.StartCountingKeys();
    for (int round = 0; round < rounds; ++round) {
        SimWaitKeysDelivered(5000);
        RunSoonElsewhere([round] { PressNamedKey(round); });
        if (!ServeMessagesUntil([&] { return host.keysSeen > round; }, 5000))
            break;
        samples.Add(TicksToMicros(host.lastKeyTicks - SimLastKeySentTicks()));
    }
    return samples;
}

double MeasureKeyThroughput(BenchHost& host, int events) {
    SimWaitKeysDelivered(5000);
    host.StartCountingKeys();
    // The display's thread blocks on the first key until this thread serves
    // messages, so the window below holds only delivery.
    for (int i = 0; i < events; ++i)
        PressNamedKey(i);
    if (!ServeMessagesUntil([&] { return host.keysSeen >= events; }, 120000))
        return 0.0;
    return (events - 1) * 1e6 / TicksToMicros(host.lastKeyTicks - host.firstKeyTicks);
}

OpenCloseTimes MeasureOpenClose(BenchHost& host, bool displayPresent, int rounds) {
    OpenCloseTimes times;
    for (int round = 0; round < rounds; ++round) {
        SimReset();
        SimSetLogService(0);
        SimSetPresent(displayPresent ? 1 : 0);
        const int64_t open = Ticks();
        const int32_t opened = host.Driver()->Open("COM5", &host, "", "");
        times.openMs.Add(MillisSince(open));
        if (opened != 1 || (SimIsLinkOpen() == 1) != displayPresent)
            ++times.failedOpens;
        const int64_t close = Ticks();
        host.Driver()->Close();
        times.closeMs.Add(MillisSince(close));
    }
    SimReset();
    SimSetLogService(0);
    return times;
}

BurstResult MeasureBurst(IBrailleDriver* driver, int writes, DWORD deviceWriteMs) {
    BurstResult result;
    WriteAndSettle(driver);
    SimSetDelay(3, deviceWriteMs);
    const int mark = SimCallCount();
    const int writesBefore = SimCountCalls(3);
    CellPattern last{};
    int64_t end = Ticks();
    for (int i = 0; i < writes; ++i) {
        last = PatternFor(NextSerial());
        const int64_t start = Ticks();
        if (driver->WriteCells(last.cells, kBenchCells) == 0)
            ++result.refused;
        end = Ticks();
        result.callMicros.Add(TicksToMicros(end - start));
    }
    SimCall shownBy; // stamped with its end in the same step that shows the cells
    const int shownIndex =
        WaitUntilShown(last, kShowTimeoutMs) ? FindWrite(last, mark, &shownBy) : -1;
    result.shown = shownIndex >= 0;
    if (result.shown) {
        const std::vector<double> parts = SplitSpanMs(
            end, {PreviousWriteEnd(mark, shownIndex), shownBy.startTicks, shownBy.endTicks});
        result.busyMs = parts[0];
        result.turnMs = parts[1];
        result.finalMs = parts[2];
        result.lagMs = parts[0] + parts[1] + parts[2];
    }
    result.deviceWrites = SimCountCalls(3) - writesBefore;
    result.deviceWriteMs = MeanDeviceWriteMs(mark);
    SimSetDelay(3, 0);
    return result;
}

ReturnResult MeasureReturnWhileSilent(BenchHost& host, ReturnCase which) {
    ReturnResult result;
    IBrailleDriver* driver = host.Driver();
    driver->Close();
    SimReset();
    SimSetLogService(0);
    const bool linkUp = which == ReturnCase::kWriteFailed;
    SimSetPresent(linkUp ? 1 : 0);
    if (driver->Open("COM5", &host, "", "") != 1 || (SimIsLinkOpen() == 1) != linkUp)
        return result;
    if (linkUp) {
        WriteAndSettle(driver);
        SimSetPresent(0);
    }
    const int mark = SimCallCount();
    const CellPattern latest = PatternFor(NextSerial());
    driver->WriteCells(latest.cells, kBenchCells); // the host's last call
    if (which == ReturnCase::kWriteFailed && !WaitForFailedCall(3, mark, kSilentStepTimeoutMs))
        return result;
    if (which == ReturnCase::kAfterFailedRetry &&
        !WaitForFailedCall(15, mark, kSilentStepTimeoutMs))
        return result;
    SimSetPresent(1);
    const int64_t back = Ticks();
    SimCall shownBy, opened;
    if (!WaitUntilShown(latest, kSilentStepTimeoutMs) || FindWrite(latest, mark, &shownBy) < 0 ||
        FindCallStartedSince(15, mark, back, &opened) < 0)
        return result;
    const std::vector<double> parts =
        SplitSpanMs(back, {opened.startTicks, shownBy.startTicks, shownBy.endTicks});
    result.untilOpenMs = parts[0];
    result.linkUpMs = parts[1];
    result.writeMs = parts[2];
    result.shownAfterMs = parts[0] + parts[1] + parts[2];
    result.shown = true;
    return result;
}

WakeResult MeasureReturnAfterBroadcast(BenchHost& host, Broadcast broadcast) {
    WakeResult result;
    IBrailleDriver* driver = host.Driver();
    driver->Close(); // a new session: no forced re-link of an earlier round to wait out
    SimReset();
    SimSetLogService(0);
    const bool port = broadcast == Broadcast::kPortArrival;
    const std::wstring paired = BluetoothPortId(L"123456789ABC"),
                       repaired = BluetoothPortId(L"123456789ABC", L"C00000001");
    const uint8_t address[6] = {0xBC, 0x9A, 0x78, 0x56, 0x34, 0x12};
    SimBtReset();
    SimBtAddDevice(L"ZR47-0412", address, kSimBtAuthenticated);
    if (!RemoveAllPortRecords() || !AddPortRecord(paired, L"COM12") ||
        driver->Open("COM12", &host, "", "") != 1)
        return result;
    const CellPattern latest = PatternFor(NextSerial());
    driver->WriteCells(latest.cells, kBenchCells);
    if (!WaitUntilShown(latest, kShowTimeoutMs))
        return result;
    if (port && (!RemovePortRecord(paired) || !AddPortRecord(repaired, L"COM14")))
        return result;
    port ? SimSetDisplayPort(L"COM14") : SimSleep();
    const int mark = SimCallCount();
    bool sent = false;
    const int64_t woke = Ticks();
    std::thread broadcaster([&] {
        DWORD_PTR answer = 0;
        if (port)
            BroadcastDeviceChange(DBT_DEVICEARRIVAL, L"COM14");
        else
            SendMessageTimeoutW(HWND_BROADCAST, WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0,
                                SMTO_ABORTIFHUNG, 1000, &answer);
        sent = true;
    });
    host.PumpUntil([&] { return sent; }, kSilentStepTimeoutMs);
    broadcaster.join();
    SimCall shownBy, opened;
    // The display may still hold these cells from before (a re-paired one does).
    const ULONGLONG deadline = GetTickCount64() + kSilentStepTimeoutMs;
    while (FindWrite(latest, mark, &shownBy) < 0 && GetTickCount64() < deadline)
        Sleep(1);
    if (FindWrite(latest, mark, &shownBy) < 0 || FindCallStartedSince(15, mark, woke, &opened) < 0)
        return result;
    result.shownAfterMs = SplitSpanMs(woke, {shownBy.endTicks})[0];
    result.linkUpMs = SplitSpanMs(opened.startTicks, {shownBy.endTicks})[0];
    result.shown = true;
    return result;
}

MemoryResult MeasureWriteMemory(IBrailleDriver* driver, int writesPerRound, int rounds) {
    MemoryResult result;
    auto round = [&] {
        const CellPattern last = WriteRun(driver, writesPerRound, &result.refused);
        WaitUntilShown(last, kShowTimeoutMs);
    };
    round(); // warm-up: heaps and queues reach their working size
    const size_t start = CommittedPrivateBytes();
    size_t before = start;
    for (int i = 0; i < rounds; ++i) {
        round();
        const size_t after = CommittedPrivateBytes();
        result.worstRoundGrowth = std::max(
            result.worstRoundGrowth, static_cast<double>(after) - static_cast<double>(before));
        before = after;
    }
    result.growthPerRound =
        (static_cast<double>(before) - static_cast<double>(start)) / static_cast<double>(rounds);
    return result;
}
