// The root of the class library's object model: every class that the framework creates on the
// heap and frees explicitly derives from TObject.
#pragma once

class TObject {
 public:
  TObject() = default;
  // Objects have identity; they are passed by pointer and never copied.
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject() = default;

  // The class name as stored forms and messages spell it ("TDXDraw"). By default it is the
  // dynamic type's own name, so a class only overrides it when its C++ name differs from the
  // name it is known by. The text lives as long as the program.
  virtual const char* ClassName() const;

  // Runs while the object is still whole, just before its destructors, when it is freed through
  // Free or FreeAndNil (components tell the others of their end here). A plain delete skips it.
  virtual void BeforeDestruction() {}
  // BeforeDestruction, then delete. Only for heap objects; call it on a non-null pointer.
  void Free() {
    BeforeDestruction();
    delete this;
  }
};

// Frees the object (as Free does) and clears the reference first, so nothing sees a dangling
// pointer while the destructor runs. A null reference is left alone.
template <class T>
void FreeAndNil(T*& ref) {
  T* obj = ref;
  ref = nullptr;
  if (obj != nullptr) obj->Free();
}
