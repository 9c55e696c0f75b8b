// Cell traffic between a host and the simulated display, for tests that need
// to know what the display shows and how long the host's calls take.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "BrailleDriver.h"
#include "SampleDriver.h"
#include "ScreenReaderHost.h"

constexpr int kCells = 12;
// A cell write copies 12 bytes and posts them; this bound is generous enough
// that a busy machine cannot make it fail.
constexpr double kWriteBoundMs = 50.0;
// Generous for a display that is back to show the host's cells (a re-link
// with its settle pause included).
constexpr unsigned kRecoveryTimeoutMs = 15000;

// Cells that tell writes apart: the tag in the first cell, the sequence number
// in the next two, the rest derived from both, so a torn or mixed buffer shows.
void PatternCells(uint8_t tag, uint32_t sequence, uint8_t cells[kCells]);
// True when the cells are a whole pattern; gives its tag and sequence number.
bool ReadPattern(const uint8_t cells[kCells], uint8_t* tag, uint32_t* sequence);

bool DisplayShows(const uint8_t cells[kCells]);

// Durations of host calls, in microseconds.
struct CallTimes {
    std::vector<double> micros;
    void Add(double us) { micros.push_back(us); }
    double Max() const;
    double Median() const;
};

// Writes the cells, timing the call; returns its result.
int32_t TimedWrite(IBrailleDriver* driver, const uint8_t cells[kCells], CallTimes& times);

// Writes fresh patterns (tag, then sequence from *sequence on) every 10 ms,
// serving the host's messages, until the display shows the last write the
// driver accepted. Returns the milliseconds taken, or -1 after timeoutMs.
double WriteUntilShown(ScreenReaderHost& host, uint8_t tag, uint32_t* sequence, unsigned timeoutMs,
                       CallTimes* times = nullptr);

// Writes fresh cells every 10 ms for the given time, calling each() after every write.
void WriteFor(ScreenReaderHost& host, unsigned milliseconds, uint8_t tag, uint32_t* sequence,
              CallTimes& times, const std::function<void()>& each = {});

// Writes fail on the device until the worker has called the ordinal `count`
// more times (it re-links after 20 failed writes in a row), then succeed again.
bool FailWritesUntilCalled(ScreenReaderHost& host, int ordinal, int count, uint8_t tag,
                           uint32_t* sequence, CallTimes& times);

// Opens the driver on COM5 with the display there; true when the link came up,
// a key (JoystickAction) reached the host and cells reached the display.
bool OpenAndServe(ScreenReaderHost& host, uint32_t* sequence);

// The driver's worker thread exists and has not ended.
bool WorkerRunning(const CBrailleSampleDriver* fields);
