// The buildings of a study: `tstat-sim building` runs named in the study
// file, each with its own events in place of its file's when given, so
// that a study compares demand-response events side by side.
#pragma once

#include <string>
#include <vector>

namespace sim {

struct StudyBuilding {
    std::string name;                // its directory under OUT/buildings/
    std::string file;                // the building file
    std::vector<std::string> events; // "15:00 cool 2F for 3h stagger 30m"; none: the file's
    double hours = 0.0;              // 0: the file's
};

struct StudyBuildings {
    std::vector<StudyBuilding> buildings;
    bool alone = false; // the study file gives buildings and no axis of the matrix
};

// The study file's "buildings"; false with the message when one is
// malformed (a name that is not a plain word, or given twice).
bool loadStudyBuildings(const std::string &path, StudyBuildings *out, std::string *error);

// Runs each building into outDir/buildings/NAME, one after another (each
// keeps every processor busy itself), and returns their figures side by
// side as Markdown (also outDir/buildings.md); *failed counts those that
// did not run.
std::string runStudyBuildings(const std::vector<StudyBuilding> &buildings,
                              const std::string &simBinary, const std::string &outDir, int *failed);

} // namespace sim
