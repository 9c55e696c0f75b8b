#include "DisplayTraffic.h"

#include <algorithm>
#include <cstring>

#include "TestSupport.h"

void PatternCells(uint8_t tag, uint32_t sequence, uint8_t cells[kCells]) {
    cells[0] = tag;
    cells[1] = static_cast<uint8_t>(sequence & 0xFF);
    cells[2] = static_cast<uint8_t>((sequence >> 8) & 0xFF);
    for (int i = 3; i < kCells; ++i)
        cells[i] = static_cast<uint8_t>(tag * 31 + sequence * 7 + i * 13);
}

bool ReadPattern(const uint8_t cells[kCells], uint8_t* tag, uint32_t* sequence) {
    *tag = cells[0];
    *sequence = cells[1] | (cells[2] << 8);
    uint8_t expected[kCells];
    PatternCells(*tag, *sequence, expected);
    return memcmp(expected, cells, kCells) == 0;
}

bool DisplayShows(const uint8_t cells[kCells]) {
    uint8_t shown[kCells] = {};
    return SimGetCells(shown, kCells) == kCells && memcmp(shown, cells, kCells) == 0;
}

double CallTimes::Max() const {
    return micros.empty() ? 0.0 : *std::max_element(micros.begin(), micros.end());
}

double CallTimes::Median() const {
    if (micros.empty())
        return 0.0;
    std::vector<double> sorted = micros;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    return sorted[sorted.size() / 2];
}

int32_t TimedWrite(IBrailleDriver* driver, const uint8_t cells[kCells], CallTimes& times) {
    const LARGE_INTEGER start = Now();
    const int32_t result = driver->WriteCells(cells, kCells);
    times.Add(MillisecondsSince(start) * 1000.0);
    return result;
}

double WriteUntilShown(ScreenReaderHost& host, uint8_t tag, uint32_t* sequence, unsigned timeoutMs,
                       CallTimes* times) {
    CallTimes ownTimes;
    CallTimes& record = times != nullptr ? *times : ownTimes;
    const LARGE_INTEGER start = Now();
    while (MillisecondsSince(start) < timeoutMs) {
        uint8_t cells[kCells];
        PatternCells(tag, (*sequence)++, cells);
        if (TimedWrite(host.Driver(), cells, record) != 0 &&
            host.PumpUntil([&] { return DisplayShows(cells); }, 300))
            return MillisecondsSince(start);
        host.Pump(10);
    }
    return -1.0;
}

void WriteFor(ScreenReaderHost& host, unsigned milliseconds, uint8_t tag, uint32_t* sequence,
              CallTimes& times, const std::function<void()>& each) {
    const LARGE_INTEGER start = Now();
    while (MillisecondsSince(start) < milliseconds) {
        uint8_t cells[kCells];
        PatternCells(tag, (*sequence)++, cells);
        TimedWrite(host.Driver(), cells, times);
        if (each)
            each();
        host.Pump(10);
    }
}

bool FailWritesUntilCalled(ScreenReaderHost& host, int ordinal, int count, uint8_t tag,
                           uint32_t* sequence, CallTimes& times) {
    const int target = SimCountCalls(ordinal) + count;
    SimSetResult(3, 0);
    const LARGE_INTEGER start = Now();
    bool called = false;
    while (!called && MillisecondsSince(start) < kRecoveryTimeoutMs) {
        uint8_t cells[kCells];
        PatternCells(tag, (*sequence)++, cells);
        TimedWrite(host.Driver(), cells, times);
        host.Pump(5);
        called = SimCountCalls(ordinal) >= target;
    }
    SimClearResult(3);
    return called;
}

bool WorkerRunning(const CBrailleSampleDriver* fields) {
    return fields->m_hWorkerThread != nullptr &&
           WaitForSingleObject(fields->m_hWorkerThread, 0) == WAIT_TIMEOUT;
}

bool OpenAndServe(ScreenReaderHost& host, uint32_t* sequence) {
    IBrailleDriver* driver = host.Driver();
    if (driver->Open("COM5", &host, "", "") != 1 ||
        static_cast<CBrailleSampleDriver*>(driver)->m_linkUp != 1)
        return false;
    host.ClearRecords();
    const int sent = SimKeysDelivered();
    SimPressKey(0, 0x02, 0);
    host.PumpUntil([&] { return SimKeysDelivered() > sent && !host.keys.empty(); }, 5000);
    const bool key = host.keys.size() == 1 && host.keys[0].name == "JoystickAction";
    return key && WriteUntilShown(host, 7, sequence, kRecoveryTimeoutMs) >= 0;
}
