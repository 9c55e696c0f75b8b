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

// GetDeviceVersion on a linked display: the worker asks the library, the host
// waits for the answer.
Samples MeasureDeviceVersionCost(IBrailleDriver* driver, int rounds);

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

// A burst of writes in a row, as fast as the host can call, while each device
// write takes deviceWriteMs.
struct BurstResult {
    Samples callMicros; // the host's cost of each call
    double lagMs = 0;   // last call returned -> end of the device write showing its cells
    // lagMs, broken down: the rest of a device write under way when the last
    // call returned, the worker's turn from that write to the final one, and
    // the final write itself.
    double busyMs = 0;
    double turnMs = 0;
    double finalMs = 0;
    double deviceWriteMs = 0; // mean duration of the burst's device writes
    int deviceWrites = 0;
    int refused = 0; // calls that returned 0
    bool shown = false;
};
BurstResult MeasureBurst(IBrailleDriver* driver, int writes, DWORD deviceWriteMs);

// The display comes back while the host is silent, right after the driver's
// last failed step, so that the driver's whole wait for silence lies ahead.
enum class ReturnCase {
    kLinkDown,         // opened without the display; back right after the host's one write
    kAfterFailedRetry, // the same, but back right after the worker's first retry failed
    kWriteFailed,      // the display left an open link; back once the host's one write failed
};
struct ReturnResult {
    double shownAfterMs = 0; // display back -> end of the device write showing the latest cells
    // shownAfterMs, broken down: until the worker's open of the link, from
    // there (open, settle pause, size poll) to the write, and the write.
    double untilOpenMs = 0;
    double linkUpMs = 0;
    double writeMs = 0;
    bool shown = false;
};
// Closes the driver and opens it again for the case; leaves it open, link up.
ReturnResult MeasureReturnWhileSilent(BenchHost& host, ReturnCase which);

// What the system broadcasts, host silent: the computer slept (the library
// lost the link without a word) and wakes; or the display, paired on COM12, was
// removed and paired again and has COM14 now (its Bluetooth list entry kept),
// and a serial port arrived. From the broadcast to the end of the device write
// that shows the host's latest cells, and that link-up's own time, from the
// open to the end of that write. Leaves the driver open, link up.
enum class Broadcast { kWake, kPortArrival };
struct WakeResult {
    double shownAfterMs = 0;
    double linkUpMs = 0;
    bool shown = false;
};
WakeResult MeasureReturnAfterBroadcast(BenchHost& host, Broadcast broadcast);

// Private bytes per round of writes, after one warm-up round.
struct MemoryResult {
    double growthPerRound = 0;
    double worstRoundGrowth = 0;
    int refused = 0;
};
MemoryResult MeasureWriteMemory(IBrailleDriver* driver, int writesPerRound, int rounds);
