// The demo's installer run.
#pragma once

// Runs QornSetup.exe against a stand-in screen-reader folder and tells, line
// by line through say, what the registration tool received.
void RunInstallerStep(void (*say)(const char* line));
