#include "ReliabilityTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <vector>

namespace {

struct Row {
    std::string item;
    std::string tried;
    std::string measured;
    std::string suiteName;
    std::string testName;
};

std::vector<Row>& Rows() {
    static std::vector<Row> rows;
    return rows;
}

const char* Outcome(const Row& row) {
    const ::testing::UnitTest& unit = *::testing::UnitTest::GetInstance();
    for (int s = 0; s < unit.total_test_suite_count(); ++s) {
        const ::testing::TestSuite& suite = *unit.GetTestSuite(s);
        if (row.suiteName != suite.name())
            continue;
        for (int t = 0; t < suite.total_test_count(); ++t) {
            const ::testing::TestInfo& test = *suite.GetTestInfo(t);
            if (row.testName == test.name())
                return test.result()->Passed() ? "pass" : "FAIL";
        }
    }
    return "?";
}

} // namespace

void ReportRow(const char* item, const std::string& tried, const char* measuredFormat, ...) {
    char measured[512];
    va_list args;
    va_start(args, measuredFormat);
    vsnprintf(measured, sizeof measured, measuredFormat, args);
    va_end(args);
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    Rows().push_back({item, tried, measured, test != nullptr ? test->test_suite_name() : "",
                      test != nullptr ? test->name() : ""});
}

void PrintReliabilityTable(FILE* out) {
    // Tests run fixture by fixture; the table reads item by item.
    std::stable_sort(Rows().begin(), Rows().end(),
                     [](const Row& a, const Row& b) { return a.item < b.item; });
    size_t itemWidth = 4, triedWidth = 5;
    for (const Row& row : Rows()) {
        itemWidth = std::max(itemWidth, row.item.size());
        triedWidth = std::max(triedWidth, row.tried.size());
    }
    const int iw = static_cast<int>(itemWidth), tw = static_cast<int>(triedWidth);
    fprintf(out, "\nReliability suite: what was tried and what this run measured\n");
    fprintf(out, "%-*s | %-*s | %-4s | %s\n", iw, "item", tw, "tried", "test", "measured");
    fprintf(out, "%s-+-%s-+------+---------\n", std::string(itemWidth, '-').c_str(),
            std::string(triedWidth, '-').c_str());
    for (const Row& row : Rows())
        fprintf(out, "%-*s | %-*s | %-4s | %s\n", iw, row.item.c_str(), tw, row.tried.c_str(),
                Outcome(row), row.measured.c_str());
    fflush(out);
}
