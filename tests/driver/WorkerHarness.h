// Runs a session with its device worker for a driver object of a test's own,
// against the simulated display, without the window and discovery parts of Open.
#pragma once

#include <cstring>
#include <memory>

#include <gtest/gtest.h>

#include "CommandChannel.h"
#include "SampleDriver.h"
#include "SimulatedDisplay.h"
#include "WorkerThread.h"

class WorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        SimReset();
        SimSetLogService(0);
        driver = std::make_unique<CBrailleSampleDriver>();
        session = StartSession(driver.get());
        ASSERT_TRUE(session);
        ASSERT_TRUE(AwaitWorkerReady(*session, 5000));
    }

    void TearDown() override {
        if (session)
            StopSession(*session, Deadline(5000));
    }

    // The open command, as Open posts it; returns once the worker handled it.
    void OpenOn(const char* port) {
        QueueCommandWithin(*session, kCmdOpen, port, static_cast<int32_t>(strlen(port)), 5000,
                           nullptr);
    }

    // A command with a flag, returning once the worker handled it.
    void Send(int command, int32_t flag = 0) {
        QueueCommandWithin(*session, command, nullptr, flag, 5000, nullptr);
    }

    // A no-op with a wait: everything posted before it has been handled.
    void Drain() { Send(kCmdNop); }

    // A cell write the worker has handled before this returns. Writes posted
    // back to back are coalesced, so tests that count sent writes use this.
    void WriteAndDrain(const unsigned char* cells, int32_t count) {
        driver->WriteCells(cells, count);
        Drain();
    }

    std::unique_ptr<CBrailleSampleDriver> driver;
    SessionRef session;
};
