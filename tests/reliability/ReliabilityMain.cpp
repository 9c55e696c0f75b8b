// Runs the suite, then prints its table to the console and to a file beside the
// program, which the test script shows after every run.
#include <gtest/gtest.h>

#include <cstdio>

#include "ReliabilityTable.h"

namespace {
constexpr char kTableFile[] = "reliability-table.txt";
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    remove(kTableFile);
    const int result = RUN_ALL_TESTS();
    PrintReliabilityTable(stdout);
    if (FILE* file = fopen(kTableFile, "w")) {
        PrintReliabilityTable(file);
        fclose(file);
    }
    return result;
}
