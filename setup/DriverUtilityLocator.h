// Finding the screen reader's registration tool, DriverUtility.exe.
#pragma once

#include <string>
#include <vector>

// The places to look, in order: beside the screen reader's braille driver
// folder named in the first argument (its prefix upper-cased), under the
// second argument's Program Files, and under the system's program-files
// folder. A place whose source is empty (or names no driver folder) is left out.
std::vector<std::wstring> DriverUtilityCandidates(const std::wstring& targetFolderArg,
                                                  const std::wstring& drivePrefixArg,
                                                  const std::wstring& programFilesFolder);

// The file opens for reading while others may read and write it.
bool FileOpensForReading(const std::wstring& path);

// The system's program-files folder, or empty.
std::wstring SystemProgramFilesFolder();

// Stores the first candidate that exists in g_installer.driverUtilityPath and
// returns 1; with none, empties it and returns 0.
int LocateDriverUtility();
