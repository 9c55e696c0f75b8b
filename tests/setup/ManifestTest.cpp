// QornSetup.exe asks for no elevation.
#include <string>

#include <gtest/gtest.h>
#include <windows.h>

namespace {

TEST(SetupManifest, RequestsToRunAsInvoker) {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring setup(path);
    setup = setup.substr(0, setup.find_last_of(L'\\') + 1) + L"QornSetup.exe";
    const HMODULE image = LoadLibraryExW(setup.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(image, nullptr);
    const HRSRC found = FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(found, nullptr) << "no application manifest";
    const auto* text = static_cast<const char*>(LockResource(LoadResource(image, found)));
    const std::string manifest(text, SizeofResource(image, found));
    EXPECT_NE(manifest.find("requestedExecutionLevel level=\"asInvoker\""), std::string::npos)
        << manifest;
    FreeLibrary(image);
}

} // namespace
