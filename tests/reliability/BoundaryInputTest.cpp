// Bad input at the host boundary: every slot that takes a pointer or a size,
// with null, -1, 0, 1, exact and large sizes and buffers that end right before
// an inaccessible page; long and unterminated texts; message 1025 with null or
// garbage records to every window of the process; Close and SetSuspended in
// every order, before Open and twice; thread messages from another program.
#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <set>
#include <string>
#include <thread>

#include "DisplayTraffic.h"
#include "DriverFixture.h"
#include "ProcessCensus.h"
#include "ChildProgram.h"
#include "ReliabilityTable.h"

namespace {

enum Slot {
    kOpen = 0,
    kSetHostCallback = 2,
    kGetHostText1 = 3,
    kGetHostText2 = 4,
    kGetDisplayName = 5,
    kWriteCells = 11,
    kWriteStatusCells = 12,
    kSetSuspended = 16,
    kGetManufacturer = 34,
};

constexpr char kHostText1[] = "Braille host text one";
constexpr char kHostText2[] = "two";
constexpr char kManufacturer[] = "Mirel Tactus Co";
constexpr uint8_t kFill = 0xA5;
constexpr int32_t kLarge = 65536;

// A buffer of n bytes filled with kFill, ending right before a PAGE_NOACCESS page.
struct FilledBuffer {
    explicit FilledBuffer(size_t n) : guarded(n) { memset(guarded.data(), kFill, n); }
    char* data() const { return guarded.data(); }
    bool Untouched() const {
        for (size_t i = 0; i < guarded.size(); ++i) {
            if (static_cast<uint8_t>(guarded.data()[i]) != kFill)
                return false;
        }
        return true;
    }
    GuardedBuffer guarded;
};

// The bounded text copy, byte for byte: the text cut to size - 1, then zeros.
bool HoldsTextCopy(const char* buffer, int32_t size, const char* text) {
    const size_t copied = std::min(strlen(text), static_cast<size_t>(size - 1));
    if (memcmp(buffer, text, copied) != 0)
        return false;
    for (int32_t i = static_cast<int32_t>(copied); i < size; ++i) {
        if (buffer[i] != '\0')
            return false;
    }
    return true;
}

struct SweepCounts {
    int calls = 0;
    int wrong = 0;
};

void Check(SweepCounts& counts, bool right, const std::string& what) {
    ++counts.calls;
    if (!right) {
        ++counts.wrong;
        ADD_FAILURE() << what;
    }
}

// Slots 3, 4 and 5: a null buffer with any size, a zero-byte buffer at the
// inaccessible page with sizes -1 and 0, and whole buffers of 1 byte, of the
// text's length, of length + 1, and large.
void SweepTextSlot(IBrailleDriver* driver, int slot, const char* text, SweepCounts& counts) {
    const std::string name = "slot " + std::to_string(slot);
    const int32_t exact = static_cast<int32_t>(strlen(text)) + 1;
    for (int32_t size : {-1, 0, 1, exact, kLarge, INT_MAX})
        Check(counts, CallSlot<int32_t>(driver, slot, static_cast<char*>(nullptr), size) == 0,
              name + " null buffer, size " + std::to_string(size));
    for (int32_t size : {-1, 0, INT_MIN}) {
        FilledBuffer none(0);
        Check(counts, CallSlot<int32_t>(driver, slot, none.data(), size) == 0,
              name + " no room, size " + std::to_string(size));
    }
    for (int32_t size : {1, exact - 1, exact, kLarge}) {
        if (size < 1)
            continue;
        FilledBuffer buffer(static_cast<size_t>(size));
        const int32_t length = CallSlot<int32_t>(driver, slot, buffer.data(), size);
        const int32_t expected = std::min<int32_t>(exact - 1, size - 1);
        Check(counts, length == expected && HoldsTextCopy(buffer.data(), size, text),
              name + " buffer of " + std::to_string(size));
    }
}

// Slot 34: the name goes in whole (16 bytes) or not at all, and only with a GUID.
void SweepManufacturer(IBrailleDriver* driver, SweepCounts& counts) {
    const int32_t exact = sizeof kManufacturer;
    for (int32_t size : {-1, 0, 1, exact - 1, exact, kLarge}) {
        for (bool withGuid : {false, true}) {
            const std::string what = "slot 34 size " + std::to_string(size) +
                                     (withGuid ? " with GUID" : " without GUID");
            FilledBuffer guid(withGuid ? sizeof(GUID) : 0);
            GUID* guidPointer = withGuid ? reinterpret_cast<GUID*>(guid.data()) : nullptr;
            Check(counts,
                  CallSlot<int32_t>(driver, kGetManufacturer, static_cast<char*>(nullptr), size,
                                    guidPointer) == 0 &&
                      guid.Untouched(),
                  what + ", null buffer");
            FilledBuffer buffer(size > 0 ? static_cast<size_t>(size) : 0);
            const int32_t result =
                CallSlot<int32_t>(driver, kGetManufacturer, buffer.data(), size, guidPointer);
            const bool fits = withGuid && size >= exact;
            const bool right = fits ? result == 1 &&
                                          HoldsTextCopy(buffer.data(), size, kManufacturer) &&
                                          !guid.Untouched()
                                    : result == 0 && buffer.Untouched() && guid.Untouched();
            Check(counts, right, what);
        }
    }
}

// Slots 11 and 12 read exactly count bytes: a buffer that ends at the
// inaccessible page catches any read past them.
void SweepWriteSlots(IBrailleDriver* driver, bool workerRuns, bool linkUp, SweepCounts& counts) {
    for (int slot : {kWriteCells, kWriteStatusCells}) {
        const std::string name = "slot " + std::to_string(slot);
        for (int32_t count : {INT_MIN, -1, 0, 1, 12, INT_MAX})
            Check(counts,
                  CallSlot<int32_t>(driver, slot, static_cast<const unsigned char*>(nullptr),
                                    count) == 0,
                  name + " null cells, count " + std::to_string(count));
        for (int32_t count : {INT_MIN, -1, 0}) {
            FilledBuffer none(0);
            Check(counts,
                  CallSlot<int32_t>(driver, slot,
                                    reinterpret_cast<const unsigned char*>(none.data()),
                                    count) == 0,
                  name + " no cells, count " + std::to_string(count));
        }
        for (int32_t count : {1, 12, 255, 256, 257, kLarge}) {
            FilledBuffer cells(static_cast<size_t>(count));
            const int writesBefore = SimCountCalls(3);
            const int32_t result = CallSlot<int32_t>(
                driver, slot, reinterpret_cast<const unsigned char*>(cells.data()), count);
            // Status cells are posted while a worker runs; cells only while linked.
            const bool posted = slot == kWriteCells ? linkUp : workerRuns;
            bool right = (result != 0) == posted;
            if (slot == kWriteCells && posted) {
                // The device gets the low 8 bits of the count.
                right = right && WaitFor([&] { return SimCountCalls(3) > writesBefore; }, 5000);
                const std::vector<SimCall> last = SimCallsSince(SimCallCount() - 1, 3);
                right = right && !last.empty() && last[0].args[1] == (count & 0xFF);
            }
            Check(counts, right,
                  name + " cells ending at the page, count " + std::to_string(count));
        }
    }
}

void SweepSuspendFlags(IBrailleDriver* driver, CBrailleSampleDriver* fields, bool workerRuns,
                       SweepCounts& counts) {
    for (int32_t flag : {INT_MIN, -1, 2, 1, INT_MAX, 0}) {
        const int32_t result = CallSlot<int32_t>(driver, kSetSuspended, flag);
        const uint8_t cells[kCells] = {1};
        const bool refused = driver->WriteCells(cells, kCells) == 0;
        Check(counts,
              (result != 0) == workerRuns && fields->m_suspended == static_cast<uint32_t>(flag) &&
                  (flag == 0 || refused),
              "SetSuspended " + std::to_string(flag));
    }
}

void SweepAllSlots(IBrailleDriver* driver, CBrailleSampleDriver* fields, bool opened, bool linkUp,
                   SweepCounts& counts) {
    SweepTextSlot(driver, kGetHostText1, opened ? kHostText1 : "", counts);
    SweepTextSlot(driver, kGetHostText2, opened ? kHostText2 : "", counts);
    SweepTextSlot(driver, kGetDisplayName, "Lumivo12", counts);
    SweepManufacturer(driver, counts);
    SweepWriteSlots(driver, opened, linkUp, counts);
    SweepSuspendFlags(driver, fields, opened, counts);
    IBrailleHostCallback* previous =
        CallSlot<IBrailleHostCallback*>(driver, kSetHostCallback, (IBrailleHostCallback*)nullptr);
    Check(counts,
          CallSlot<IBrailleHostCallback*>(driver, kSetHostCallback, previous) == nullptr &&
              fields->m_pHostCallback == previous,
          "SetHostCallback null and back");
}

} // namespace

TEST_F(DriverTest, EverySlotTakesNullEdgeSizesAndBuffersEndingAtAnInaccessiblePage) {
    SweepCounts before, down, up;
    SweepAllSlots(driver, fields, false, false, before);
    SimSetPresent(0);
    ASSERT_EQ(driver->Open("COM5", &host, kHostText1, kHostText2), 1);
    SweepAllSlots(driver, fields, true, false, down);
    driver->Close();
    SimSetPresent(1);
    OpenWithDisplay();
    ASSERT_TRUE(CallSlot<int32_t>(driver, kOpen, "COM5", (IBrailleHostCallback*)&host, kHostText1,
                                  kHostText2) == 1);
    SweepAllSlots(driver, fields, true, true, up);
    const int calls = before.calls + down.calls + up.calls;
    const int wrong = before.wrong + down.wrong + up.wrong;
    ReportRow("4 bad input",
              "slots 2-5 11 12 16 34: null, sizes INT_MIN..INT_MAX, buffers at a no-access page; "
              "3 driver states",
              "%d calls, %d with a wrong answer or a byte written outside its place", calls, wrong);
    EXPECT_EQ(wrong, 0);
}

TEST_F(DriverTest, OpenTakesNullLongAndUnterminatedTextsAndPortsAtTheLimit) {
    SimSetPresent(0);
    int opens = 0, right = 0;
    auto openWith = [&](const char* port, IBrailleHostCallback* callback, const char* text1,
                        const char* text2, const std::string& text1Kept,
                        const std::string& text2Kept, const wchar_t* portReaching) {
        const int callsBefore = SimCallCount();
        ++opens;
        const bool opened = driver->Open(port, callback, text1, text2) == 1;
        char kept1[300] = {}, kept2[300] = {};
        driver->GetHostText1(kept1, sizeof kept1);
        driver->GetHostText2(kept2, sizeof kept2);
        const std::vector<SimCall> linkOpens = SimCallsSince(callsBefore, 15);
        const bool portRight =
            portReaching == nullptr
                ? linkOpens.empty()
                : linkOpens.size() == 1 && std::wstring(linkOpens[0].portName) == portReaching;
        const bool ok = opened && kept1 == text1Kept && kept2 == text2Kept && portRight &&
                        fields->m_pHostCallback == callback;
        right += ok;
        EXPECT_TRUE(ok) << "port " << (port ? std::string(port).substr(0, 40) : "(null)");
        driver->Close();
    };
    const std::string a300(300, 'a');
    const std::string a255(255, 'a');
    // Texts that end exactly at the inaccessible page: 256 characters without a
    // terminator (read no further than 256), and 255 with one.
    GuardedBuffer unterminated(256);
    memset(unterminated.data(), 'u', 256);
    GuardedBuffer terminated(256);
    memset(terminated.data(), 't', 255);
    terminated.data()[255] = '\0';
    GuardedBuffer port(5);
    memcpy(port.data(), "com5", 5);
    const std::string port30 = "COM" + std::string(27, '9');
    const std::string port31 = port30 + "9";

    openWith(port.data(), &host, nullptr, nullptr, "", "", L"COM5");
    openWith("COM5", nullptr, a300.c_str(), "", a255, "", L"COM5");
    openWith("COM5", &host, unterminated.data(), terminated.data(), std::string(255, 'u'),
             std::string(255, 't'), L"COM5");
    openWith(port30.c_str(), &host, "", "", "", "",
             std::wstring(port30.begin(), port30.end()).c_str());
    openWith(port31.c_str(), &host, "", "", "", "", nullptr); // too long for the library
    openWith(a300.c_str(), &host, "", "", "", "", nullptr);
    openWith(nullptr, &host, "", "", "", "", nullptr); // discovery finds nothing here

    // No callback: keys are dropped, nothing is called.
    ASSERT_EQ(driver->Open("COM5", nullptr, "", ""), 1);
    Press(0, 0x01, 0);
    EXPECT_TRUE(host.keys.empty());
    ReportRow("4 bad input",
              "Open: null port/texts/callback, 300-char texts/port, 256 unterminated at no-access "
              "page, 30/31-char port",
              "%d/%d opens kept exactly the first 255 characters and passed the right port", right,
              opens);
    EXPECT_EQ(right, opens);
}

namespace {

// Records that are not there: null, small numbers, kernel space, a freed page,
// and records cut short by an inaccessible page.
std::vector<LPARAM> GarbageRecords(const GuardedBuffer& none, const GuardedBuffer& one,
                                   const GuardedBuffer& two) {
    void* freed = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    VirtualFree(freed, 0, MEM_RELEASE);
    return {0,
            1,
            0x10,
            0xFFFF,
            -1,
            static_cast<LPARAM>(0x00007FFFFFFF0000LL),
            static_cast<LPARAM>(0xFFFF800000000000ULL),
            reinterpret_cast<LPARAM>(freed),
            reinterpret_cast<LPARAM>(none.data()),
            reinterpret_cast<LPARAM>(one.data()),
            reinterpret_cast<LPARAM>(two.data())};
}

size_t Deliveries(const ScreenReaderHost& host) {
    return host.keys.size() + host.typed.size() + host.dotsAsked.size();
}

} // namespace

TEST_F(DriverTest, Message1025WithNullOrGarbageRecordsToEveryWindowIsHarmless) {
    OpenWithoutDisplay();
    // Windows a host process might also have: another of the driver's class,
    // an ordinary one, a message-only one.
    HWND sameClass = CreateWindowExA(0, "jQornDriver", "", WS_DISABLED, 0, 0, 0, 0, nullptr,
                                     nullptr, host.Module(), nullptr);
    HWND ordinary =
        CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    HWND messageOnly =
        CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    GuardedBuffer none(0), one(1), two(2);
    memset(one.data(), 0x01, 1);
    memset(two.data(), 0x01, 2);
    const std::vector<LPARAM> garbage = GarbageRecords(none, one, two);

    std::set<HWND> windows;
    int sent = 0;
    auto sendToAll = [&](const char* state) {
        SCOPED_TRACE(state);
        std::vector<HWND> all = WindowsOfProcess();
        all.push_back(fields->m_hNotifyWindow);
        for (HWND window : all) {
            windows.insert(window);
            for (LPARAM record : garbage) {
                SendMessageA(window, 1025, static_cast<WPARAM>(record), record);
                PostMessageA(window, 1025, 0, record);
                sent += 2;
            }
        }
        host.Pump(20);
        EXPECT_EQ(Deliveries(host), 0u);
    };
    sendToAll("open, with a callback");
    driver->SetHostCallback(nullptr);
    sendToAll("open, without a callback");
    driver->SetHostCallback(&host);
    const HWND suspendedWindow = fields->m_hNotifyWindow;
    driver->SetSuspended(1);
    SendMessageA(suspendedWindow, 1025, 0, 0); // destroyed: nothing to reach
    sendToAll("suspended");
    driver->SetSuspended(0);

    // The window still serves a real record, even one that ends at the page.
    GuardedBuffer record(3);
    const uint8_t leftScroll[3] = {0, 0x01, 0};
    memcpy(record.data(), leftScroll, 3);
    SendMessageA(fields->m_hNotifyWindow, 1025, 0, reinterpret_cast<LPARAM>(record.data()));
    const bool stillServes = host.keys.size() == 1 && host.keys[0].name == "LeftScroll";
    host.ClearRecords();
    driver->Close();
    sendToAll("closed");
    DestroyWindow(sameClass);
    DestroyWindow(ordinary);
    DestroyWindow(messageOnly);

    ReportRow("4 bad input",
              "message 1025, 11 null/garbage/cut-short records, every window, 4 driver states",
              "%d messages to %zu windows, 0 deliveries expected; real record still served: %s",
              sent, windows.size(), stillServes ? "yes" : "NO");
    EXPECT_TRUE(stillServes);
}

namespace {

enum Op { kOpOpen, kOpClose, kOpSuspend, kOpResume };
const char* const kOpNames[] = {"Open", "Close", "Suspend", "Resume"};

// What the driver holds after each step, as the host sees it.
struct SessionModel {
    bool everOpened = false;
    bool session = false; // a worker runs
    bool window = false;
    uint32_t suspended = 0;

    // Returns whether the step's result is nonzero.
    bool Apply(Op op) {
        switch (op) {
        case kOpOpen:
            everOpened = session = window = true;
            suspended = 0;
            return true;
        case kOpClose:
            if (everOpened)
                session = window = false;
            return false;
        case kOpSuspend:
            suspended = 1;
            window = false;
            return session;
        case kOpResume:
            suspended = 0;
            window = window || everOpened; // the class exists once Open has run
            return session;
        }
        return false;
    }
};

int32_t RunStep(IBrailleDriver* driver, ScreenReaderHost& host, Op op) {
    switch (op) {
    case kOpOpen:
        return driver->Open("COM5", &host, "", "");
    case kOpClose:
        driver->Close();
        return 0;
    case kOpSuspend:
        return driver->SetSuspended(1);
    case kOpResume:
        return driver->SetSuspended(0);
    }
    return 0;
}

} // namespace

TEST(BoundaryInput, CloseAndSetSuspendedBeforeOpenTwiceAndInEveryOrder) {
    SimReset();
    SimSetLogService(0);
    SimSetPresent(0);
    const size_t threadsBefore = ThreadIdsOfProcess().size();
    const size_t handlesBefore = OpenHandleCount();
    int sequences = 0, steps = 0, mismatches = 0, leftovers = 0;
    for (int code = 0; code < 64; ++code) {
        const Op ops[3] = {Op(code % 4), Op(code / 4 % 4), Op(code / 16)};
        std::string trace;
        for (Op op : ops)
            trace += std::string(kOpNames[op]) + " ";
        SCOPED_TRACE(trace);
        ScreenReaderHost host;
        ASSERT_TRUE(host.Load());
        auto* fields = static_cast<CBrailleSampleDriver*>(host.Driver());
        SessionModel model;
        ++sequences;
        for (Op op : ops) {
            ++steps;
            const bool nonzero = RunStep(host.Driver(), host, op) != 0;
            const bool expected = model.Apply(op);
            const bool right =
                nonzero == expected && (fields->m_hWorkerThread != nullptr) == model.session &&
                (fields->m_hNotifyWindow != nullptr) == model.window &&
                (!model.window || IsWindow(fields->m_hNotifyWindow)) &&
                CountWindowsOfClass("jQornDriver") == (model.window ? 1u : 0u) &&
                fields->m_suspended == model.suspended &&
                ThreadIdsOfProcess().size() == threadsBefore + (model.session ? 1 : 0);
            mismatches += !right;
            EXPECT_TRUE(right) << "after " << kOpNames[op];
        }
        host.Driver()->Close();
        host.Unload();
        const bool clean = CountWindowsOfClass("jQornDriver") == 0 &&
                           GetModuleHandleA("QornDriver.jlb") == nullptr &&
                           ThreadIdsOfProcess().size() == threadsBefore;
        leftovers += !clean;
        EXPECT_TRUE(clean);
    }
    const size_t handlesAfter = OpenHandleCount();
    ReportRow("4 bad input",
              "Open/Close/Suspend/Resume in all 64 orders of 3, fresh load, then Close+FreeLibrary",
              "%d steps, %d differing from the expected state; %d sequences left something "
              "behind; handles %s",
              steps, mismatches, leftovers, Change(handlesBefore, handlesAfter).c_str());
    EXPECT_LE(handlesAfter, handlesBefore + 4);
    SimReset();
}

namespace {

// thread_poster.exe posts to every thread of this process: the host's, the
// worker, the display's.
ProgramOutcome PostToEveryThreadFromAnotherProgram(uint64_t wParam, uint64_t lParam) {
    wchar_t line[128];
    swprintf(line, 128, L"thread_poster.exe %lu %llx %llx", GetCurrentProcessId(),
             static_cast<unsigned long long>(wParam), static_cast<unsigned long long>(lParam));
    return RunProgram(line, L"", TestProgramFolder() + L"thread_poster.txt", 60000);
}

// The block is still the host's: its bytes are as written, and the host's
// next allocations of its size are elsewhere.
bool StillAllocated(const char* block, const char* content, size_t size) {
    if (memcmp(block, content, size) != 0)
        return false;
    std::vector<void*> fresh;
    for (int i = 0; i < 64; ++i)
        fresh.push_back(malloc(size));
    const bool reused = std::find(fresh.begin(), fresh.end(), block) != fresh.end();
    for (void* p : fresh)
        free(p);
    return !reused;
}

} // namespace

// Any program of the user may post thread messages of any number to the
// screen reader's threads, the worker's among them: the worker takes each as a
// wake-up and nothing more.
TEST_F(DriverTest, ThreadMessagesFromAnotherProgramReachNothingOfTheDriver) {
    OpenWithDisplay();
    uint32_t sequence = 0;
    constexpr char kContent[] = "COM5"; // as a command's copy of a port name would be
    char* block = static_cast<char*>(malloc(sizeof kContent));
    memcpy(block, kContent, sizeof kContent);
    const uint64_t rounds[][2] = {{reinterpret_cast<uint64_t>(block), 4},
                                  {0x4141414141414141ULL, 0x4141414141414141ULL}};
    int posted = 0;
    bool allEnded = true;
    for (const auto& round : rounds) {
        const ProgramOutcome poster = PostToEveryThreadFromAnotherProgram(round[0], round[1]);
        allEnded = allEnded && poster.ended;
        posted += poster.ended ? static_cast<int>(poster.exitCode) : 0;
        host.Pump(300);
    }
    const bool blockKept = StillAllocated(block, kContent, sizeof kContent);
    free(block);
    const bool workerLives = WorkerRunning(fields);
    const double shownMs = WriteUntilShown(host, 9, &sequence, kRecoveryTimeoutMs);
    Press(0, 0x02, 0);
    const bool keyArrived = host.keys.size() == 1 && host.keys[0].name == "JoystickAction";
    const LARGE_INTEGER closeStart = Now();
    driver->Close();
    const double closeMs = MillisecondsSince(closeStart);

    ReportRow("4 bad input",
              "another program posts WM_USER..+64, WM_TIMER, WM_QUIT to every thread, wParam a "
              "live heap block, then 0x4141...",
              "%d posts taken; block kept: %s; worker running: %s; cells shown after %.0f ms; "
              "key arrived: %s; Close %.0f ms",
              posted, blockKept ? "yes" : "NO", workerLives ? "yes" : "NO", shownMs,
              keyArrived ? "yes" : "NO", closeMs);
    EXPECT_TRUE(allEnded);
    EXPECT_GE(posted, 2 * 67 * 2) << "the host's and the worker's threads took them, twice";
    EXPECT_TRUE(blockKept);
    EXPECT_TRUE(workerLives);
    EXPECT_GE(shownMs, 0.0);
    EXPECT_TRUE(keyArrived);
    EXPECT_LT(closeMs, 3000.0 + 1000.0);
}

namespace {
std::atomic<int> g_hostTimerRunsElsewhere{0};
DWORD g_hostThread = 0;
void CALLBACK HostTimerProc(HWND, UINT, UINT_PTR, DWORD) {
    g_hostTimerRunsElsewhere += GetCurrentThreadId() != g_hostThread;
}
} // namespace

// For 3 s, host silent, another thread posts the worker without pause a
// WM_TIMER naming the host's own timer procedure (registered on the host's
// thread, so Windows' check of a posted timer passes) and a WM_USER: the
// host's procedure never runs off its thread, and the stream, which holds
// back the system's WM_TIMER, does not hold back the library's service call.
// A timer message naming a procedure of the library's runs it on the worker.
TEST_F(DriverTest, PostedTimerMessagesRunOnlyTheLibrarysProceduresAndStarveNoServiceCall) {
    OpenWithDisplay();
    g_hostThread = GetCurrentThreadId();
    const UINT_PTR hostTimer = SetTimer(nullptr, 0, 600000, HostTimerProc);
    const DWORD worker = fields->m_workerThreadId;
    PostThreadMessageA(worker, WM_TIMER, 1, LPARAM(SimOwnTimerProc()));
    host.Pump(300);
    DWORD ranOn = 0;
    const int libraryRuns = SimOwnTimerRuns(&ranOn);
    const int servicesBefore = SimCountCalls(16);
    std::atomic<int> posted{0};
    std::thread poster([&] {
        for (const ULONGLONG end = GetTickCount64() + 3000; GetTickCount64() < end;)
            posted += PostThreadMessageA(worker, WM_TIMER, 1, LPARAM(HostTimerProc)) +
                      PostThreadMessageA(worker, WM_USER + 7, 0, 0);
    });
    host.Pump(3000);
    poster.join();
    const double servicesPerSecond = (SimCountCalls(16) - servicesBefore) / 3.0;
    KillTimer(nullptr, hostTimer);

    ReportRow("4 bad input",
              "WM_TIMER naming a procedure of the library posted to the worker; then, for 3 s, "
              "host silent, WM_TIMER naming the host's timer procedure and WM_USER without pause",
              "library's procedure run on the worker: %s; %d posts; host's procedure run off its "
              "thread %d times; service calls %.0f a second",
              libraryRuns == 1 && ranOn == worker ? "yes" : "NO", posted.load(),
              g_hostTimerRunsElsewhere.load(), servicesPerSecond);
    EXPECT_EQ(libraryRuns, 1);
    EXPECT_EQ(ranOn, worker);
    EXPECT_GT(posted, 1000);
    EXPECT_EQ(g_hostTimerRunsElsewhere, 0);
    EXPECT_GE(servicesPerSecond, 15.0);
}
