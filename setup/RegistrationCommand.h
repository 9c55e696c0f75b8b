// The command that registers the driver through the screen reader's tool.
#pragma once

#include <string>

#include "DiscoveryResult.h"

// A port name the tool's command line can carry as it stands: ASCII letters
// and digits only. Anything else (a blank, a quote, a control character)
// could pass further arguments to the tool.
bool IsPlainPortName(const std::wstring& deviceId);

// The registration command for the port the search found, if it ended within
// the wait with a plain port name; for automatic port selection otherwise.
std::wstring RegistrationCommandLine(bool discoveryEnded, const DiscoveryResult& discovery);

// Starts the tool through the shell and returns at once; a failure goes unnoticed.
void StartDriverUtility(const std::wstring& driverUtilityPath, const std::wstring& commandLine);
