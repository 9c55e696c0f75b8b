// The platform's own cost of each step the driver is built from, measured in
// the same run as the driver's figures: the floors the driver is held against.
#pragma once

#include <cstdint>

#include "BenchSupport.h"

// Per call: PostThreadMessageA of a 12-cell message to a thread that takes its
// messages the way the worker does; perBatch posts in a row, then the thread
// empties its queue. One batch of n is the floor of a burst of n writes.
Samples MeasureBarePostCost(int batches, int perBatch);

// A post to a thread waiting in GetMessageA, until that thread runs; the poster
// waits on a condition variable, as for a call of the simulated display.
Samples MeasureBarePostAndWake(int rounds);

// A post to a thread waiting in GetMessageA, and the poster's wait for that
// thread's acknowledgement (an event it sets), until the poster runs again.
Samples MeasureBareAcknowledgedPost(int rounds);

// SendMessageA from another thread to a window of this thread while it waits
// for messages, until the window procedure runs.
Samples MeasureBareSendLatency(int rounds);
// The same, back to back: messages per second.
double MeasureBareSendThroughput(int messages);

// A worker started and stopped with nothing in it: a thread, its ready signal,
// one acknowledged command and a window like the key window; then two
// acknowledged commands, the stop pause, the join and the window's end.
// Milliseconds.
struct StartStopTimes {
    Samples startMs;
    Samples stopMs;
};
StartStopTimes MeasureBareWorkerStartStop(int rounds);

// Growth of private bytes per round of posts that each carry a heap buffer the
// receiver frees, after one warm-up round.
double MeasureBarePostMemoryGrowth(int postsPerRound, int rounds);
