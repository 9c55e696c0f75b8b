#include "ResultTable.h"

#include <algorithm>
#include <cstdio>

namespace {
std::string Format(const char* format, double value) {
    char text[64];
    snprintf(text, sizeof text, format, value);
    return text;
}

void PrintLine(const ResultRow& row, const size_t widths[5]) {
    printf("| %-*s | %*s | %*s | %*s | %-*s |\n", static_cast<int>(widths[0]), row.figure.c_str(),
           static_cast<int>(widths[1]), row.driver.c_str(), static_cast<int>(widths[2]),
           row.floor.c_str(), static_cast<int>(widths[3]), row.ratio.c_str(),
           static_cast<int>(widths[4]), row.target.c_str());
}
} // namespace

std::string Micros(double micros) {
    return Format("%.1f us", micros);
}
std::string Millis(double millis) {
    return Format("%.2f ms", millis);
}
std::string PerSecond(double rate) {
    return Format("%.0f /s", rate);
}
std::string Bytes(double bytes) {
    return Format("%+.0f B", bytes);
}

std::string Ratio(double value, double floor) {
    if (floor <= 0.0)
        return "-";
    const double ratio = value / floor;
    return Format(ratio < 0.1 ? "%.2gx" : "%.2fx", ratio); // two digits that are not 0
}

void ResultTable::Print() const {
    const ResultRow header{"Figure", "Driver", "Floor", "Ratio", "Target"};
    size_t widths[5] = {header.figure.size(), header.driver.size(), header.floor.size(),
                        header.ratio.size(), header.target.size()};
    for (const ResultRow& row : rows_) {
        widths[0] = std::max(widths[0], row.figure.size());
        widths[1] = std::max(widths[1], row.driver.size());
        widths[2] = std::max(widths[2], row.floor.size());
        widths[3] = std::max(widths[3], row.ratio.size());
        widths[4] = std::max(widths[4], row.target.size());
    }
    PrintLine(header, widths);
    printf("|%s|%s:|%s:|%s:|%s|\n", std::string(widths[0] + 2, '-').c_str(),
           std::string(widths[1] + 1, '-').c_str(), std::string(widths[2] + 1, '-').c_str(),
           std::string(widths[3] + 1, '-').c_str(), std::string(widths[4] + 2, '-').c_str());
    for (const ResultRow& row : rows_)
        PrintLine(row, widths);
}
