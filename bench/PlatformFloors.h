// The platform's own cost of each step the driver is built from, measured in
// the same run as the driver's figures: the floors the driver is held against.
#pragma once

#include <cstdint>

#include "BenchSupport.h"

// Per call: PostThreadMessageA of a 12-cell message to a thread that takes its
// messages the way the worker does.
Samples MeasureBarePostCost(int batches, int perBatch);

// A post to a thread waiting in GetMessageA, until that thread runs.
Samples MeasureBarePostAndWake(int rounds);

// A PeekMessageA with removal that finds no thread message in its range, as
// the worker's look behind a write does when nothing is queued there.
Samples MeasureBareEmptyPeek(int calls);

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

// Milliseconds for a burst of bare posts in a row.
double MeasureBarePostBurst(int posts);

// Microseconds per message for a thread to take a backlog of queued posts
// (each with a heap copy it frees) off its queue.
double MeasureBareQueueTaking(int messages);

// Growth of private bytes per round of posts that each carry a heap buffer the
// receiver frees, after one warm-up round.
double MeasureBarePostMemoryGrowth(int postsPerRound, int rounds);
