// The command channel's messages, seen by a stand-in worker that records them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "CommandChannel.h"
#include "SampleDriver.h"
#include "TestSupport.h"

namespace {

constexpr UINT kStopRecorder = WM_APP + 1;

struct ReceivedCommand {
    UINT message;
    bool hasBuffer;
    std::string buffer; // length + 1 bytes when there was a buffer
    LPARAM lParam;
};

class RecordingWorker {
public:
    RecordingWorker() {
        ready_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        thread_ = CreateThread(nullptr, 0, Main, this, 0, &id_);
        WaitForSingleObject(ready_, 5000);
    }
    ~RecordingWorker() {
        PostThreadMessageA(id_, kStopRecorder, 0, 0);
        WaitForSingleObject(thread_, 5000);
        CloseHandle(thread_);
        CloseHandle(ready_);
    }
    void Attach(CBrailleSampleDriver& driver) const {
        driver.m_hWorkerThread = thread_;
        driver.m_workerThreadId = id_;
    }
    std::vector<ReceivedCommand> Stop() {
        PostThreadMessageA(id_, kStopRecorder, 0, 0);
        WaitForSingleObject(thread_, 5000);
        return received_;
    }

private:
    static DWORD WINAPI Main(void* self) {
        auto* recorder = static_cast<RecordingWorker*>(self);
        MSG msg;
        PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
        SetEvent(recorder->ready_);
        while (GetMessageA(&msg, nullptr, 0, 0) > 0 && msg.message != kStopRecorder) {
            ReceivedCommand command{msg.message, msg.wParam != 0, {}, msg.lParam};
            if (msg.wParam != 0) {
                const char* data = reinterpret_cast<const char*>(msg.wParam);
                command.buffer.assign(data, static_cast<size_t>(CommandLength(msg.lParam)) + 1);
                free(reinterpret_cast<void*>(msg.wParam));
            }
            recorder->received_.push_back(command);
        }
        return 0;
    }
    HANDLE ready_ = nullptr;
    HANDLE thread_ = nullptr;
    DWORD id_ = 0;
    std::vector<ReceivedCommand> received_;
};

} // namespace

TEST(CommandChannel, WithoutAWorkerNothingIsPostedOrAwaited) {
    CBrailleSampleDriver driver;
    const LARGE_INTEGER start = Now();
    EXPECT_EQ(PostCommand(&driver, kCmdClose, nullptr, 0, true), 0);
    EXPECT_LT(MillisecondsSince(start), 100.0);
}

TEST(CommandChannel, BuffersCarryTheDataAndATerminator) {
    CBrailleSampleDriver driver;
    RecordingWorker worker;
    worker.Attach(driver);
    std::string cells(300, '\x3F');
    cells[299] = '\x01';
    EXPECT_NE(PostCommand(&driver, kCmdOpen, "COM5", 4, false), 0);
    EXPECT_NE(PostCommand(&driver, kCmdWrite, cells.data(), 300, false), 0);
    const std::vector<ReceivedCommand> got = worker.Stop();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].message, WM_WORKER_OPEN);
    EXPECT_EQ(got[0].buffer, std::string("COM5\0", 5));
    EXPECT_EQ(CommandLength(got[0].lParam), 4);
    EXPECT_EQ(CommandTicket(got[0].lParam), 0u);
    EXPECT_EQ(got[1].message, WM_WORKER_WRITE);
    EXPECT_EQ(got[1].buffer, cells + std::string(1, '\0'));
    EXPECT_EQ(CommandLength(got[1].lParam), 300);
}

TEST(CommandChannel, ZeroLengthSendsNoBufferAndAFlagTravelsAlone) {
    CBrailleSampleDriver driver;
    RecordingWorker worker;
    worker.Attach(driver);
    PostCommand(&driver, kCmdWrite, "abc", 0, false);
    PostCommand(&driver, kCmdSuspend, nullptr, 7, false);
    PostCommand(&driver, kCmdWrite, "abc", -5, false);
    const std::vector<ReceivedCommand> got = worker.Stop();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_FALSE(got[0].hasBuffer);
    EXPECT_EQ(got[0].lParam, 0);
    EXPECT_FALSE(got[1].hasBuffer);
    EXPECT_EQ(got[1].message, WM_WORKER_SUSPEND);
    EXPECT_EQ(CommandLength(got[1].lParam), 7);
    EXPECT_FALSE(got[2].hasBuffer);
}

TEST(CommandChannel, FailedPostReleasesItsWaiterAtOnceAndItsBuffer) {
    CBrailleSampleDriver driver;
    RecordingWorker worker;
    worker.Attach(driver);
    // A thread that has ended has no queue, so every post to it fails; its
    // handle stays open so that its id cannot be handed out again meanwhile.
    DWORD endedId = 0;
    const HANDLE ended = CreateThread(
        nullptr, 0, [](void*) -> DWORD { return 0; }, nullptr, 0, &endedId);
    WaitForSingleObject(ended, 5000);
    driver.m_workerThreadId = endedId;
    driver.m_hAckEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::vector<char> big(64 * 1024, 'x');
    const size_t before = CommittedPrivateBytes();
    const LARGE_INTEGER start = Now();
    for (int i = 0; i < 2000; ++i)
        ASSERT_EQ(PostCommand(&driver, kCmdWrite, big.data(), 64 * 1024, i % 2 == 0), 0);
    EXPECT_LT(MillisecondsSince(start), 5000.0);                   // no wait for a tick per post
    EXPECT_LT(CommittedPrivateBytes(), before + 16 * 1024 * 1024); // 125 MB if the buffers leaked
    CloseHandle(driver.m_hAckEvent);
    CloseHandle(ended);
    driver.m_hWorkerThread = nullptr;
}
