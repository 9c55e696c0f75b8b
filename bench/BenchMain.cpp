// Benchmark of the driver's cost to the host and of the display's latency:
// loads QornDriver.jlb as a screen reader does, on the simulated display, and
// prints each figure beside the platform's own floor measured in this run.
//   bench.exe           full run
//   bench.exe --quick   smaller counts, for a quick check that it all runs
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "DriverFigures.h"
#include "Parameters.h"
#include "PlatformFloors.h"
#include "ResultTable.h"

namespace {

struct BenchSizes {
    int slices = 20; // floor and driver take turns, a slice each
    int costBatches = 50;
    int costPerBatch = 200;
    int latencyRounds = 1000;
    int keyRounds = 1000;
    int keyEvents = 5000;
    int openRounds = 9;
    int burstWrites = 1000;
    int burstRounds = 5;
    DWORD deviceWriteMs = 5;
    int memoryWrites = 100000;
    int memoryRounds = 5;
};

BenchSizes QuickSizes() {
    BenchSizes sizes;
    sizes.slices = 5;
    sizes.costBatches = 5;
    sizes.costPerBatch = 100;
    sizes.latencyRounds = 100;
    sizes.keyRounds = 100;
    sizes.keyEvents = 500;
    sizes.openRounds = 1;
    sizes.burstWrites = 200;
    sizes.burstRounds = 1;
    sizes.memoryWrites = 10000;
    sizes.memoryRounds = 2;
    return sizes;
}

constexpr double kMemoryUnit = 100000.0; // writes per reported memory figure
const char kWithinTwice[] = "<= 2x floor";

void Progress(const char* what) {
    static const int64_t start = Ticks();
    fprintf(stderr, "%6.1f s  measuring: %s\n", MillisSince(start) / 1000.0, what);
    fflush(stderr);
}

void PrintMachine() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    using WineVersionFn = const char* (*)();
    const auto wineVersion = reinterpret_cast<WineVersionFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version")));
    printf("Processors: %lu, Wine: %s\n", info.dwNumberOfProcessors,
           wineVersion != nullptr ? wineVersion() : "none (Windows)");
}

// Runs the floor's and the driver's measurement in turns, a slice at a time,
// so that drift in the machine's load weighs on both alike.
void InTurns(int slices, Samples& floor, Samples& ours,
             const std::function<Samples()>& measureFloor,
             const std::function<Samples()>& measureOurs) {
    for (int slice = 0; slice < slices; ++slice) {
        if (slice % 2 == 0) {
            floor.Append(measureFloor());
            ours.Append(measureOurs());
        } else { // each goes first as often as the other
            ours.Append(measureOurs());
            floor.Append(measureFloor());
        }
    }
}

void AddCostRows(ResultTable& table, const BenchSizes& sizes, IBrailleDriver* driver) {
    Progress("WriteCells host cost");
    const int batches = sizes.costBatches / sizes.slices;
    Samples floor, ours;
    InTurns(
        sizes.slices, floor, ours, [&] { return MeasureBarePostCost(batches, sizes.costPerBatch); },
        [&] { return MeasureWriteCellsCost(driver, batches, sizes.costPerBatch); });
    table.Add({"WriteCells host cost, median", Micros(ours.Median()), Micros(floor.Median()),
               Ratio(ours.Median(), floor.Median()), kWithinTwice});
    table.Add({"WriteCells host cost, p99", Micros(ours.Percentile(0.99)),
               Micros(floor.Percentile(0.99)), Ratio(ours.Percentile(0.99), floor.Percentile(0.99)),
               kWithinTwice});
}

void AddWriteLatencyRows(ResultTable& table, const BenchSizes& sizes, IBrailleDriver* driver) {
    Progress("WriteCells to device write latency");
    const int rounds = sizes.latencyRounds / sizes.slices;
    Samples floor, ours;
    InTurns(
        sizes.slices, floor, ours, [&] { return MeasureBarePostAndWake(rounds); },
        [&] { return MeasureWriteToDeviceLatency(driver, rounds); });
    table.Add({"WriteCells -> ordinal 3, median", Micros(ours.Median()), Micros(floor.Median()),
               Ratio(ours.Median(), floor.Median()), kWithinTwice});
    table.Add({"WriteCells -> ordinal 3, p99", Micros(ours.Percentile(0.99)),
               Micros(floor.Percentile(0.99)), Ratio(ours.Percentile(0.99), floor.Percentile(0.99)),
               kWithinTwice});
    // Part of the difference: the worker looks behind each write before sending it.
    table.Add({"  bare empty PeekMessageA, median", "-",
               Micros(MeasureBareEmptyPeek(sizes.latencyRounds).Median()), "-", "-"});
}

void AddKeyRows(ResultTable& table, const BenchSizes& sizes, BenchHost& host) {
    Progress("key event to KeyPressed latency");
    const int rounds = sizes.keyRounds / sizes.slices;
    Samples floor, ours;
    InTurns(
        sizes.slices, floor, ours, [&] { return MeasureBareSendLatency(rounds); },
        [&] { return MeasureKeyToHostLatency(host, rounds); });
    table.Add({"Key event -> KeyPressed, median", Micros(ours.Median()), Micros(floor.Median()),
               Ratio(ours.Median(), floor.Median()), kWithinTwice});
    table.Add({"Key event -> KeyPressed, p99", Micros(ours.Percentile(0.99)),
               Micros(floor.Percentile(0.99)), Ratio(ours.Percentile(0.99), floor.Percentile(0.99)),
               kWithinTwice});
    Progress("key throughput");
    const double floorRate = MeasureBareSendThroughput(sizes.keyEvents);
    const double ourRate = MeasureKeyThroughput(host, sizes.keyEvents);
    // Slower than the floor by this factor, so that above 1 is worse as elsewhere.
    table.Add({"Key throughput", PerSecond(ourRate), PerSecond(floorRate),
               Ratio(floorRate, ourRate), "-"});
}

void AddOpenCloseRows(ResultTable& table, const BenchSizes& sizes, BenchHost& host) {
    Progress("Open and Close");
    MeasureBareWorkerStartStop(1); // first-time costs (class, code pages) left out of both
    MeasureOpenClose(host, false, 1);
    const StartStopTimes floor = MeasureBareWorkerStartStop(sizes.openRounds);
    const OpenCloseTimes absent = MeasureOpenClose(host, false, sizes.openRounds);
    const OpenCloseTimes present = MeasureOpenClose(host, true, sizes.openRounds);
    const double settle = qorn::kLinkSettleMs;
    const double aboveSettle = present.openMs.Median() - settle;
    table.Add({"Open, no display", Millis(absent.openMs.Median()), Millis(floor.startMs.Median()),
               Ratio(absent.openMs.Median(), floor.startMs.Median()), "-"});
    table.Add({"Open, display: above the 1000 ms pause", Millis(aboveSettle),
               Millis(floor.startMs.Median()), Ratio(aboveSettle, floor.startMs.Median()), "-"});
    table.Add({"Close, no display", Millis(absent.closeMs.Median()), Millis(floor.stopMs.Median()),
               Ratio(absent.closeMs.Median(), floor.stopMs.Median()), "-"});
    table.Add({"Close, display", Millis(present.closeMs.Median()), Millis(floor.stopMs.Median()),
               Ratio(present.closeMs.Median(), floor.stopMs.Median()), "-"});
    if (absent.failedOpens + present.failedOpens != 0)
        printf("warning: %d Open calls did not end as expected\n",
               absent.failedOpens + present.failedOpens);
}

// The lag of one burst and where it went.
void AddBurstLagRows(ResultTable& table, const char* which, const BurstResult& burst, int writes) {
    char name[96];
    snprintf(name, sizeof name, "Burst: last call -> display shows it, %s", which);
    table.Add({name, burst.shown ? Millis(burst.shownAfterLastMs) : "never",
               Millis(burst.deviceWriteMs), Ratio(burst.shownAfterLastMs, burst.deviceWriteMs),
               "<= 2 device writes"});
    table.Add(
        {"  of which: device busy with earlier writes", Millis(burst.deviceBusyMs), "-", "-", "-"});
    table.Add({"  of which: worker taking the queue", Millis(burst.queueMs), "-", "-", "-"});
    table.Add({"  of which: the final device write", Millis(burst.finalWriteMs), "-", "-", "-"});
    snprintf(name, sizeof name, "%d of %d", burst.deviceWrites, writes);
    table.Add({"  device writes made", name, "-", "-", "-"});
}

double LagOf(const BurstResult& burst) {
    return burst.shown ? burst.shownAfterLastMs : 1e12;
}

void AddBurstRows(ResultTable& table, const BenchSizes& sizes, IBrailleDriver* driver) {
    Progress("bursts of writes to a slow display");
    Samples floorHostMs, hostMs, firstToShownMs, floorTakeMicros;
    std::vector<BurstResult> bursts;
    int refused = 0;
    for (int round = 0; round < sizes.burstRounds; ++round) {
        floorHostMs.Add(MeasureBarePostBurst(sizes.burstWrites));
        floorTakeMicros.Add(MeasureBareQueueTaking(sizes.burstWrites));
        bursts.push_back(MeasureBurst(driver, sizes.burstWrites, sizes.deviceWriteMs));
        hostMs.Add(bursts.back().hostMs);
        firstToShownMs.Add(bursts.back().shownAfterFirstMs);
        refused += bursts.back().refused;
    }
    std::sort(bursts.begin(), bursts.end(),
              [](const BurstResult& a, const BurstResult& b) { return LagOf(a) < LagOf(b); });
    char name[96];
    snprintf(name, sizeof name, "Burst of %d writes, host time, median", sizes.burstWrites);
    table.Add({name, Millis(hostMs.Median()), Millis(floorHostMs.Median()),
               Ratio(hostMs.Median(), floorHostMs.Median()), "-"});
    AddBurstLagRows(table, "median", bursts[(bursts.size() - 1) / 2], sizes.burstWrites);
    snprintf(name, sizeof name, "worst of %d", sizes.burstRounds);
    AddBurstLagRows(table, name, bursts.back(), sizes.burstWrites);
    snprintf(name, sizeof name, "Bare thread taking %d queued posts, per post, median",
             sizes.burstWrites);
    table.Add({name, "-", Micros(floorTakeMicros.Median()), "-", "-"});
    table.Add({"Burst: first call -> display shows last, median", Millis(firstToShownMs.Median()),
               "-", "-", "-"});
    if (refused != 0)
        printf("warning: %d writes of the bursts were refused\n", refused);
}

void AddMemoryRows(ResultTable& table, const BenchSizes& sizes, IBrailleDriver* driver) {
    Progress("memory per 100,000 writes");
    const double scale = kMemoryUnit / sizes.memoryWrites;
    const double floor = MeasureBarePostMemoryGrowth(sizes.memoryWrites, sizes.memoryRounds);
    const MemoryResult ours = MeasureWriteMemory(driver, sizes.memoryWrites, sizes.memoryRounds);
    table.Add({"Private bytes per 100,000 writes", Bytes(ours.growthPerRound * scale),
               Bytes(floor * scale), "-", "no growth"});
    table.Add({"  worst round of them", Bytes(ours.worstRoundGrowth * scale), "-", "-", "-"});
    if (ours.refused != 0)
        printf("warning: %d writes were refused\n", ours.refused);
}

void PrintFloors() {
    printf(
        "\nFloors, measured in this run on the same machine:\n"
        "  host cost      bare PostThreadMessageA of a 12-cell message\n"
        "  -> ordinal 3   bare post to a thread waiting in GetMessageA, until it runs\n"
        "  -> KeyPressed  bare SendMessageA from another thread into this waiting thread\n"
        "  throughput     the same SendMessageA, back to back\n"
        "  Open           a bare worker (thread start, ready signal, one acknowledged post)\n"
        "                 and one window like the key window\n"
        "  Close          two acknowledged posts, the 25 ms stop pause, thread join, window end\n"
        "  burst host     the same number of bare posts, each with a heap copy\n"
        "  burst display  one device write, as the simulated display timed it\n"
        "  memory         bare posts of heap copies that the receiver frees\n"
        "Ratio: driver / floor (throughput: floor / driver); 1.00x means no cost above the "
        "platform.\n");
}

} // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && strcmp(argv[1], "--quick") == 0;
    const BenchSizes sizes = quick ? QuickSizes() : BenchSizes{};
    PrintMachine();
    BenchHost host;
    if (!host.Load()) {
        fprintf(stderr, "QornDriver.jlb could not be loaded\n");
        return 1;
    }
    ResultTable table;
    AddOpenCloseRows(table, sizes, host);
    if (!OpenWithDisplay(host)) {
        fprintf(stderr, "the driver did not open on the simulated display\n");
        return 1;
    }
    IBrailleDriver* driver = host.Driver();
    AddCostRows(table, sizes, driver);
    AddWriteLatencyRows(table, sizes, driver);
    AddKeyRows(table, sizes, host);
    AddBurstRows(table, sizes, driver);
    AddMemoryRows(table, sizes, driver);
    driver->Close();
    table.Print();
    PrintFloors();
    return 0;
}
