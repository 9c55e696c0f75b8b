// The existence test of a candidate path for the registration tool.
#include <string>

#include <gtest/gtest.h>
#include <windows.h>

#include "DriverUtilityLocator.h"

namespace {

std::wstring TempPath(const wchar_t* name) {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + name;
}

TEST(ToolExistence, AFileInUseByAWriterStillCounts) {
    const std::wstring path = TempPath(L"qorn-tool-existence.exe");
    const HANDLE writer =
        CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(FileOpensForReading(path));
    CloseHandle(writer);

    const HANDLE exclusive = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(FileOpensForReading(path)) << "a file nobody may share cannot be opened";
    CloseHandle(exclusive);
    DeleteFileW(path.c_str());
}

TEST(ToolExistence, MissingFilesAndFoldersDoNotCount) {
    EXPECT_FALSE(FileOpensForReading(TempPath(L"qorn-no-such-tool.exe")));
    EXPECT_FALSE(FileOpensForReading(TempPath(L"")));
    EXPECT_FALSE(FileOpensForReading(L""));
}

} // namespace
