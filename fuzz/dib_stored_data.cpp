// Any bytes given as a picture's stored data ("Picture.Data": a class name, then the graphic's
// body) load or fail with the class library's errors; what loads writes out and reads back to
// the same picture, and writing that again gives the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "framework/graphics/DIB.h"
#include "platform/rtl/Streams.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TMemoryStream input;
  if (size > 0) input.WriteBuffer(data, static_cast<std::int64_t>(size));
  input.SetPosition(0);
  TPicture picture;
  TPropertyDefs defs;
  picture.DefineProperties(defs);
  const TPropInfo* prop = defs.Find("Data");
  if (!prop) std::abort();
  try {
    prop->ReadData(&input);
  } catch (const Exception&) {
    return 0;
  }
  auto* dib = dynamic_cast<TDIB*>(picture.Graphic());
  if (!dib || dib->Empty()) return 0;

  TPropertyDefs writeDefs;
  picture.DefineProperties(writeDefs);
  TMemoryStream written;
  writeDefs.Find("Data")->WriteData(&written);
  written.SetPosition(0);
  TPicture back;
  TPropertyDefs readDefs;
  back.DefineProperties(readDefs);
  readDefs.Find("Data")->ReadData(&written);
  auto* again = dynamic_cast<TDIB*>(back.Graphic());
  if (!again || again->Width() != dib->Width() || again->Height() != dib->Height() ||
      again->BitCount() != dib->BitCount())
    std::abort();
  // The written body is exactly what the picture holds: header, table, pixels as kept.
  TMemoryStream first, second;
  TPropertyDefs a, b;
  picture.DefineProperties(a);
  back.DefineProperties(b);
  a.Find("Data")->WriteData(&first);
  b.Find("Data")->WriteData(&second);
  if (first.Size() != second.Size() ||
      std::memcmp(first.Memory(), second.Memory(), static_cast<std::size_t>(first.Size())) != 0)
    std::abort();
  for (int y = 0; y < dib->Height() && y < 8; ++y)
    for (int x = 0; x < dib->Width() && x < 8; ++x)
      if (dib->Pixels(x, y) != again->Pixels(x, y)) std::abort();
  return 0;
}
