// Cell writes: the host's side (the latest cells kept, refused while the link
// is down) and the worker's side (writing the latest cells, failure counting).
#pragma once

struct DriverSession;

// Worker side: writes the host's latest cells, if the host has written any
// and the display is not known to show them already (nothing is known to be
// shown once the link has gone down).
void WriteLatestCells(DriverSession& session);
