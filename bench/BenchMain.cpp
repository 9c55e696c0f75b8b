// Benchmark of the driver's cost to the host and of the display's latency:
// loads QornDriver.jlb as a screen reader does, on the simulated display, and
// prints each figure beside the platform's own floor measured in this run.
//   bench.exe           full run
//   bench.exe --quick   smaller counts, for a quick check that it all runs
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "DiscoveryFigures.h"
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
    std::vector<int> burstWrites = {100, 1000, 10000};
    int burstRounds = 20; // bursts of each size
    DWORD deviceWriteMs = 5;
    int memoryWrites = 100000;
    int memoryRounds = 5;
    int returnRounds = 3; // each takes 6 to 12 s
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
    sizes.burstRounds = 2;
    sizes.memoryWrites = 10000;
    sizes.memoryRounds = 2;
    sizes.returnRounds = 1;
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

// Two rows, median and p99, of a figure held against its floor.
void AddMedianAndP99(ResultTable& table, const std::string& figure, const Samples& ours,
                     const Samples& floor, const char* target) {
    for (const double fraction : {0.5, 0.99}) {
        const double driverValue = ours.Percentile(fraction),
                     floorValue = floor.Percentile(fraction);
        table.Add({figure + (fraction == 0.5 ? ", median" : ", p99"), Micros(driverValue),
                   Micros(floorValue), Ratio(driverValue, floorValue), target});
    }
}

// Measures the figure and its floor in turns, each slice with the given count.
void AddFigureAgainstFloor(ResultTable& table, const BenchSizes& sizes, const char* figure,
                           int count, const std::function<Samples(int)>& measureFloor,
                           const std::function<Samples(int)>& measureOurs, const char* target) {
    Progress(figure);
    const int perSlice = count / sizes.slices;
    Samples floor, ours;
    InTurns(
        sizes.slices, floor, ours, [&] { return measureFloor(perSlice); },
        [&] { return measureOurs(perSlice); });
    AddMedianAndP99(table, figure, ours, floor, target);
}

void AddHostCallRows(ResultTable& table, const BenchSizes& sizes, IBrailleDriver* driver) {
    const int perBatch = sizes.costPerBatch;
    AddFigureAgainstFloor(
        table, sizes, "WriteCells host cost", sizes.costBatches,
        [&](int batches) { return MeasureBarePostCost(batches, perBatch); },
        [&](int batches) { return MeasureWriteCellsCost(driver, batches, perBatch); },
        kWithinTwice);
    AddFigureAgainstFloor(
        table, sizes, "WriteCells -> ordinal 3", sizes.latencyRounds, MeasureBarePostAndWake,
        [&](int rounds) { return MeasureWriteToDeviceLatency(driver, rounds); }, kWithinTwice);
    AddFigureAgainstFloor(
        table, sizes, "GetDeviceVersion host cost", sizes.latencyRounds,
        MeasureBareAcknowledgedPost,
        [&](int rounds) { return MeasureDeviceVersionCost(driver, rounds); }, "-");
}

void AddKeyRows(ResultTable& table, const BenchSizes& sizes, BenchHost& host) {
    AddFigureAgainstFloor(
        table, sizes, "Key event -> KeyPressed", sizes.keyRounds, MeasureBareSendLatency,
        [&](int rounds) { return MeasureKeyToHostLatency(host, rounds); }, kWithinTwice);
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

std::string Parts(double first, double second, double third, const char* unit) {
    char text[96];
    snprintf(text, sizeof text, "%.2f / %.2f / %.2f %s", first, second, third, unit);
    return text;
}

std::string Label(const char* format, int number) {
    char text[96];
    snprintf(text, sizeof text, format, number);
    return text;
}

// Bursts of one size, each after a bare burst of posts of the same size (or
// before, in turns). Lag against one device write, as the display timed it;
// the host's cost per call against a bare post.
void AddBurstSizeRows(ResultTable& table, const BenchSizes& sizes, IBrailleDriver* driver,
                      int writes) {
    Samples floorCall, ourCall, lagMs, deviceWriteMs, deviceWrites;
    BurstResult worst;
    worst.lagMs = -1;
    int refused = 0, unseen = 0;
    InTurns(
        sizes.burstRounds, floorCall, ourCall, [&] { return MeasureBarePostCost(1, writes); },
        [&] {
            BurstResult burst = MeasureBurst(driver, writes, sizes.deviceWriteMs);
            refused += burst.refused;
            if (!burst.shown) {
                ++unseen;
                return Samples();
            }
            lagMs.Add(burst.lagMs);
            deviceWriteMs.Add(burst.deviceWriteMs);
            deviceWrites.Add(burst.deviceWrites);
            if (burst.lagMs > worst.lagMs)
                worst = burst;
            return burst.callMicros;
        });
    const double write = deviceWriteMs.Median();
    const double bound = 2 * write + 1.0;
    table.Add({Label("Burst of %d: last call -> shown, median", writes), Millis(lagMs.Median()),
               Millis(write), Ratio(lagMs.Median(), write), "-"});
    table.Add({Label("Burst of %d: last call -> shown, worst", writes), Millis(lagMs.Worst()),
               Millis(write), Ratio(lagMs.Worst(), write),
               "<= 2 writes + 1 ms = " + Millis(bound)});
    table.Add({"  parts of the worst", Parts(worst.busyMs, worst.turnMs, worst.finalMs, "ms"), "-",
               "-", "-"});
    table.Add({"  device writes per burst, median",
               Label("%d", static_cast<int>(deviceWrites.Median())), "-", "-", "-"});
    AddMedianAndP99(table, Label("Burst of %d: host cost per call", writes), ourCall, floorCall,
                    "<= 1x floor");
    if (refused != 0)
        printf("warning: %d writes of the bursts of %d were refused\n", refused, writes);
    if (unseen != 0)
        printf("warning: %d bursts of %d never showed their last cells\n", unseen, writes);
}

void AddBurstRows(ResultTable& table, const BenchSizes& sizes, IBrailleDriver* driver) {
    for (const int writes : sizes.burstWrites) {
        Progress(Label("bursts of %d writes to a slow display", writes).c_str());
        AddBurstSizeRows(table, sizes, driver, writes);
    }
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

const char* RoundName(ReturnCase which) {
    switch (which) {
    case ReturnCase::kLinkDown:
        return "  link down, back after the write";
    case ReturnCase::kAfterFailedRetry:
        return "  link down, back after a failed retry";
    case ReturnCase::kWriteFailed:
        return "  link up, back after the write failed";
    }
    return "";
}

// The display comes back while the host is silent, in each case in turn; each
// round is listed with its parts: until the worker's open of the link, from
// there (open, settle pause, size poll) to the write, and the write.
void AddReturnRows(ResultTable& table, const BenchSizes& sizes, BenchHost& host) {
    Progress("display back while the host is silent");
    const ReturnCase cases[] = {ReturnCase::kLinkDown, ReturnCase::kAfterFailedRetry,
                                ReturnCase::kWriteFailed};
    // Each return is held against 5 s of silence plus its own link-up (open,
    // settle pause, size poll, write): the bound is on when the retry starts.
    Samples shownAfterMs;
    Samples boundMs;
    double worstShownMs = 0, worstBoundMs = 1, worstLateMs = -1e9;
    std::vector<ResultRow> rounds;
    for (int round = 0; round < sizes.returnRounds; ++round) {
        const ReturnCase which = cases[round % 3];
        const ReturnResult back = MeasureReturnWhileSilent(host, which);
        if (!back.shown) {
            rounds.push_back({RoundName(which), "never shown", "-", "-", "-"});
            continue;
        }
        const double bound = qorn::kSilentRetryAfterMs + back.linkUpMs + back.writeMs;
        shownAfterMs.Add(back.shownAfterMs);
        boundMs.Add(bound);
        if (back.shownAfterMs - bound > worstLateMs) {
            worstLateMs = back.shownAfterMs - bound;
            worstShownMs = back.shownAfterMs;
            worstBoundMs = bound;
        }
        rounds.push_back({RoundName(which),
                          Parts(back.untilOpenMs, back.linkUpMs, back.writeMs, "ms"), "-", "-",
                          "-"});
    }
    table.Add({"Display back, host silent: -> shown, median", Millis(shownAfterMs.Median()),
               Millis(boundMs.Median()), Ratio(shownAfterMs.Median(), boundMs.Median()), "-"});
    table.Add({"Display back, host silent: -> shown, latest", Millis(worstShownMs),
               Millis(worstBoundMs), Ratio(worstShownMs, worstBoundMs), "<= 5 s + settle"});
    for (ResultRow& row : rounds)
        table.Add(std::move(row));
}

// After a wake, or a re-pairing's port arrival, host silent: each round
// against its own link-up.
void AddBroadcastRows(ResultTable& table, const BenchSizes& sizes, BenchHost& host,
                      Broadcast broadcast) {
    const std::string what = broadcast == Broadcast::kWake
                                 ? "Display back after a wake, host silent"
                                 : "Display back after re-pairing on a new port, host silent";
    Progress(what.c_str());
    Samples shownMs, linkUpMs;
    double worstShownMs = 0, worstLinkUpMs = 1, worstLateMs = -1e9;
    for (int round = 0; round < sizes.returnRounds; ++round) {
        const WakeResult back = MeasureReturnAfterBroadcast(host, broadcast);
        if (!back.shown)
            continue;
        shownMs.Add(back.shownAfterMs);
        linkUpMs.Add(back.linkUpMs);
        if (back.shownAfterMs - back.linkUpMs > worstLateMs) {
            worstLateMs = back.shownAfterMs - back.linkUpMs;
            worstShownMs = back.shownAfterMs;
            worstLinkUpMs = back.linkUpMs;
        }
    }
    if (shownMs.Empty()) {
        table.Add({what, "never shown", "-", "-", "-"});
        return;
    }
    table.Add({what + ": -> shown, median", Millis(shownMs.Median()), Millis(linkUpMs.Median()),
               Ratio(shownMs.Median(), linkUpMs.Median()), "-"});
    table.Add({what + ": -> shown, latest", Millis(worstShownMs), Millis(worstLinkUpMs),
               Ratio(worstShownMs, worstLinkUpMs), "<= its link-up + 0.5 s"});
}

void PrintFloors() {
    printf(
        "\nFloors, measured in this run on the same machine:\n"
        "  host cost      bare PostThreadMessageA of a 12-cell message\n"
        "  -> ordinal 3   bare post to a thread waiting in GetMessageA, until it runs\n"
        "                 (the poster waiting on a condition variable, as for the display)\n"
        "  version        the same post, and the wait until that thread sets an event\n"
        "  -> KeyPressed  bare SendMessageA from another thread into this waiting thread\n"
        "  throughput     the same SendMessageA, back to back\n"
        "  Open           a bare worker (thread start, ready signal, one acknowledged post)\n"
        "                 and one window like the key window\n"
        "  Close          two acknowledged posts, the 25 ms stop pause, thread join, window end\n"
        "  burst shown    one device write, as the simulated display timed it (median)\n"
        "  burst cost     a bare post, as for host cost, in bursts of the same size\n"
        "  memory         bare posts of heap copies that the receiver frees\n"
        "  display back   5 s of host silence (common/Parameters.h) plus that return's own\n"
        "                 link-up as timed in the run (open, 1 s settle pause, size poll, write)\n"
        "  after a wake   that wake's own link-up as timed in the run (open, settle pause,\n"
        "                 size poll, write); after re-pairing, the same of that link-up\n"
        "  search         a bare listing of the same device records (SetupAPI and the registry)\n"
        "Parts \"a / b / c\": a burst's lag split into the rest of a device write under way,\n"
        "  the worker's turn to the final write, and that write; a return split into the\n"
        "  wait for the worker's open of the link, the link coming up (open, settle pause,\n"
        "  size poll), and the write of the latest cells.\n"
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
    AddHostCallRows(table, sizes, driver);
    AddKeyRows(table, sizes, host);
    AddBurstRows(table, sizes, driver);
    AddMemoryRows(table, sizes, driver);
    AddReturnRows(table, sizes, host);                      // opens and closes the driver anew
    AddBroadcastRows(table, sizes, host, Broadcast::kWake); // the same
    AddBroadcastRows(table, sizes, host, Broadcast::kPortArrival); // the same
    driver->Close();
    AddDiscoveryRows(table, quick);
    table.Print();
    PrintFloors();
    return 0;
}
