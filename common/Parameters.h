// Every timeout, pause, size and limit of the driver and the installer.
#pragma once

#include <cstdint>

namespace qorn {

// ---- Display geometry and driver identity ----
constexpr int32_t kDefaultCellCount = 12; // cells reported until the display says otherwise
constexpr int32_t kClearCellCount = 12;   // cells written by a clear
constexpr int kHostTextSize = 256;        // each host text, terminator included
constexpr int kPortNameChars = 30;        // wide port name the device library receives
constexpr int kDiscoveredPortSize = 30; // narrow port name found by discovery, terminator included
constexpr int32_t kDriverAttributes = 0x300;
constexpr int32_t kDriverVersion = 0x01000A01; // 1.0.10.1, one byte per part

// ---- Device worker and command channel ----
constexpr unsigned kServiceTimerMs = 50; // worker's tick: one library service call each
constexpr unsigned kWorkerReadyTimeoutMs = 5000;
constexpr unsigned kStopPauseMs = 25; // between the close and quit commands
// How long the host's thread may wait on the worker. Past these the host goes
// on: Open with the link still coming up on the worker; Close by abandoning a
// worker stuck in the device library.
constexpr unsigned kOpenLinkWaitMs = 5000;  // Open's wait for the worker's open of the link
constexpr unsigned kHostCallBoundMs = 3000; // Close and SetSuspended return within this
// ... of which their waits take at most this, leaving the rest for what follows
// the waits (letting go of a worker, destroying the window).
constexpr unsigned kHostWaitBudgetMs = kHostCallBoundMs - 200;
// How long Open waits for a lifecycle call under way on another thread.
constexpr unsigned kOpenTurnWaitMs = kHostWaitBudgetMs;
// A Close from another thread waits for a key event being delivered to the
// host, keeping this much of its bound for stopping the worker; it looks
// whether the delivery has ended this often.
constexpr unsigned kCloseStopReserveMs = 1000;
constexpr unsigned kKeyDeliveryPollMs = 5;
// A worker waiting for its turn in the device library looks this often whether
// it has been abandoned meanwhile; one closing its own link as it ends waits
// at most this long (the next worker that opens the link closes it otherwise).
constexpr unsigned kDeviceTurnPollMs = 1;
constexpr unsigned kOwnLinkCloseWaitMs = 5000;

// ---- Link supervision ----
constexpr unsigned kLinkSettleMs = 1000; // pause after the link opens, before size polls
constexpr int kSizePollAttempts = 10;
constexpr unsigned kSizePollIntervalMs = 50;
constexpr int32_t kStaleAfterFailures = 3;   // more failed writes in a row: link stale
constexpr int32_t kRelinkAfterFailures = 20; // more failed writes in a row: re-link
constexpr int32_t kSkipLimitNormal = 20;     // refused writes before a re-link request
constexpr int32_t kSkipLimitBackoff = 100;   // ... once requests keep failing
constexpr int32_t kRelinkRequestsBeforeBackoff = 5;
// While the host is silent, the worker itself brings back a link that is down
// (or whose latest write failed): once the host has made no output call for
// this long, and again this long after each attempt (or after the close
// before sleep).
constexpr unsigned kSilentRetryAfterMs = 5000;
constexpr unsigned kSilentRetryIntervalMs = 5000;

// The forced link actions of sleep and wake (the close before sleep, the
// re-link after a wake) follow one of their kind only this long after, so a
// program broadcasting power events in a loop cannot keep the display down.
constexpr unsigned kForcedLinkActionMs = 5000;

// A device-change broadcast (a serial port came or went, the device tree
// changed) has the worker look at the device records once a burst of them has
// settled, at most once per interval; at a resume, when no window of the
// driver heard them, the link-up waits at most this long for that look.
constexpr unsigned kDeviceChangeSettleMs = 250;
constexpr unsigned kDeviceChangeLookIntervalMs = 1000;
constexpr unsigned kResumeLookWaitMs = 500;

// ---- Display discovery ----
// A link that has not come up in this many attempts in a row, over at least
// this long (on no port, this long after the open), sends the worker looking
// for the display in the device records: at most once per interval, each
// search within the driver's usual bound for one.
constexpr int kSearchAfterFailures = 3;
constexpr unsigned kSearchAfterMs = 15000;
constexpr unsigned kSearchIntervalMs = 60000;
constexpr unsigned kDriverDiscoveryTimeoutMs = 10000;
constexpr unsigned kSetupDiscoveryTimeoutMs = 20000;
constexpr int kAddressTextChars = 12;          // Bluetooth address as hex digits
constexpr int kDisplayNamePrefixChars = 5;     // "ZR47-"
constexpr int kPnpAddressIndex = 74;           // where the address sits in a display's PNP id
constexpr int kPnpMinLengthForIndexMatch = 88; // the id must be longer than 87 for that rule
// Reads of one device record's instance ID or port name: a first read, and
// again with the size the system asked for, in case the record grew meanwhile.
constexpr int kRecordReadAttempts = 3;
constexpr int kPortNameFirstReadChars = 64; // room for the port name at the first read

// ---- Key delivery ----
// A key delivery's way out lets go of the driver library once the window's
// thread has left the driver's code, which takes microseconds; past this the
// hold is kept instead.
constexpr unsigned kKeyExitWaitMs = 10000;

} // namespace qorn
