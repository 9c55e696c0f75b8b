#include "CommandQueue.h"

#include <algorithm>
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

void QueuedCommand::Finish() {
    if (ticket_)
        ticket_->Finish(true);
}

bool CommandQueue::Push(QueuedCommand&& command, bool* wake, Repeats repeats) {
    *wake = false;
    ScopedLock locked(&lock_);
    if (closed_)
        return false;
    const auto sameKind = [&](const QueuedCommand& queued) {
        return queued.command() == command.command();
    };
    if (repeats == Repeats::kOncePerKind &&
        std::any_of(commands_.begin(), commands_.end(), sameKind))
        return true;
    try {
        commands_.push_back(std::move(command));
    } catch (...) {
        return false;
    }
    *wake = commands_.size() == 1;
    return true;
}

std::optional<QueuedCommand> CommandQueue::Pop() {
    ScopedLock locked(&lock_);
    if (commands_.empty())
        return std::nullopt;
    std::optional<QueuedCommand> command(std::move(commands_.front()));
    commands_.pop_front();
    return command;
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
