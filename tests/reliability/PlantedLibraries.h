// Libraries an attacker plants where a program may look for them by name
// (simulators/planted): each one's entry point leaves a mark when it is loaded.
#pragma once

#include <string>
#include <vector>

// The names they are planted under: none of them is among Windows' KnownDLLs.
extern const wchar_t* const kPlantedLibraries[3];

// Copies every planted library into folder, made if missing; false if one failed.
bool PlantLibraries(const std::wstring& folder);

// While it lives, programs started from this one take a planted file wherever
// Windows' search order would find it (Wine is told to prefer native files of
// those names over its own) and leave their marks in marksFolder. Undoes both
// when it goes.
class PlantedLibraryWatch {
public:
    explicit PlantedLibraryWatch(const std::wstring& marksFolder);
    ~PlantedLibraryWatch();
    PlantedLibraryWatch(const PlantedLibraryWatch&) = delete;
    PlantedLibraryWatch& operator=(const PlantedLibraryWatch&) = delete;

    // The planted libraries whose entry point ran, in the order of kPlantedLibraries.
    std::vector<std::string> Marks() const;
    void ClearMarks();
    // The marks as one text for a report: "none" or the names.
    std::string MarksText() const;

private:
    std::wstring marksFolder_;
};
