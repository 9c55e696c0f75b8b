// Runs the real QornSetup.exe (from the bin folder or a copy elsewhere) with
// the simulated Bluetooth API, the simulated WMI and a recording
// DriverUtility.exe, each scripted for the separate program, and the device
// records of the prefix's registry (none unless a test writes them).
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "ChildProgram.h"

using InstallerOutcome = ProgramOutcome;

class InstallerRun : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    void SetUp() override;
    void TearDown() override;

    // Scripts for the next run (UTF-8 lines in the stand-ins' formats).
    void ScriptBluetooth(const std::string& lines);
    void ScriptSerialPorts(const std::wstring& lines);
    // The next run lists serial ports through the system's own WMI (which
    // lists none under Wine), until ports are scripted again.
    void UseSystemWmi() { systemWmi_ = true; }

    // Copies the recording tool to path, making its folders; returns path.
    std::wstring PlaceTool(const std::wstring& path);
    // Where the system's program-files candidate lies.
    static std::wstring ProgramFilesTool();

    // Runs QornSetup.exe from programFolder (with its trailing backslash; the
    // bin folder when empty).
    InstallerOutcome Run(const std::vector<std::wstring>& arguments,
                         const std::wstring& currentDirectory = L"",
                         const std::wstring& programFolder = L"");
    // Runs any program with the scripts above and the tool's log named for it.
    ProgramOutcome RunWithStandIns(const std::wstring& commandLine,
                                   const std::wstring& currentDirectory);

    // The command lines the tool recorded: waits up to waitMs for the first.
    std::vector<std::wstring> ToolCommandLines(DWORD waitMs = 20000);

    // A run ends well: exit code 0, nothing printed.
    static void ExpectQuietSuccess(const InstallerOutcome& outcome);

    std::wstring root_; // a fresh folder for this test
    std::wstring log_;

private:
    static void RemoveProgramFilesTool();
    std::wstring bluetoothScript_;
    std::wstring wmiScript_;
    bool systemWmi_ = false;
};

// The quoted tool path, a blank, then the registration command.
std::wstring ToolCommandLine(const std::wstring& toolPath, const std::wstring& port);

std::wstring UpperCased(std::wstring text);

// 12:34:56:78:9A:BC paired and authenticated, under the display's name.
constexpr char kPairedDisplay[] = "device authenticated 12:34:56:78:9A:BC ZR47-0001\n";
// The serial port that Windows made for that display.
std::wstring DisplayPort(const std::wstring& deviceId,
                         const std::wstring& address = L"123456789ABC");
