#pragma once
// Every setting of a camera instance as one set of named values: the defaults, a text file of
// [sections] and "name = value" lines to save and load, and the opt-out from the registry
// (ToviraX_InitializeEx, ToviraX_ResetSettings, ToviraX_SaveSettings, ToviraX_LoadSettings).

#include <string>

class CTovira;

namespace tovira {

// Initialize of an instance that keeps out of the registry: the defaults into the fields, nothing sent to
// the camera yet (Initialize sends them as it does stored ones).
void AssignDefaultSettings(CTovira& camera);

// Every setting back to its default through the setters (the camera gets them at once where the setters
// send them). 1; 0 when a setter failed.
int ResetSettings(CTovira& camera);

// 1; 0 with error 12 when the file cannot be written, 9 for a null name.
int SaveSettingsFile(CTovira& camera, const char* fileName);

// All or nothing. 1; 0 with error 12 (cannot read) or 9 (content refused), with the reason in `problem`.
int LoadSettingsFile(CTovira& camera, const char* fileName, std::string* problem);

}  // namespace tovira
