// The system's library loader, as our stand-in libraries offer it: a library is known by its
// file name ("DDraw.dll"; names ignore letter case, as the system's do) and exports entry points
// by name (case-sensitive). Nothing is loaded from disk: the entry points are our own functions,
// listed in Libraries.cpp.
#pragma once

#include <string>

#include "platform/win/WinTypes.h"

// An entry point of any signature; the caller casts it back to the signature it knows.
using FARPROC = void (*)();

// Adds (or replaces) an entry point of a library; the library exists from its first entry on.
void RegisterLibraryEntry(const std::string& LibraryName, const std::string& ProcName,
                          FARPROC Proc);
template <class F>
void RegisterLibraryEntry(const std::string& LibraryName, const std::string& ProcName, F* Proc) {
  RegisterLibraryEntry(LibraryName, ProcName, reinterpret_cast<FARPROC>(Proc));
}
// Takes a library out of the table (tests that play a missing library). Handles already given
// out stay valid but find no entry points.
void UnregisterLibrary(const std::string& LibraryName);

// A handle of the library (each successful call counts one load), or nullptr when there is no
// such library.
HMODULE LoadLibrary(const std::string& LibraryName);
// Gives one load back; false for a handle that is not loaded.
bool FreeLibrary(HMODULE Module);
// The entry point, or nullptr when the library lacks it or the handle is not loaded.
FARPROC GetProcAddress(HMODULE Module, const std::string& ProcName);

// How many successful loads of the library there have been so far, and how many are still held.
int LibraryLoadCount(const std::string& LibraryName);
int LibraryRefCount(const std::string& LibraryName);
