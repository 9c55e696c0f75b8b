// The worker's commands, kept in the driver's own memory. The worker's thread
// message queue is open to every program on the desktop, so it carries only
// wake-ups: a command, its data and its ticket live here, where no other
// process can reach them.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include <windows.h>

// What the worker hands back with a command (the device data of a version query).
struct CommandAnswer {
    int32_t result = 0;
    uint8_t bytes[3] = {};
};

// One waited command's completion, shared by its poster and the queue.
// Its event belongs to it, so a waiter waits on a handle that nobody else can
// close.
class CommandTicket;
using TicketRef = std::shared_ptr<CommandTicket>;

class CommandTicket {
public:
    // A ticket with its own event; null when the system gives no event or no memory.
    static TicketRef Create();
    explicit CommandTicket(HANDLE event) : event_(event) {}
    ~CommandTicket();

    // Worker side: the command has run (handled) or will never run. The first
    // call counts; the answer must be in place before a handled finish.
    void Finish(bool handled);
    CommandAnswer& answer() { return answer_; }

    // Poster side.
    HANDLE event() const { return event_; }
    bool Handled() const { return state_ == kHandled; }
    const CommandAnswer& answer() const { return answer_; }

private:
    enum : long { kPending, kHandled, kDropped };
    HANDLE event_;
    std::atomic<long> state_{kPending};
    CommandAnswer answer_;
};

// A command as the host queued it. One that is destroyed without having been
// finished (dropped with its queue, or refused) releases its waiter at once.
class QueuedCommand {
public:
    // The data is copied as length + 1 bytes, the last one zero, when there
    // is data and a length above 0; else length travels alone, as a flag.
    // Throws std::bad_alloc when there is no memory for the copy.
    QueuedCommand(int command, const void* data, int32_t length, TicketRef ticket);
    QueuedCommand(QueuedCommand&&) noexcept = default;
    ~QueuedCommand() {
        if (ticket_)
            ticket_->Finish(false); // destroyed unfinished: its waiter is released
    }

    int command() const { return command_; }
    const char* data() const { return data_.empty() ? nullptr : data_.data(); }
    int32_t length() const { return length_; }
    // Where the worker puts the answer; null when nobody waits.
    CommandAnswer* answer() const { return ticket_ ? &ticket_->answer() : nullptr; }
    // The worker has run the command: its waiter is released as handled.
    void Finish();

private:
    int command_ = 0;
    std::vector<char> data_;
    int32_t length_ = 0;
    TicketRef ticket_;
};

// The queue itself, under a lock that is held only to move a command in or
// out, never across a device call.
class CommandQueue {
public:
    CommandQueue() = default;
    ~CommandQueue() { Close(); }

    // Which commands may pile up.
    enum class Repeats { kQueued, kOncePerKind };
    // Queues the command, in order behind the others; one of a kind that must
    // not pile up is left out (and counts as queued) while one of its number
    // waits. False, with the command dropped, once the queue is closed or when
    // there is no memory. *wake is set when the queue was empty: the worker
    // looks at the queue after every message, so one wake-up serves all that
    // follow it.
    bool Push(QueuedCommand&& command, bool* wake, Repeats repeats = Repeats::kQueued);
    // Worker side: takes the oldest command, if one is queued.
    std::optional<QueuedCommand> Pop();
    // No command is taken any more; those still queued are dropped.
    void Close();

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
    std::deque<QueuedCommand> commands_;
    bool closed_ = false;
};
