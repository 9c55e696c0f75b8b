#include "PortText.h"

std::string UpperCasePortText(const char* port) {
    std::string text = port != nullptr ? port : "";
    for (char& c : text) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

bool AsksForDiscovery(const std::string& upperCasedPort) {
    return upperCasedPort.empty() || upperCasedPort == "AUTO";
}
