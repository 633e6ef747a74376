// Binding of the DirectX libraries by name, and their loading at start-up.
//
// The wrappers never call a DirectX creation function directly: they look it up by library and
// entry-point name through GetLibraryEntry each time, as the libraries may be missing on a
// machine. Our stand-in libraries export their entry points through the loader of
// platform/win/Libraries.h.
#pragma once

#include <string>

#include "platform/win/Libraries.h"

// The address of entry point ProcName in the named library. The library is loaded on first use
// and kept in LibraryCache under its lower-cased name, so names differing only in letter case
// load it once. A library that cannot be loaded (nothing is cached then, so a later call tries
// again) or that lacks the entry point raises Exception "%s is not loaded" with the library's
// name.
FARPROC GetLibraryEntry(const std::string& LibraryName, const std::string& ProcName);
// The same, cast back to the entry point's own signature: BindLibraryEntry<decltype(Fn)>(...).
template <class F>
F* BindLibraryEntry(const std::string& LibraryName, const std::string& ProcName) {
  return reinterpret_cast<F*>(GetLibraryEntry(LibraryName, ProcName));
}
// Releases every library that GetLibraryEntry loaded and forgets them (shut-down).
void FreeLibraryCache();
// The number of libraries in LibraryCache.
int LibraryCacheCount();

// The start-up loader, run once before any form exists (the first call does the work; later
// calls do nothing): loads "DDraw.dll", masks the floating-point traps, loads "D3DXOF.DLL",
// "D3DRM.dll", "DInput.dll", "DPlayX.dll", the DirectX setup library and "DSound.dll". Any library
// that is missing is skipped without a word; nothing depends on these loads.
void LoadDirectXLibraries();
// Releases what LoadDirectXLibraries loaded (shut-down); a later LoadDirectXLibraries loads anew.
void FreeDirectXLibraries();

// False for any ordinary run: the loader skips its loads only inside the development
// environment, which does not exist here.
bool IsRunningInsideIDE();
