#include "platform/rtl/Classes.h"

// Placeholder until the reader and writer land.
void ReadStoredForm(TComponent* Root, const std::string& Text) {
  throw EReadError("Stored forms cannot be read yet");
}
std::string WriteStoredForm(TComponent* Root) {
  throw EWriteError("Stored forms cannot be written yet");
}
