// Figures of the search for the display's serial port, with WMI taking 3 s for
// each of four Bluetooth ports as Windows' does when their devices are off or
// out of range: the search with the display's device record listed, and the
// search as it was (Bluetooth, then WMI alone), each against a bare listing of
// the same device records in the same run.
#pragma once

#include "ResultTable.h"

// Adds the rows. Each round of the search as it was takes about 12 s.
void AddDiscoveryRows(ResultTable& table, bool quick);
