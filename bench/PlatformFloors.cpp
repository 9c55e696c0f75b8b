#include "PlatformFloors.h"

#include <process.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "Parameters.h"

namespace {

constexpr UINT kPayloadMessage = WM_APP + 1; // nothing to do
constexpr UINT kOwnedMessage = WM_APP + 2;   // free the buffer in wParam
constexpr UINT kMarkerMessage = WM_APP + 3;  // stamp and signal
constexpr UINT kSentMessage = WM_APP + 10;   // to the floor window

const unsigned char kTwelveCells[kBenchCells] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};

enum class Watch { kEvent, kConditionVariable };

// A thread that takes thread messages the way the driver's worker does
// (GetMessageA at above-normal priority) and does no work for them.
class MessageReceiver {
public:
    MessageReceiver() : thread_(THREAD_PRIORITY_ABOVE_NORMAL, [this] { Loop(); }) {
        ready_.Wait(5000);
    }
    // The thread is joined before the events close: it is declared after them.
    ~MessageReceiver() { PostThreadMessageA(thread_.Id(), WM_QUIT, 0, 0); }
    MessageReceiver(const MessageReceiver&) = delete;
    MessageReceiver& operator=(const MessageReceiver&) = delete;

    BOOL PostPayload() {
        return PostThreadMessageA(thread_.Id(), kPayloadMessage,
                                  reinterpret_cast<WPARAM>(kTwelveCells), kBenchCells);
    }
    // What the driver's post does besides posting: a heap copy the receiver frees.
    BOOL PostOwnedCopy() {
        void* copy = malloc(kBenchCells + 1);
        memcpy(copy, kTwelveCells, kBenchCells);
        const BOOL posted = PostThreadMessageA(thread_.Id(), kOwnedMessage,
                                               reinterpret_cast<WPARAM>(copy), kBenchCells);
        if (!posted)
            free(copy);
        return posted;
    }
    // Returns the ticks at which the receiver took the marker. The poster
    // waits on an event, as a host waits for its ticket, or on a condition
    // variable, as the benchmark waits for a call of the simulated display:
    // how the poster sleeps changes how soon a receiver wakes on this machine
    // (tens of microseconds), so each floor waits as its figure does.
    int64_t PostMarkerAndWait(Watch watch = Watch::kEvent) {
        watch_ = watch;
        if (watch == Watch::kEvent) {
            PostThreadMessageA(thread_.Id(), kMarkerMessage, 0, 0);
            taken_.Wait(30000);
            return takenTicks_.load();
        }
        AcquireSRWLockExclusive(&lock_);
        const int64_t before = markersTaken_;
        PostThreadMessageA(thread_.Id(), kMarkerMessage, 0, 0);
        while (markersTaken_ == before &&
               SleepConditionVariableSRW(&markerTaken_, &lock_, 30000, 0)) {
        }
        ReleaseSRWLockExclusive(&lock_);
        return takenTicks_.load();
    }
    void Drain() { PostMarkerAndWait(); }

private:
    void Loop() {
        MSG msg;
        PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE); // creates the queue
        ready_.Set();
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            if (msg.message == kMarkerMessage) {
                takenTicks_ = Ticks();
                SignalTaken();
            } else if (msg.message == kOwnedMessage) {
                free(reinterpret_cast<void*>(msg.wParam));
            }
        }
    }

    void SignalTaken() {
        if (watch_ == Watch::kEvent) {
            taken_.Set();
            return;
        }
        AcquireSRWLockExclusive(&lock_);
        ++markersTaken_;
        WakeAllConditionVariable(&markerTaken_);
        ReleaseSRWLockExclusive(&lock_);
    }

    AutoEvent ready_;
    AutoEvent taken_;
    SRWLOCK lock_ = SRWLOCK_INIT;
    CONDITION_VARIABLE markerTaken_ = CONDITION_VARIABLE_INIT;
    int64_t markersTaken_ = 0; // under lock_
    std::atomic<Watch> watch_{Watch::kEvent};
    std::atomic<int64_t> takenTicks_{0};
    BenchThread thread_;
};

// A window of this thread, built like the driver's key window, that stamps
// every message sent to it.
struct FloorWindowState {
    int received = 0;
    int64_t firstTicks = 0;
    int64_t lastTicks = 0;
};
FloorWindowState g_floorWindow;

LRESULT CALLBACK FloorWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kSentMessage)
        return DefWindowProcA(window, message, wParam, lParam);
    const int64_t now = Ticks();
    if (g_floorWindow.received++ == 0)
        g_floorWindow.firstTicks = now;
    g_floorWindow.lastTicks = now;
    return 0;
}

HWND CreateFloorWindow() {
    static const char kClassName[] = "QornBenchFloorWindow";
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = FloorWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kClassName;
    RegisterClassExA(&windowClass); // fails harmlessly the second time
    return CreateWindowExA(0, kClassName, nullptr, WS_DISABLED, CW_USEDEFAULT, 0, CW_USEDEFAULT, 0,
                           nullptr, nullptr, windowClass.hInstance, nullptr);
}

// Another thread that sends messages to the floor window on request, the way
// the display's key thread delivers key events.
class MessageSender {
public:
    // At normal priority, as the display's own thread.
    explicit MessageSender(HWND window)
        : window_(window), thread_(THREAD_PRIORITY_NORMAL, [this] { Loop(); }) {}
    ~MessageSender() {
        quit_ = true;
        go_.Set();
    }
    MessageSender(const MessageSender&) = delete;
    MessageSender& operator=(const MessageSender&) = delete;

    void Send(int count) {
        count_ = count;
        go_.Set();
    }
    int64_t LastSentTicks() const { return sentTicks_.load(); }

private:
    void Loop() {
        for (;;) {
            go_.Wait(INFINITE);
            if (quit_)
                return;
            for (int i = count_; i > 0; --i) {
                sentTicks_ = Ticks();
                SendMessageA(window_, kSentMessage, 0, 0);
            }
        }
    }

    HWND window_;
    AutoEvent go_;
    std::atomic<bool> quit_{false};
    std::atomic<int> count_{0};
    std::atomic<int64_t> sentTicks_{0};
    BenchThread thread_;
};

bool ReceivedAtLeast(int count) {
    return g_floorWindow.received >= count;
}

// One receiver, window and sender for the whole run, as the driver keeps its
// worker and the display its thread; never released, the process ends with them.
MessageReceiver& Receiver() {
    static MessageReceiver* const receiver = new MessageReceiver;
    return *receiver;
}

HWND FloorWindow() {
    static const HWND window = CreateFloorWindow();
    return window;
}

MessageSender& Sender() {
    static MessageSender* const sender = new MessageSender(FloorWindow());
    return *sender;
}

// ---- The bare worker: a thread that acknowledges each command through one event ----

constexpr UINT kBareCommand = WM_APP + 20;
constexpr UINT kBareQuit = WM_APP + 21;

struct BareWorker {
    HANDLE ack = nullptr;
    HANDLE thread = nullptr;
    DWORD id = 0;
    HWND window = nullptr; // as Open makes one for key events
};

unsigned __stdcall BareWorkerMain(void* argument) {
    const HANDLE ack = static_cast<HANDLE>(argument);
    MSG msg;
    PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    SetEvent(ack);
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        SetEvent(ack);
        if (msg.message == kBareQuit)
            break;
    }
    return 0;
}

void PostAndAwait(const BareWorker& worker, UINT message) {
    ResetEvent(worker.ack);
    PostThreadMessageA(worker.id, message, 0, 0);
    WaitForSingleObject(worker.ack, 5000);
}

BareWorker StartBareWorker() {
    BareWorker worker;
    worker.ack = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    unsigned id = 0;
    worker.thread =
        reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, BareWorkerMain, worker.ack, 0, &id));
    worker.id = id;
    SetThreadPriority(worker.thread, THREAD_PRIORITY_ABOVE_NORMAL);
    WaitForSingleObject(worker.ack, 5000);
    PostAndAwait(worker, kBareCommand);
    worker.window = CreateFloorWindow();
    return worker;
}

void StopBareWorker(const BareWorker& worker) {
    PostAndAwait(worker, kBareCommand);
    Sleep(qorn::kStopPauseMs);
    PostAndAwait(worker, kBareQuit);
    WaitForSingleObject(worker.thread, 5000);
    CloseHandle(worker.thread);
    CloseHandle(worker.ack);
    DestroyWindow(worker.window);
}

} // namespace

Samples MeasureBarePostCost(int batches, int perBatch) {
    MessageReceiver& receiver = Receiver();
    receiver.Drain();
    Samples samples;
    for (int batch = 0; batch < batches; ++batch) {
        for (int i = 0; i < perBatch; ++i) {
            const int64_t start = Ticks();
            receiver.PostPayload();
            samples.Add(MicrosSince(start));
        }
        receiver.Drain();
    }
    return samples;
}

namespace {
// The marker posted to the waiting receiver, per round: until the receiver
// takes it, or until the poster, woken by the receiver's event, runs again.
Samples MeasureMarkerPosts(int rounds, bool untilPosterRuns, Watch watch) {
    MessageReceiver& receiver = Receiver();
    receiver.Drain();
    Samples samples;
    for (int round = 0; round < rounds; ++round) {
        Sleep(1); // the receiver is back in its wait
        const int64_t start = Ticks();
        const int64_t taken = receiver.PostMarkerAndWait(watch);
        samples.Add(TicksToMicros((untilPosterRuns ? Ticks() : taken) - start));
    }
    return samples;
}
} // namespace

Samples MeasureBarePostAndWake(int rounds) {
    return MeasureMarkerPosts(rounds, false, Watch::kConditionVariable);
}

Samples MeasureBareAcknowledgedPost(int rounds) {
    return MeasureMarkerPosts(rounds, true, Watch::kEvent);
}

Samples MeasureBareSendLatency(int rounds) {
    MessageSender& sender = Sender();
    Samples samples;
    g_floorWindow = FloorWindowState{};
    for (int round = 0; round < rounds; ++round) {
        RunSoonElsewhere([&] { sender.Send(1); });
        if (!ServeMessagesUntil([&] { return ReceivedAtLeast(round + 1); }, 5000))
            break;
        samples.Add(TicksToMicros(g_floorWindow.lastTicks - sender.LastSentTicks()));
    }
    return samples;
}

double MeasureBareSendThroughput(int messages) {
    MessageSender& sender = Sender();
    g_floorWindow = FloorWindowState{};
    sender.Send(messages);
    if (!ServeMessagesUntil([&] { return ReceivedAtLeast(messages); }, 60000))
        return 0.0;
    return (messages - 1) * 1e6 / TicksToMicros(g_floorWindow.lastTicks - g_floorWindow.firstTicks);
}

StartStopTimes MeasureBareWorkerStartStop(int rounds) {
    StartStopTimes times;
    for (int round = 0; round < rounds; ++round) {
        const int64_t start = Ticks();
        const BareWorker worker = StartBareWorker();
        times.startMs.Add(MillisSince(start));
        const int64_t stop = Ticks();
        StopBareWorker(worker);
        times.stopMs.Add(MillisSince(stop));
    }
    return times;
}

double MeasureBarePostMemoryGrowth(int postsPerRound, int rounds) {
    MessageReceiver& receiver = Receiver();
    receiver.Drain();
    auto round = [&] {
        for (int i = 0; i < postsPerRound; ++i)
            receiver.PostOwnedCopy();
        receiver.Drain();
    };
    round(); // warm-up: heaps and queues reach their working size
    const size_t before = CommittedPrivateBytes();
    for (int i = 0; i < rounds; ++i)
        round();
    return (static_cast<double>(CommittedPrivateBytes()) - static_cast<double>(before)) / rounds;
}
