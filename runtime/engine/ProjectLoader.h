#pragma once

#include "Project.h"

#include <QString>

/// What loading a project folder gave: the project, or the first fault with file and place.
struct ProjectLoadResult {
    Project project;
    QString error;
    bool ok() const { return error.isEmpty(); }
};

/// \brief Reads and validates a runtime project folder: project.json, variables.json, simulation.json,
/// alarms.json, archives.json and texts.tsv. Never throws for a bad file; the result names the file,
/// the line or field, and what is wrong.
class ProjectLoader final {
public:
    static ProjectLoadResult load(const QString& folder);
};
