// Scripts for stand-ins used by a separate program: a UTF-8 text file named in
// an environment variable, read line by line.
#pragma once

#include <cstdio>
#include <string>

#include <windows.h>

// The file named in the variable, or empty when it is unset or too long.
inline std::wstring ScriptFilePath(const wchar_t* variable) {
    wchar_t path[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(variable, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::wstring();
    return std::wstring(path, length);
}

// Calls take(line) for every line that is neither empty nor a comment ("#"),
// without its line end. A file that cannot be opened has no lines.
template <typename TakeLine> void ForEachScriptLine(const std::wstring& path, TakeLine take) {
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (file == nullptr)
        return;
    std::string line;
    for (int c = fgetc(file);; c = fgetc(file)) {
        if (c == '\n' || c == EOF) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (!line.empty() && line[0] != '#')
                take(line);
            line.clear();
            if (c == EOF)
                break;
        } else {
            line.push_back(static_cast<char>(c));
        }
    }
    fclose(file);
}
