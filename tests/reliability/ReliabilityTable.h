// The table the suite prints: one row per thing tried, with what was measured
// in this run, marked with the outcome of the test that measured it.
#pragma once

#include <cstdio>
#include <string>

// Adds a row for the running test. Printf-style measured text.
void ReportRow(const char* item, const std::string& tried, const char* measuredFormat, ...)
    __attribute__((format(gnu_printf, 3, 4)));

// Prints every row, with pass or FAIL from the test that added it.
void PrintReliabilityTable(FILE* out);
