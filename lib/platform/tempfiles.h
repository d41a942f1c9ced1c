// Inside the seam: the temporary files an interrupt removes, for both
// sides' handlers (a POSIX signal handler, a Windows console handler,
// which runs on a thread of its own while the others go on).
//
// There is no limit on how many there are. The handler takes no lock and
// allocates nothing: entries are never freed, only reused, and it reads
// only live ones. A file is created inside a creation window; the handler
// first marks the process interrupted, then waits for the windows open at
// that moment to close, and only then deletes. A creation that finds the
// mark refuses to create anything, so no file appears after the handler
// has looked. Names are stored as the system's own bytes (UTF-8 or
// UTF-16), ending in a zero of their width.
#ifndef PLATFORM_TEMPFILES_H
#define PLATFORM_TEMPFILES_H

#include <stddef.h>

struct TempEntry;

// The longest name an entry holds, in bytes: more than any library path
// takes in UTF-8 or UTF-16.
const size_t TEMP_NAME_BYTES = 2048;

// Claims an entry for a name of nBytes bytes (its zero terminator
// included), not yet live. Null when the name is longer than
// TEMP_NAME_BYTES or memory is short.
TempEntry* ClaimTempEntry(const void* pName, size_t nBytes);

// Opens a creation window. False, with nothing opened, once the process
// is interrupted. On POSIX the caller blocks the interrupting signals on
// its thread first: a handler running inside the window would wait for
// itself.
bool EnterTempCreation();

// Closes the window: the entry goes live when the file was created,
// and is released otherwise.
void LeaveTempCreation(TempEntry* pEntry, bool bCreated);

// Ends an entry once its file is gone or moved to its place. Null is
// ignored.
void ForgetTempEntry(TempEntry* pEntry);

// For the handler: marks the process interrupted, waits for the open
// creation windows and calls pfnDelete with each live name.
void DeleteTempEntries(void (*pfnDelete)(const void* pName));

#endif
