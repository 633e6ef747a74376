#include "framework/graphics/DirectX.h"

#include <map>
#include <vector>

#include "framework/graphics/DXCommon.h"
#include "framework/graphics/DXConsts.h"
#include "platform/rtl/SysUtils.h"

namespace {

// Lower-cased library name -> module handle loaded by GetLibraryEntry.
std::map<std::string, HMODULE>*& LibraryCache() {
  static std::map<std::string, HMODULE>* cache = nullptr;
  return cache;
}

std::vector<HMODULE>& StartupLibraries() {
  static std::vector<HMODULE> libraries;
  return libraries;
}

bool StartupLoaded = false;

// The location of the DirectX setup library would come from the system's registry
// (HKEY_LOCAL_MACHINE, "Software\Microsoft\Windows\CurrentVersion\Uninstall\DirectXDrivers",
// value "UninstallString", minus the setup program's 11-character name, plus "DSetup.dll").
// There is no such registry value here, so the path is empty and its load fails like any
// missing library.
std::string SetupLibraryPath() { return std::string(); }

void LoadStartupLibrary(const std::string& Name) {
  if (IsRunningInsideIDE()) return;
  if (HMODULE h = LoadLibrary(Name)) StartupLibraries().push_back(h);
}

// Stands for the unit's start-up and shut-down: the libraries are loaded before the program's
// own code runs and released when the program ends.
struct DirectXUnit {
  DirectXUnit() { LoadDirectXLibraries(); }
  ~DirectXUnit() {
    FreeDirectXLibraries();
    FreeLibraryCache();
  }
} TheDirectXUnit;

}  // namespace

FARPROC GetLibraryEntry(const std::string& LibraryName, const std::string& ProcName) {
  auto*& cache = LibraryCache();
  if (cache == nullptr) cache = new std::map<std::string, HMODULE>;
  const std::string key = LowerCase(LibraryName);
  HMODULE module;
  const auto it = cache->find(key);
  if (it != cache->end()) {
    module = it->second;
  } else {
    module = LoadLibrary(LibraryName);
    if (module == nullptr) throw Exception(Format(SNotLoaded, {LibraryName}));
    cache->emplace(key, module);
  }
  FARPROC proc = GetProcAddress(module, ProcName);
  // The message names the library, not the entry point.
  if (proc == nullptr) throw Exception(Format(SNotLoaded, {LibraryName}));
  return proc;
}

void FreeLibraryCache() {
  auto*& cache = LibraryCache();
  if (cache == nullptr) return;
  for (const auto& [name, module] : *cache) FreeLibrary(module);
  delete cache;
  cache = nullptr;
}

int LibraryCacheCount() {
  const auto* cache = LibraryCache();
  return cache == nullptr ? 0 : static_cast<int>(cache->size());
}

void LoadDirectXLibraries() {
  if (StartupLoaded) return;
  StartupLoaded = true;
  LoadStartupLibrary("DDraw.dll");
  MaskFPUExceptions();
  LoadStartupLibrary("D3DXOF.DLL");
  LoadStartupLibrary("D3DRM.dll");
  LoadStartupLibrary("DInput.dll");
  LoadStartupLibrary("DPlayX.dll");
  const std::string setup = SetupLibraryPath();
  if (!setup.empty()) LoadStartupLibrary(setup);
  LoadStartupLibrary("DSound.dll");
}

void FreeDirectXLibraries() {
  for (HMODULE h : StartupLibraries()) FreeLibrary(h);
  StartupLibraries().clear();
  StartupLoaded = false;
}

bool IsRunningInsideIDE() { return false; }
