// Running a separate Windows program from a test, and the files around it.
#pragma once

#include <string>

#include <windows.h>

struct ProgramOutcome {
    bool started = false;
    bool ended = false; // within the run's time limit
    DWORD exitCode = 0xFFFFFFFF;
    std::string printed; // everything on its standard output and error
    double milliseconds = 0;
};

// Starts commandLine without a window, inheriting this program's environment,
// with no input and its output going to outputPath; waits at most timeoutMs
// (then ends it) and reads back what it printed.
ProgramOutcome RunProgram(std::wstring commandLine, const std::wstring& currentDirectory,
                          const std::wstring& outputPath, DWORD timeoutMs);

// The folder of this test program, with its trailing backslash.
std::wstring TestProgramFolder();

// A file's bytes; empty when it cannot be read.
std::string ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
// Removes a folder with everything in it; nothing happens if it is not there.
void DeleteTree(const std::wstring& folder);

std::wstring Quoted(const std::wstring& text);
