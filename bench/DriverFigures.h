// The driver's figures, measured through the real QornDriver.jlb as a screen
// reader loads it, on the simulated display.
#pragma once

#include <cstdint>

#include "BenchSupport.h"
#include "ScreenReaderHost.h"

// The host stand-in, stamping the moment each key name reaches it.
class BenchHost : public ScreenReaderHost {
public:
    int32_t KeyPressed(IBrailleDriver* driver, const char* keyName, int32_t routingKey) override;
    void StartCountingKeys();
    int keysSeen = 0;
    int64_t firstKeyTicks = 0;
    int64_t lastKeyTicks = 0;
};

// Opens the driver on a present display (link up); false if it did not come up.
bool OpenWithDisplay(BenchHost& host);

// Per call, with the link up and the worker keeping up.
Samples MeasureWriteCellsCost(IBrailleDriver* driver, int batches, int perBatch);

// From the host's WriteCells to the worker's entry into the device write.
Samples MeasureWriteToDeviceLatency(IBrailleDriver* driver, int rounds);

// From the display sending a key event to the host's KeyPressed.
Samples MeasureKeyToHostLatency(BenchHost& host, int rounds);
// Key events decoded and delivered per second, back to back.
double MeasureKeyThroughput(BenchHost& host, int events);

// Open and Close of a freshly reset display, present or not. Milliseconds.
struct OpenCloseTimes {
    Samples openMs;
    Samples closeMs;
    int failedOpens = 0;
};
OpenCloseTimes MeasureOpenClose(BenchHost& host, bool displayPresent, int rounds);

// A burst of writes in a row while each device write takes deviceWriteMs.
struct BurstResult {
    double hostMs = 0;           // the host's calls, first to last
    double shownAfterLastMs = 0; // last call returned -> display shows its cells
    double shownAfterFirstMs = 0;
    // shownAfterLastMs, broken down:
    double deviceBusyMs = 0;  // earlier device writes still under way after the last call
    double queueMs = 0;       // then the worker taking the queued writes, until the final write
    double finalWriteMs = 0;  // the final device write itself
    double deviceWriteMs = 0; // mean duration of one device write
    int deviceWrites = 0;     // device writes made for the burst
    int refused = 0;          // calls that returned 0
    bool shown = false;
};
BurstResult MeasureBurst(IBrailleDriver* driver, int writes, DWORD deviceWriteMs);

// Private bytes per round of writes, after one warm-up round.
struct MemoryResult {
    double growthPerRound = 0;
    double worstRoundGrowth = 0;
    int refused = 0;
};
MemoryResult MeasureWriteMemory(IBrailleDriver* driver, int writesPerRound, int rounds);
