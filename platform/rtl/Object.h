// The root of the class library's object model: every class that the framework creates on the
// heap and frees explicitly derives from TObject.
#pragma once

#include <string>

class TObject {
 public:
  TObject() = default;
  // Objects have identity; they are passed by pointer and never copied.
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject() = default;

  // The class name as the program writes it ("TDXDraw"). By default it is the dynamic type's own
  // name, so a class only overrides it when its C++ name differs from the name it is known by.
  virtual std::string ClassName() const;
};

// Frees the object and clears the reference first, so nothing sees a dangling pointer while the
// destructor runs.
template <class T>
void FreeAndNil(T*& ref) {
  T* obj = ref;
  ref = nullptr;
  delete obj;
}
