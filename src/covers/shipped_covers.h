// The cover templates Quillon ships (data/covers, compiled into the program) and
// their installation into the Covers folder.
#pragma once

#include <string>
#include <vector>

#include "cover_template.h"

namespace covers {

// Writes the flat template, its preview picture and its description, in that
// order, under the base name of fctPath. False when any file cannot be written.
bool SaveFlatTemplate(const std::string& fctPath, const std::vector<TemplateRecord>& records,
                      const std::string& description);

// Compiles every shipped template into the folder (".FCT", ".bmp", ".DES") with
// its design source (".FCS"), so that the designer opens it like any other;
// templates whose ".FCT" exists in any letter case are left alone. Returns how
// many were written, or -1 when one of them cannot be compiled or written.
int InstallShippedCovers(const std::string& coversFolder);

// Adds the design source of every shipped template that is in the folder as we
// ship it (its ".FCT" has the shipped records) but has no ".FCS", as in a Covers
// folder made before the sources were shipped. A template the user changed or
// designed under a shipped name is left alone. Returns how many were added.
int AddShippedDesignSources(const std::string& coversFolder);

// At start: when the Covers folder does not exist yet, creates it and installs
// the shipped templates; otherwise only adds missing design sources of shipped
// templates (templates the user deleted stay deleted).
void InstallCoversOnFirstStart();

}  // namespace covers
