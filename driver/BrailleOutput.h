// Cell writes: the host's side (the latest cells kept, refused while the link
// is down) and the worker's side (writing the latest cells, failure counting).
#pragma once

#include <cstdint>

class CBrailleSampleDriver;
struct DriverSession;

// Host side, while the link is down: counts the refused call and, every
// m_skipLimit + 1 calls, posts a re-link request to the worker.
void RefuseOutputCall(CBrailleSampleDriver* driver);

// Worker side: writes the cells if the link is up and counts failures. True
// when the display took them.
bool WriteCellsToDevice(DriverSession& session, const uint8_t* cells, int32_t count);

// Why the worker writes the host's latest cells.
enum class LatestWrite {
    kWriteCommand, // the queued write command (or clear): the next host write posts anew
    kLinkUp,       // the link has just come up: whatever the display showed is gone
};
// Worker side: writes the host's latest cells, if the host has written any.
// A write command skips cells the display is known to show already.
void WriteLatestCells(DriverSession& session, LatestWrite kind);
