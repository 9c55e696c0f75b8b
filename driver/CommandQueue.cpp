#include "CommandQueue.h"

#include <cstring>

#include "ScopedLock.h"

TicketRef CommandTicket::Create() {
    const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr)
        return nullptr;
    try {
        return std::make_shared<CommandTicket>(event);
    } catch (...) {
        CloseHandle(event);
        return nullptr;
    }
}

CommandTicket::~CommandTicket() {
    CloseHandle(event_);
}

void CommandTicket::Finish(bool handled) {
    long expected = kPending;
    if (state_.compare_exchange_strong(expected, handled ? kHandled : kDropped))
        SetEvent(event_);
}

QueuedCommand::QueuedCommand(int command, const void* data, int32_t length, TicketRef ticket)
    : command_(command), length_(length), ticket_(std::move(ticket)) {
    if (data == nullptr || length <= 0)
        return;
    data_.resize(static_cast<size_t>(length) + 1); // zero-filled: the terminator is in place
    memcpy(data_.data(), data, static_cast<size_t>(length));
}

QueuedCommand& QueuedCommand::operator=(QueuedCommand&& other) noexcept {
    if (this != &other) {
        Drop();
        command_ = other.command_;
        data_ = std::move(other.data_);
        length_ = other.length_;
        ticket_ = std::move(other.ticket_);
    }
    return *this;
}

void QueuedCommand::Finish() {
    if (ticket_)
        ticket_->Finish(true);
}

// A command destroyed unfinished releases its waiter; once finished, nothing.
void QueuedCommand::Drop() {
    if (ticket_)
        ticket_->Finish(false);
    ticket_.reset();
}

bool CommandQueue::Push(QueuedCommand&& command, bool* wake) {
    *wake = false;
    ScopedLock locked(&lock_);
    if (closed_)
        return false;
    try {
        commands_.push_back(std::move(command));
    } catch (...) {
        return false;
    }
    if (!wakePending_)
        *wake = wakePending_ = true;
    return true;
}

void CommandQueue::WakeFailed() {
    ScopedLock locked(&lock_);
    wakePending_ = false;
}

bool CommandQueue::Pop(QueuedCommand* command) {
    ScopedLock locked(&lock_);
    if (commands_.empty()) {
        wakePending_ = false; // the next push wakes the worker again
        return false;
    }
    *command = std::move(commands_.front());
    commands_.pop_front();
    return true;
}

void CommandQueue::Close() {
    std::deque<QueuedCommand> dropped;
    {
        ScopedLock locked(&lock_);
        closed_ = true;
        dropped.swap(commands_);
    }
    // Destroyed outside the lock: each releases its waiter.
}
