// Chart lines split into fields, and text split into lines: any bytes must split without
// crashing, and whatever comes out must survive the trip back through the writers unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/rtl/Lists.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);

  const std::vector<std::string> fields = SplitCommaText(input);
  TStringList list;
  for (const std::string& f : fields) {
    list.Add(f);
    StrToIntDef(f, 1000);
  }
  if (SplitCommaText(list.CommaText()) != fields) std::abort();

  TStringList lines;
  lines.SetText(input);
  TStringList again;
  again.SetText(lines.Text());
  if (again.Count() != lines.Count()) std::abort();
  for (int i = 0; i < lines.Count(); ++i)
    if (again.Strings(i) != lines.Strings(i)) std::abort();
  return 0;
}
