// What the engine's units share among themselves; not for its callers.
#ifndef APP_ENGINE_INTERNAL_H
#define APP_ENGINE_INTERNAL_H

#include "engine/engine.h"
#include "platform/platform.h"

enum { FOLDER_EXISTS, FOLDER_MADE, FOLDER_MISSING, FOLDER_FILE };

// Adds a problem; returns 0, the failing result.
int EngineRefuse(UpdateEngine* pEngine, int nCheck, DWORD dwRecord, const std::string& path, int nSystem,
                 const std::string& detail);

// A full path as the player is shown it (EngineProblem::path).
std::string EngineShown(const UpdateEngine* pEngine, const std::string& full);

// Where the last separator of a path stands (a slash counts); npos when
// there is none.
size_t EngineLastSeparator(const std::string& path);

// Starts replacing dest (PlatBeginReplace, dwFlags PLAT_REPLACE_*) through
// a temporary file beside it under the first free name IsUpdaterTempName
// takes. Returns 1, or 0 with PlatGetLastError saying why.
int EngineBeginReplace(UpdateEngine* pEngine, const std::string& dest, PlatReplace* pReplace, DWORD dwFlags);

#endif
