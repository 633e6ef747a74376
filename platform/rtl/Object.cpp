#include "platform/rtl/Object.h"

#include <cxxabi.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <typeindex>
#include <typeinfo>

const char* TObject::ClassName() const {
  // Demangled once per class and kept, so callers may hold on to the pointer.
  static std::mutex lock;
  static std::map<std::type_index, std::string> names;
  const std::type_info& type = typeid(*this);
  std::lock_guard<std::mutex> guard(lock);
  auto it = names.find(type);
  if (it == names.end()) {
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> name(
        abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
    it = names.emplace(type, status == 0 && name ? name.get() : type.name()).first;
  }
  return it->second.c_str();
}
