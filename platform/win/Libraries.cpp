#include "platform/win/Libraries.h"

#include <map>
#include <memory>
#include <vector>

#include "platform/ddraw/DDraw.h"
#include "platform/dinput/DInput.h"
#include "platform/dsound/DSound.h"
#include "platform/rtl/SysUtils.h"

namespace {

struct Module {
  std::string Name;
  std::map<std::string, FARPROC> Entries;
  int Loads = 0;
  int RefCount = 0;
};

struct Registry {
  // Keyed by the lower-cased name. Modules are never deleted, so a handle stays a valid pointer
  // for the life of the process even after its library is taken out of the table.
  std::map<std::string, Module*> Known;
  std::vector<std::unique_ptr<Module>> All;
};

void RegisterStandInLibraries();

Registry& TheRegistry() {
  // Never destroyed: libraries are given back by other static objects' destructors at exit.
  static Registry* registry = [] {
    auto* r = new Registry;
    return r;
  }();
  static bool filled = false;
  if (!filled) {
    filled = true;
    RegisterStandInLibraries();
  }
  return *registry;
}

Module* Find(const std::string& LibraryName) {
  Registry& r = TheRegistry();
  const auto it = r.Known.find(LowerCase(LibraryName));
  return it == r.Known.end() ? nullptr : it->second;
}

bool IsLive(HMODULE Handle) {
  for (const auto& m : TheRegistry().All)
    if (m.get() == Handle) return m->RefCount > 0;
  return false;
}

// The entry points our stand-ins export, by library, as the programs bind them by name. Each
// stand-in area lists its own here.
void RegisterStandInLibraries() {
  RegisterLibraryEntry("DSound.dll", "DirectSoundCreate", &DirectSoundCreate);
  RegisterLibraryEntry("DDraw.dll", "DirectDrawCreate", &DirectDrawCreate);
  RegisterLibraryEntry("DDraw.dll", "DirectDrawCreateEx", &DirectDrawCreateEx);
  RegisterLibraryEntry("DDraw.dll", "DirectDrawEnumerateA", &DirectDrawEnumerateA);
  // DirectInput 8 lives in its own library; the start-up loader asks for "DInput.dll", which
  // carries the same entry here so that load finds a library too.
  RegisterLibraryEntry("DInput8.dll", "DirectInput8Create", &DirectInput8Create);
  RegisterLibraryEntry("DInput.dll", "DirectInput8Create", &DirectInput8Create);
}

}  // namespace

void RegisterLibraryEntry(const std::string& LibraryName, const std::string& ProcName,
                          FARPROC Proc) {
  Registry& r = TheRegistry();
  Module*& m = r.Known[LowerCase(LibraryName)];
  if (m == nullptr) {
    r.All.push_back(std::make_unique<Module>());
    m = r.All.back().get();
    m->Name = LibraryName;
  }
  m->Entries[ProcName] = Proc;
}

void UnregisterLibrary(const std::string& LibraryName) {
  Registry& r = TheRegistry();
  const auto it = r.Known.find(LowerCase(LibraryName));
  if (it == r.Known.end()) return;
  it->second->Entries.clear();
  r.Known.erase(it);
}

HMODULE LoadLibrary(const std::string& LibraryName) {
  Module* m = Find(LibraryName);
  if (m == nullptr) return nullptr;
  ++m->Loads;
  ++m->RefCount;
  return m;
}

bool FreeLibrary(HMODULE Handle) {
  if (Handle == nullptr || !IsLive(Handle)) return false;
  --static_cast<Module*>(Handle)->RefCount;
  return true;
}

FARPROC GetProcAddress(HMODULE Handle, const std::string& ProcName) {
  if (Handle == nullptr || !IsLive(Handle)) return nullptr;
  const auto& entries = static_cast<Module*>(Handle)->Entries;
  const auto it = entries.find(ProcName);
  return it == entries.end() ? nullptr : it->second;
}

int LibraryLoadCount(const std::string& LibraryName) {
  const Module* m = Find(LibraryName);
  return m == nullptr ? 0 : m->Loads;
}

int LibraryRefCount(const std::string& LibraryName) {
  const Module* m = Find(LibraryName);
  return m == nullptr ? 0 : m->RefCount;
}
