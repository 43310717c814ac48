#pragma once

#include "Project.h"

#include <QString>
#include <QStringList>

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
    /// Why `name` cannot name a runtime project (empty, blank, a path or a way out of the projects
    /// folder), or an empty string for a good name.
    static QString nameFault(const QString& name);
    /// One message per help file that an alarm's help topic needs in `htmlFolder` (topic + "de.rtf"
    /// and topic + "eng.rtf") and that is not there, naming the alarm's field in alarms.json.
    static QStringList missingHelpFiles(const Project& project, const QString& htmlFolder);
};
