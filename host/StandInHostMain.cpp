// stand_in_host.exe: a screen reader stand-in as a program of its own, for
// tests that need the driver in a separate process (where it was started from,
// its working directory, its environment and how it ends are the test's). It
// loads QornDriver.jlb by name, the way the screen reader does, and runs one
// scenario on the simulated display, printing what it saw, one "what: value"
// line each.
//   stand_in_host.exe SCENARIO
// Exit code: 0 the scenario ran as written, 1 a step of it failed, 2 the
// driver did not load, 3 no such scenario.
#include <cstdio>
#include <cstring>
#include <string>

#include "ScreenReaderHost.h"
#include "SimulatedDisplay.h"

namespace {

enum ExitCode { kRan = 0, kStepFailed = 1, kNoDriver = 2, kNoScenario = 3 };

constexpr int kOpenLinkOrdinal = 15; // the device library's open, with the port name
constexpr int kCloseLinkOrdinal = 2;
constexpr DWORD kSlowCloseMs = 20000;

void Report(const char* what, const std::string& value) {
    printf("%s: %s\n", what, value.c_str());
    fflush(stdout);
}

// The port name the device library was last opened on; empty for none.
std::string PortGivenToTheLibrary() {
    std::string port;
    for (int i = 0; i < SimCallCount(); ++i) {
        SimCall call;
        if (SimGetCall(i, &call) == 0 || call.ordinal != kOpenLinkOrdinal)
            continue;
        port.clear();
        for (const wchar_t* c = call.portName; *c != L'\0'; ++c)
            port.push_back(*c < 128 ? static_cast<char>(*c) : '?');
    }
    return port;
}

// ---- Scenarios ----

// Open with automatic port selection, so that the driver runs its display
// discovery, then Close and FreeLibrary.
int OpenAutoAndClose(ScreenReaderHost& host) {
    const int32_t opened = host.Driver()->Open("AUTO", &host, "", "");
    Report("open", std::to_string(opened));
    Report("port", PortGivenToTheLibrary());
    host.Driver()->Close();
    host.Unload();
    Report("closed", "yes");
    return opened == 1 ? kRan : kStepFailed;
}

// A screen reader that ends with the display linked, without Close, while
// the library's close would take 20 s: the process ends as it would without
// the driver, since at process exit the driver calls nothing in the library.
int ExitWithTheLinkUp(ScreenReaderHost& host) {
    const int32_t opened = host.Driver()->Open("COM5", &host, "", "");
    Report("open", std::to_string(opened));
    Report("link", SimIsLinkOpen() ? "up" : "down");
    SimSetDelay(kCloseLinkOrdinal, kSlowCloseMs);
    ExitProcess(opened == 1 && SimIsLinkOpen() ? kRan : kStepFailed);
}

// Close, then FreeLibrary, then the end: the link is closed once, by Close.
int CloseUnloadAndExit(ScreenReaderHost& host) {
    const int32_t opened = host.Driver()->Open("COM5", &host, "", "");
    Report("open", std::to_string(opened));
    host.Driver()->Close();
    host.Unload();
    const int closes = SimCountCalls(kCloseLinkOrdinal);
    Report("closes", std::to_string(closes));
    Report("link", SimIsLinkOpen() ? "up" : "down");
    return opened == 1 && closes == 1 && !SimIsLinkOpen() ? kRan : kStepFailed;
}

struct Scenario {
    const char* name;
    const char* what;
    int (*run)(ScreenReaderHost& host);
};

constexpr Scenario kScenarios[] = {
    {"open-auto", "Open(\"AUTO\") with discovery, report the port, Close, FreeLibrary",
     OpenAutoAndClose},
    {"exit-linked",
     "Open(\"COM5\") on the display, then end the process without Close while "
     "the library's close takes 20 s",
     ExitWithTheLinkUp},
    {"close-unload-exit", "Open(\"COM5\"), Close, FreeLibrary, report the library's closes, end",
     CloseUnloadAndExit},
};

const Scenario* FindScenario(const char* name) {
    for (const Scenario& scenario : kScenarios) {
        if (strcmp(scenario.name, name) == 0)
            return &scenario;
    }
    return nullptr;
}

void PrintScenarios() {
    printf("usage: stand_in_host.exe SCENARIO\n");
    for (const Scenario& scenario : kScenarios)
        printf("  %-18s %s\n", scenario.name, scenario.what);
}

} // namespace

int main(int argc, char** argv) {
    const Scenario* scenario = argc == 2 ? FindScenario(argv[1]) : nullptr;
    if (scenario == nullptr) {
        PrintScenarios();
        return kNoScenario;
    }
    ScreenReaderHost host;
    const bool loaded = host.Load();
    Report("driver", loaded ? "loaded" : "not loaded");
    if (!loaded)
        return kNoDriver;
    return scenario->run(host);
}
