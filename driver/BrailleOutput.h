// Cell writes: the host's side (the latest cells kept, refused while the link
// is down) and the worker's side (writing the latest cells, failure counting).
#pragma once

#include <cstdint>

class CBrailleSampleDriver;

// Host side, while the link is down: counts the refused call and, every
// m_skipLimit + 1 calls, posts a re-link request to the worker.
void RefuseOutputCall(CBrailleSampleDriver* driver);

// Worker side: writes the cells if the link is up and counts failures.
void WriteCellsToDevice(CBrailleSampleDriver* driver, const uint8_t* cells, int32_t count);
// Worker side: writes the host's latest cells, if the host has written any.
// runsWriteCommand: called by the queued write command (or clear), which the
// next host write then no longer finds queued.
void WriteLatestCells(CBrailleSampleDriver* driver, bool runsWriteCommand);
