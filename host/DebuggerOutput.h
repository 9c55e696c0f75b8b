// What the process says to a debugger (OutputDebugString), caught the way a
// debugger (or DebugView) sees it: the exception that carries each text. The
// host stand-in uses it to show what the driver reported.
#pragma once

#include <string>
#include <vector>

// While an object lives, every text sent to the debugger is counted and, unless
// only counting (for a census that must not see the test's own memory grow), kept.
class DebuggerOutput {
public:
    enum Mode { kKeepLines, kCountOnly };
    explicit DebuggerOutput(Mode mode = kKeepLines);
    ~DebuggerOutput();
    DebuggerOutput(const DebuggerOutput&) = delete;
    DebuggerOutput& operator=(const DebuggerOutput&) = delete;

    std::vector<std::string> Lines() const;
    // Kept lines that contain every one of the given texts.
    int Count(const std::vector<std::string>& parts) const;
    // Every text seen, kept or not.
    int Total() const;
    void Clear();

private:
    void* handler_;
};
