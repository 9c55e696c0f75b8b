// The command channel: the worker's own queue (data, order, wake-ups, tickets
// released however a command ends) and the host's bounded wait on a ticket.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CommandChannel.h"
#include "SampleDriver.h"
#include "TestSupport.h"

namespace {

QueuedCommand Command(int number, const void* data, int32_t length, TicketRef ticket = {}) {
    return QueuedCommand(number, data, length, std::move(ticket));
}

std::string Bytes(const QueuedCommand& command) {
    return command.data() == nullptr
               ? std::string()
               : std::string(command.data(), static_cast<size_t>(command.length()) + 1);
}

} // namespace

TEST(CommandChannel, WithoutAWorkerNothingIsQueuedOrAwaited) {
    CBrailleSampleDriver driver;
    const LARGE_INTEGER start = Now();
    EXPECT_EQ(PostCommand(&driver, kCmdClose, nullptr, 0), 0);
    EXPECT_EQ(PostCommand(&driver, kCmdWrite, "abc", 3), 0);
    EXPECT_LT(MillisecondsSince(start), 100.0);
}

TEST(CommandChannel, CommandsKeepTheirOrderDataTerminatorAndFlag) {
    CommandQueue queue;
    std::string cells(300, '\x3F');
    cells[299] = '\x01';
    bool wake = false;
    ASSERT_TRUE(queue.Push(Command(kCmdOpen, "COM5", 4), &wake));
    ASSERT_TRUE(queue.Push(Command(kCmdWrite, cells.data(), 300), &wake));
    ASSERT_TRUE(queue.Push(Command(kCmdWrite, "abc", 0), &wake));     // no data: no buffer
    ASSERT_TRUE(queue.Push(Command(kCmdSuspend, nullptr, 7), &wake)); // a flag travels alone
    ASSERT_TRUE(queue.Push(Command(kCmdWrite, "abc", -5), &wake));
    const std::string expected[] = {std::string("COM5\0", 5), cells + std::string(1, '\0'), "", "",
                                    ""};
    const int numbers[] = {kCmdOpen, kCmdWrite, kCmdWrite, kCmdSuspend, kCmdWrite};
    const int32_t lengths[] = {4, 300, 0, 7, -5};
    for (int i = 0; i < 5; ++i) {
        const std::optional<QueuedCommand> got = queue.Pop();
        ASSERT_TRUE(got);
        EXPECT_EQ(got->command(), numbers[i]);
        EXPECT_EQ(Bytes(*got), expected[i]);
        EXPECT_EQ(got->length(), lengths[i]);
        EXPECT_EQ(got->answer(), nullptr);
    }
    EXPECT_FALSE(queue.Pop());
}

// A wake-up is asked for only by a command that finds the queue empty; one of
// a kind that must not pile up is left out while one of its kind waits.
TEST(CommandChannel, WakeUpsAndKindsThatMustNotPileUp) {
    const int pushed[] = {kCmdWrite, kCmdWrite, kCmdPower, kCmdNop, kCmdNop, kCmdPower, kCmdWrite};
    CommandQueue queue;
    for (const int& command : pushed) {
        bool wake = false;
        const auto repeats = command == kCmdNop ? CommandQueue::Repeats::kQueued
                                                : CommandQueue::Repeats::kOncePerKind;
        EXPECT_TRUE(queue.Push(Command(command, nullptr, 0), &wake, repeats));
        EXPECT_EQ(wake, &command == pushed) << "the first finds the queue empty";
    }
    std::vector<int> popped;
    while (const std::optional<QueuedCommand> command = queue.Pop())
        popped.push_back(command->command());
    EXPECT_EQ(popped, (std::vector<int>{kCmdWrite, kCmdPower, kCmdNop, kCmdNop}));
    bool wake = false;
    queue.Push(Command(kCmdWrite, nullptr, 0), &wake, CommandQueue::Repeats::kOncePerKind);
    EXPECT_TRUE(wake) << "the worker emptied its queue: the next command wakes it";
}

// However a command ends, its waiter hears of it: handled once it ran, not
// handled when it was refused, dropped with its queue, or destroyed unrun.
TEST(CommandChannel, EveryTicketIsReleasedAndOnlyARunCommandCountsAsHandled) {
    CommandQueue queue;
    bool wake = false;
    TicketRef run(CommandTicket::Create()), unrun(CommandTicket::Create()),
        dropped(CommandTicket::Create()), refused(CommandTicket::Create());
    ASSERT_TRUE(queue.Push(Command(kCmdReadDeviceData, nullptr, 0, run), &wake));
    ASSERT_TRUE(queue.Push(Command(kCmdNop, nullptr, 0, unrun), &wake));
    ASSERT_TRUE(queue.Push(Command(kCmdNop, nullptr, 0, dropped), &wake));
    {
        std::optional<QueuedCommand> first = queue.Pop();
        ASSERT_TRUE(first);
        first->answer()->result = 1;
        first->answer()->bytes[2] = 0x42;
        first->Finish();
        const std::optional<QueuedCommand> second = queue.Pop(); // never runs
        ASSERT_TRUE(second);
    }
    queue.Close();
    EXPECT_FALSE(queue.Push(Command(kCmdNop, nullptr, 0, refused), &wake));
    EXPECT_TRUE(run->Handled());
    EXPECT_EQ(run->answer().bytes[2], 0x42);
    for (const TicketRef* ticket : {&unrun, &dropped, &refused}) {
        EXPECT_FALSE((*ticket)->Handled());
        EXPECT_EQ(WaitForSingleObject((*ticket)->event(), 0), WAIT_OBJECT_0);
    }
}

TEST(CommandChannel, AWaitEndsAtItsBoundAndServesSentMessagesMeanwhile) {
    TicketRef ticket(CommandTicket::Create());
    const DWORD self = GetCurrentThreadId();
    static DWORD served;
    served = 0;
    const HWND window =
        CreateWindowExA(0, "STATIC", nullptr, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    SetWindowLongPtrA(window, GWLP_WNDPROC,
                      reinterpret_cast<LONG_PTR>(+[](HWND w, UINT m, WPARAM p, LPARAM q) {
                          if (m == WM_APP + 7)
                              served = GetCurrentThreadId();
                          return DefWindowProcA(w, m, p, q);
                      }));
    PostMessageA(window, WM_APP + 7, 0, 0); // posted: the host's own loop runs it, later
    const HANDLE sender = CreateThread(
        nullptr, 0,
        [](void* w) -> DWORD {
            Sleep(100);
            SendMessageA(static_cast<HWND>(w), WM_APP + 7, 0, 0);
            return 0;
        },
        window, 0, nullptr);
    const LARGE_INTEGER start = Now();
    EXPECT_FALSE(WaitForTicket(ticket, 400));
    const double ms = MillisecondsSince(start);
    EXPECT_GE(ms, 390.0);
    EXPECT_LT(ms, 2000.0);
    EXPECT_EQ(served, self) << "the sent message ran inside the wait";
    WaitForSingleObject(sender, 5000);
    CloseHandle(sender);
    MSG msg;
    EXPECT_TRUE(PeekMessageA(&msg, window, WM_APP + 7, WM_APP + 7, PM_REMOVE))
        << "the posted message is still queued for the host";
    DestroyWindow(window);
}
