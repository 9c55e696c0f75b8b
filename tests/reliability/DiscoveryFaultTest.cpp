// Faults of the display discovery that Open("AUTO") runs: a Bluetooth search
// that hangs (and Open asked again meanwhile), a WMI stage that fails at each
// step or takes seconds per Bluetooth port. Open must go on within its bound, a
// hung search must stay the only one, the display's device record must spare
// Open the slow WMI, and a search still running must keep the driver's code
// mapped until it ends, even after FreeLibrary.
#include <atomic>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>
#include <dbt.h>

#include "ChildProgram.h"
#include "DebuggerOutput.h"
#include "DisplayTraffic.h"

#include "DriverDiscoveryFixture.h"
#include "ProcessCensus.h"
#include "ReliabilityTable.h"

namespace {

constexpr uint8_t kPhoneAddress[6] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06};

constexpr double kOpenBoundMs = 10000;    // Open's wait for the search
constexpr double kPromptOpenMs = 5000;    // generous for a search that does not hang
constexpr DWORD kHangMs = 13000;          // past the bound, but ends within the test
constexpr double kGaveUpLatestMs = 12500; // Open did not wait for the hung search itself

class DiscoveryFaultTest : public DriverDiscoveryTest {
protected:
    // No record, nothing paired, the display answering on COM12 only.
    void StartAfresh() {
        SimReset();
        SimSetLogService(0);
        SimBtReset();
        EXPECT_TRUE(RemoveAllPortRecords());
        SimSetDisplayPort(L"COM12");
    }
    // Opens with "AUTO" and returns the port text that reached the library
    // ("" for none) and how long Open took.
    std::wstring OpenAuto(double* milliseconds) {
        const int calls = SimCallCount();
        const LARGE_INTEGER start = Now();
        EXPECT_EQ(driver->Open("AUTO", &host, "", ""), 1);
        *milliseconds = MillisecondsSince(start);
        const std::vector<SimCall> opened = SimCallsSince(calls, 15);
        std::wstring port = opened.empty() ? L"" : opened.back().portName;
        driver->Close();
        return port;
    }
};

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

} // namespace

TEST_F(DiscoveryFaultTest, HungSearchesRepeatedOpensAndFailedStagesNeverHoldOrMisleadOpen) {
    // A search that hangs in the Bluetooth stage: Open goes on with "AUTO".
    PairDisplay();
    ListDisplayPort(L"COM12");
    SimBtDelayNextSearch(kHangMs);
    double hungMs = 0;
    const std::wstring whileHung = OpenAuto(&hungMs);

    // Open again while it still hangs: no second search; this Open waits for
    // the one running and takes its result, which comes within its bound.
    double joinedMs = 0;
    const std::wstring joined = OpenAuto(&joinedMs);
    const int searchesStarted = SimBtSearchesStarted();
    const std::string keptAfterJoin = fields->m_discoveredPort;

    // A search that completes without a display takes the port an earlier
    // search of this process found.
    SimBtReset();
    SimBtAddDevice(L"Phone", kPhoneAddress, kSimBtAuthenticated);
    double noDisplayMs = 0;
    const std::wstring noDisplay = OpenAuto(&noDisplayMs);

    // WMI failing at each step: the search fails, Open keeps "AUTO".
    const SimWmiStep steps[] = {kSimWmiCreateLocator, kSimWmiConnect, kSimWmiBlanket, kSimWmiQuery};
    SimBtReset();
    PairDisplay();
    int failedStagesRight = 0;
    double slowestFailedMs = 0;
    for (SimWmiStep step : steps) {
        SCOPED_TRACE(step);
        ListDisplayPort(L"COM12");
        SimWmiFailAt(step, E_FAIL);
        double ms = 0;
        const std::wstring port = OpenAuto(&ms);
        slowestFailedMs = std::max(slowestFailedMs, ms);
        SimWmiRecord wmi;
        SimWmiGetRecord(&wmi);
        const bool right = port == L"AUTO" && ms < kPromptOpenMs && wmi.liveObjects == 0 &&
                           fields->m_discoveryCompleted == 0;
        failedStagesRight += right;
        EXPECT_TRUE(right) << Narrow(port) << " after " << ms << " ms";
    }
    const std::string keptAtEnd = fields->m_discoveredPort;

    ReportRow("6 discovery",
              "Open(AUTO): search hangs 13 s, Open again meanwhile, no display, WMI fails x4",
              "hung: Open took %.0f ms, port %s; again: %s in %.0f ms, searches started %d; no "
              "display: %s; WMI failures: %d/4 kept AUTO, slowest %.0f ms",
              hungMs, Narrow(whileHung).c_str(), Narrow(joined).c_str(), joinedMs, searchesStarted,
              Narrow(noDisplay).c_str(), failedStagesRight, slowestFailedMs);
    EXPECT_GE(hungMs, kOpenBoundMs - 100);
    EXPECT_LT(hungMs, kGaveUpLatestMs);
    EXPECT_EQ(whileHung, L"AUTO");
    EXPECT_EQ(joined, L"COM12");
    EXPECT_LT(joinedMs, kHangMs - kOpenBoundMs + kPromptOpenMs);
    EXPECT_EQ(searchesStarted, 1);
    EXPECT_EQ(keptAfterJoin, "COM12");
    EXPECT_EQ(noDisplay, L"COM12");
    EXPECT_LT(noDisplayMs, kPromptOpenMs);
    EXPECT_EQ(failedStagesRight, 4);
    EXPECT_EQ(keptAtEnd, "COM12");
}

// WMI takes 3 s for each of four Bluetooth ports, past Open's 10 s bound: with
// the display's device record Open takes its port at once and asks WMI
// nothing; with WMI alone (no record) it gives up and opens "AUTO".
TEST_F(DiscoveryFaultTest, TheDisplaysRecordSparesOpenAWmiSlowerThanItsBound) {
    PairDisplay();
    ListSlowBluetoothPorts(L"COM12");
    ASSERT_TRUE(AddPortRecord(kDisplayPortPnp, L"COM12"));
    double recordsMs = 0;
    const std::wstring viaRecords = OpenAuto(&recordsMs);
    SimWmiRecord wmi;
    SimWmiGetRecord(&wmi);
    const int queriesWithRecord = wmi.queries;

    ASSERT_TRUE(RemovePortRecord(kDisplayPortPnp));
    double wmiMs = 0;
    const std::wstring viaWmi = OpenAuto(&wmiMs);
    // The search Open gave up on ends once WMI has listed every port.
    const bool ended = WaitFor(
        [] {
            SimWmiRecord later;
            SimWmiGetRecord(&later);
            return later.portsHandedOut == 4 && later.liveObjects == 0;
        },
        10000);
    Sleep(500); // its last steps after the listing

    ReportRow("6 discovery",
              "Open(AUTO), WMI 3 s per Bluetooth port x4: the display's record listed, then not",
              "record: %s in %.0f ms, WMI queries %d; WMI alone: %s after %.0f ms",
              Narrow(viaRecords).c_str(), recordsMs, queriesWithRecord, Narrow(viaWmi).c_str(),
              wmiMs);
    EXPECT_EQ(viaRecords, L"COM12");
    EXPECT_LT(recordsMs, 1500.0);
    EXPECT_EQ(queriesWithRecord, 0);
    EXPECT_EQ(viaWmi, L"AUTO");
    EXPECT_GE(wmiMs, kOpenBoundMs - 100);
    EXPECT_LT(wmiMs, kGaveUpLatestMs);
    EXPECT_TRUE(ended);
}

// The display found again while the driver stays open: removed and paired
// again (Windows gives it a new port, COM12's record goes), with the host
// writing and again with the host silent; paired only after Open("AUTO")
// found nothing; and, for contrast, switched off with COM12's record still
// there, where the driver must keep COM12, also when a second record of the
// display (COM34) is the one the choice rules pick. With the system's
// device-change broadcast (from another thread, or another process, as
// Windows sends it) the display is back within 3 s of it; while the host has
// suspended the display no window hears it, and the resume looks itself.
TEST_F(DiscoveryFaultTest, AMovedOrLatePairedDisplayIsFoundAgainAndAnOffOneKeepsItsPort) {
    enum class Change {
        kRepairedHostWriting,
        kRepairedHostSilent,
        kRepairedPhoneOnOldPort,
        kRepairedSuspendedDuringSearch,
        kRepairedWhileSuspended,
        kPairedLater,
        kSwitchedOff,
        kTwoRecordsOffThenOn
    };
    struct Case {
        const char* tried;
        Change change;
        UINT broadcast = 0; // what the system broadcasts as the change is made
        bool fromAnotherProcess = false;
    };
    const Case cases[] = {
        {"open on COM12; the display re-paired (its record now COM14), the host writing",
         Change::kRepairedHostWriting},
        {"open on COM12; the display re-paired (its record now COM14), the host silent",
         Change::kRepairedHostSilent},
        {"open on COM12; the display re-paired (its record now COM14) and a phone paired on COM12, "
         "host silent",
         Change::kRepairedPhoneOnOldPort},
        {"open on COM12; the display re-paired (its record now COM14), host silent; suspended for "
         "6 s while the search for it runs (4 s), then resumed",
         Change::kRepairedSuspendedDuringSearch},
        {"Open(AUTO) with no display paired; paired (Bluetooth and record, COM12) 3 s later, "
         "host silent",
         Change::kPairedLater},
        {"open on COM12; the display switched off, COM12's record still there, host silent",
         Change::kSwitchedOff},
        {"open on COM12; a second record of the display, COM34, the one the choice rules pick; "
         "the display off 40 s, then on again, host silent",
         Change::kTwoRecordsOffThenOn},
        {"re-paired (COM14), the host writing; the arrival broadcast", Change::kRepairedHostWriting,
         DBT_DEVICEARRIVAL},
        {"re-paired (COM14), the host silent; the arrival broadcast", Change::kRepairedHostSilent,
         DBT_DEVICEARRIVAL},
        {"re-paired (COM14), the host silent; only DBT_DEVNODES_CHANGED",
         Change::kRepairedHostSilent, DBT_DEVNODES_CHANGED},
        {"re-paired (COM14), the host silent; the arrival broadcast by another process",
         Change::kRepairedHostSilent, DBT_DEVICEARRIVAL, true},
        {"Open(AUTO) with no display paired; paired on COM12 3 s later; the arrival broadcast",
         Change::kPairedLater, DBT_DEVICEARRIVAL},
        {"suspended by the host; re-paired (COM14) and the arrival broadcast; resumed 1 s later",
         Change::kRepairedWhileSuspended, DBT_DEVICEARRIVAL},
    };
    const std::wstring repairedPnp = BluetoothPortId(L"123456789ABC", L"C00000001");
    constexpr unsigned kWithinMs = 70000; // a minute and 10 s
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tried);
        DebuggerOutput debugger;
        StartAfresh();
        uint32_t sequence = 0;
        if (c.change == Change::kPairedLater) {
            ASSERT_EQ(driver->Open("AUTO", &host, "", ""), 1);
            host.Pump(3000);
            PairDisplay();
            ASSERT_TRUE(AddPortRecord(kDisplayPortPnp, L"COM12"));
        } else {
            PairDisplay();
            const bool twoRecords = c.change == Change::kTwoRecordsOffThenOn;
            ASSERT_TRUE(AddPortRecord(
                twoRecords ? L"BTHENUM\\DEV_123456789ABC\\1" : kDisplayPortPnp, L"COM12"));
            ASSERT_TRUE(!twoRecords || AddPortRecord(repairedPnp, L"COM34"));
            OpenWithDisplay("COM12");
            ASSERT_GE(WriteUntilShown(host, 5, &sequence, kRecoveryTimeoutMs), 0.0);
            if (c.change == Change::kRepairedWhileSuspended)
                driver->SetSuspended(1);
            if (c.change == Change::kSwitchedOff || twoRecords) {
                SimSetPresent(0);
            } else {
                ASSERT_TRUE(RemovePortRecord(kDisplayPortPnp));
                ASSERT_TRUE(AddPortRecord(repairedPnp, L"COM14"));
                if (c.change == Change::kRepairedPhoneOnOldPort) {
                    ASSERT_TRUE(AddPortRecord(BluetoothPortId(L"A0B1C2D3E4F5"), L"COM12"));
                }
                SimSetDisplayPort(L"COM14");
                SimBtDelayNextSearch(c.change == Change::kRepairedSuspendedDuringSearch ? 4000 : 0);
            }
        }
        const wchar_t* expected = c.change == Change::kPairedLater ||
                                          c.change == Change::kSwitchedOff ||
                                          c.change == Change::kTwoRecordsOffThenOn
                                      ? L"COM12"
                                      : L"COM14";
        LARGE_INTEGER changed = Now();
        const int changedAt = SimCallCount();
        std::thread system([&] { // the system's broadcast of the change, if any
            const wchar_t* port = c.broadcast == DBT_DEVNODES_CHANGED ? nullptr : expected;
            if (c.fromAnotherProcess)
                RunProgram(L"thread_poster.exe devicechange 8000 " + std::wstring(port), L"",
                           TestProgramFolder() + L"thread_poster.txt", 60000);
            else if (c.broadcast != 0)
                BroadcastDeviceChange(c.broadcast, port);
        });
        double foundMs = -1;
        size_t callsWhileSuspended = 0, oldPortOpensAfterResume = 0;
        int resumedAt = -1;
        bool keyAfterResume = true;
        if (c.change == Change::kRepairedHostWriting) {
            foundMs = WriteUntilShown(host, 6, &sequence, kWithinMs);
        } else {
            uint8_t cells[kCells];
            PatternCells(6, sequence++, cells);
            driver->WriteCells(cells, kCells); // fails, or is refused: the display is away
            if (c.change == Change::kRepairedWhileSuspended) {
                host.Pump(1000);
                callsWhileSuspended = SimCallsSince(changedAt).size(); // any device call
                resumedAt = SimCallCount();
                driver->SetSuspended(0);
            }
            if (c.change == Change::kRepairedSuspendedDuringSearch) {
                host.PumpUntil([] { return SimBtSearchesStarted() > 0; }, kWithinMs);
                driver->SetSuspended(1); // an open under way has returned by now
                const int suspendedAt = SimCallCount();
                host.Pump(6000); // the search answers meanwhile
                callsWhileSuspended = SimCallsSince(suspendedAt).size();
                const LARGE_INTEGER resumed = Now();
                resumedAt = SimCallCount();
                driver->SetSuspended(0);
                host.ClearRecords();
                SimPressKey(0, 0x02, 0);
                keyAfterResume = host.PumpUntil([&] { return !host.keys.empty(); }, 3000) &&
                                 MillisecondsSince(resumed) < 3000;
            }
            if (c.change == Change::kTwoRecordsOffThenOn) {
                host.Pump(40000);
                SimSetPresent(1);
                changed = Now();
            }
            if (c.change == Change::kSwitchedOff) {
                host.Pump(25000); // past the time a search begins
            } else {
                host.PumpUntil([&] { return DisplayShows(cells); }, kWithinMs);
                foundMs = DisplayShows(cells) ? MillisecondsSince(changed) : -1;
            }
        }
        system.join();
        const std::wstring used = fields->m_portNameW;
        const int searches = debugger.Count({"QornDriver: ", "looked for"});
        // Once the display is found on COM14, nothing opens COM12 again.
        int oldPortOpensAfter = 0, secondRecordOpens = 0;
        bool foundNew = false;
        for (const SimCall& open : SimCallsSince(changedAt, 15)) {
            foundNew = foundNew || wcscmp(open.portName, L"COM14") == 0;
            oldPortOpensAfter += foundNew && wcscmp(open.portName, L"COM12") == 0;
            secondRecordOpens += wcscmp(open.portName, L"COM34") == 0;
        }
        for (const SimCall& open : SimCallsSince(resumedAt < 0 ? SimCallCount() : resumedAt, 15))
            oldPortOpensAfterResume += wcscmp(open.portName, L"COM12") == 0;
        driver->Close();
        SimSetPresent(1);
        const std::string outcome =
            c.change == Change::kSwitchedOff ? "kept for 25 s"
            : foundMs >= 0 ? "latest cells shown " + std::to_string(int(foundMs)) + " ms after"
                           : "NOT found";

        ReportRow("6 discovery", c.tried,
                  "%s; port used %s; searches %d; opens of COM12 after COM14's %d, after the "
                  "resume %zu; of COM34 %d; device calls while suspended %zu; a key within 3 s of "
                  "the resume: %s",
                  outcome.c_str(), Narrow(used).c_str(), searches, oldPortOpensAfter,
                  oldPortOpensAfterResume, secondRecordOpens, callsWhileSuspended,
                  keyAfterResume ? "yes" : "NO");
        EXPECT_EQ(used, expected);
        EXPECT_EQ(callsWhileSuspended, 0u);
        EXPECT_TRUE(keyAfterResume);
        // A search within 25 s of the change, whatever records exist, or the look
        // at the records a broadcast or a resume asks for; both for a search
        // answered while suspended.
        EXPECT_EQ(searches, c.change == Change::kRepairedSuspendedDuringSearch ? 2 : 1);
        EXPECT_EQ(oldPortOpensAfter, 0);
        EXPECT_EQ(oldPortOpensAfterResume, 0u);
        EXPECT_EQ(secondRecordOpens, 0);
        if (c.change == Change::kTwoRecordsOffThenOn || c.broadcast != 0) {
            EXPECT_LT(foundMs, c.broadcast != 0 ? 3000.0 : 12000.0);
        }
        if (c.change != Change::kSwitchedOff) {
            EXPECT_GE(foundMs, 0.0);
            EXPECT_LT(foundMs, double(kWithinMs));
        }
    }
}

// After Close and FreeLibrary a search that still hangs keeps the driver's code
// mapped (its thread runs there); once it ends, the library is gone and no
// thread of it is left.
TEST(DiscoveryFaults, ALibraryFreedWhileASearchHangsUnmapsWhenTheSearchEnds) {
    ASSERT_EQ(SimWmiInstall(), 1);
    SimReset();
    SimSetLogService(0);
    SimSetPresent(0);
    SimBtReset();
    PairDisplay();
    ListDisplayPort(L"COM12");
    const std::set<DWORD> threadsBefore = ThreadIdsOfProcess();
    ScreenReaderHost host;
    ASSERT_TRUE(host.Load());
    SimBtDelayNextSearch(kHangMs - 2000);
    ASSERT_EQ(host.Driver()->Open("AUTO", &host, "", ""), 1);
    host.Driver()->Close();
    host.Unload();
    const bool mappedWhileHung = GetModuleHandleA("QornDriver.jlb") != nullptr;
    const LARGE_INTEGER unloaded = Now();
    const bool unmapped =
        WaitFor([] { return GetModuleHandleA("QornDriver.jlb") == nullptr; }, kHangMs);
    const double unmappedAfterMs = MillisecondsSince(unloaded);
    size_t newThreads = 0;
    WaitFor(
        [&] {
            newThreads = 0;
            for (DWORD id : ThreadIdsOfProcess())
                newThreads += threadsBefore.count(id) == 0;
            return newThreads == 0;
        },
        2000);
    ReportRow("6 discovery", "FreeLibrary while the search Open gave up on still hangs",
              "library still mapped while the search runs: %s; unmapped %.0f ms later when it "
              "ended; threads left: %zu",
              mappedWhileHung ? "yes" : "NO", unmappedAfterMs, newThreads);
    EXPECT_TRUE(mappedWhileHung);
    EXPECT_TRUE(unmapped);
    EXPECT_EQ(newThreads, 0u);
    SimBtReset();
    SimWmiUseSystemWmi();
    SimReset();
}

// Broadcasts naming other ports (one no record lists, a phone's), then 500
// device-change broadcasts in 2 s, all while the host writes every 10 ms:
// nothing opened or closed, no write held up, about one look a second.
TEST_F(DiscoveryFaultTest, BroadcastsOfOtherPortsOrAStormOfThemLeaveASoundLinkAlone) {
    StartAfresh();
    PairDisplay();
    ASSERT_TRUE(AddPortRecord(kDisplayPortPnp, L"COM12"));
    ASSERT_TRUE(AddPortRecord(BluetoothPortId(L"A0B1C2D3E4F5"), L"COM21"));
    OpenWithDisplay("COM12");
    const DebuggerOutput debugger;
    const int mark = SimCallCount();
    std::atomic<bool> done{false};
    std::thread system([&] {
        BroadcastDeviceChange(DBT_DEVICEARRIVAL, L"COM20");
        BroadcastDeviceChange(DBT_DEVICEARRIVAL, L"COM21");
        for (int i = 0; i < 500; ++i, Sleep(4))
            BroadcastDeviceChange(i % 2 ? DBT_DEVNODES_CHANGED : DBT_DEVICEREMOVECOMPLETE,
                                  L"COM21");
        done = true;
    });
    uint32_t sequence = 0;
    CallTimes times;
    while (!done)
        WriteFor(host, 100, 8, &sequence, times);
    system.join();
    const double shownMs = WriteUntilShown(host, 8, &sequence, kRecoveryTimeoutMs);
    const int looks = debugger.Count({"QornDriver: ", "looked for"});
    const size_t opens = SimCallsSince(mark, 15).size(), closes = SimCallsSince(mark, 2).size();

    ReportRow("6 discovery",
              "arrivals of COM20 (no record) and COM21 (a phone's), then 500 device-change "
              "broadcasts in 2 s, the host writing every 10 ms",
              "opens %zu, closes %zu; looks at the records %d; %zu writes, slowest %.1f us; latest "
              "cells shown %.0f ms after",
              opens, closes, looks, times.micros.size(), times.Max(), shownMs);
    EXPECT_EQ(opens, 0u);
    EXPECT_EQ(closes, 0u);
    EXPECT_GE(looks, 1);
    EXPECT_LE(looks, 4);
    EXPECT_LT(times.Max() / 1000.0, kWriteBoundMs);
    EXPECT_GE(shownMs, 0.0);
}
