// The demo's look at the search for the display's port.
#pragma once

// Writes the device records of the machine's serial ports (removed by
// RemoveDemoPortRecords) and makes the simulated WMI take 3 s to list each
// Bluetooth port; false when a record cannot be written.
bool ListDemoPortRecords();
void RemoveDemoPortRecords();
// The display removed and paired again: Windows gives it a new port, COM14,
// and COM12's record goes.
bool RepairDisplayOnNewPort();

// Runs the search as Open("AUTO") does, and the WMI listing alone, and tells
// through say how long each took and what it found.
void CompareSearchWithWmiListing(void (*say)(const char* line));
