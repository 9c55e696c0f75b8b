// The port text the host hands to Open.
#pragma once

#include <string>

// The text with the letters a to z upper-cased (nothing else changes); null is empty.
std::string UpperCasePortText(const char* port);

// An empty text, or exactly "AUTO", asks for discovery.
bool AsksForDiscovery(const std::string& upperCasedPort);
