#include "platform/rtl/Lists.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "platform/rtl/Streams.h"

namespace {

const char* const SListIndexError = "List index out of bounds (%d)";
const char* const SListCapacityError = "List capacity out of bounds (%d)";
const char* const SListCountError = "List count out of bounds (%d)";
const char* const SDuplicateString = "String list does not allow duplicates";
const char* const SSortedListError = "Operation not allowed on sorted string list";

// The quicksort shared by the lists. Get(i) reads item i, Cmp(a, b) compares two items and
// Swap(i, j) exchanges two items. The recursion into the left part is kept on an explicit stack
// so that a long list cannot exhaust the call stack; the order of comparisons and swaps is that of
// the plain recursive form.
template <class T, class Get, class Cmp, class Swap>
void ListQuickSort(int Count, Get get, Cmp cmp, Swap swap) {
  if (Count <= 0) return;
  struct Range {
    int L, R;
  };
  std::vector<Range> pending;  // right parts still to do once the left ones are done
  int L = 0, R = Count - 1;
  for (;;) {
    int I = L, J = R;
    const T P = get((L + R) / 2);
    do {
      while (cmp(get(I), P) < 0) {
        ++I;
        if (I > R) throw EListError(Format(SListIndexError, {I}));
      }
      while (cmp(get(J), P) > 0) {
        --J;
        if (J < L) throw EListError(Format(SListIndexError, {J}));
      }
      if (I <= J) {
        swap(I, J);
        ++I;
        --J;
      }
    } while (I <= J);
    if (I < R) pending.push_back({I, R});
    if (L < J) {
      R = J;  // the left part first, as the recursion would
      continue;
    }
    if (pending.empty()) return;
    L = pending.back().L;
    R = pending.back().R;
    pending.pop_back();
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TList

TList::~TList() { TList::Clear(); }

void TList::CheckIndex(int Index) const {
  if (Index < 0 || Index >= Count()) throw EListError(Format(SListIndexError, {Index}));
}

int TList::Add(void* Item) {
  const int index = Count();
  Insert(index, Item);
  return index;
}

void TList::Insert(int Index, void* Item) {
  if (Index < 0 || Index > Count()) throw EListError(Format(SListIndexError, {Index}));
  if (Count() == std::numeric_limits<int>::max())
    throw EListError(Format(SListCountError, {Count()}));
  FList.insert(FList.begin() + Index, Item);
  FCapacity = std::max(FCapacity, Count());
  if (Item != nullptr) Notify(Item, lnAdded);
}

void TList::Delete(int Index) {
  CheckIndex(Index);
  void* item = FList[Index];
  FList.erase(FList.begin() + Index);
  if (item != nullptr) Notify(item, lnDeleted);
}

int TList::Remove(void* Item) {
  const int index = IndexOf(Item);
  if (index >= 0) Delete(index);
  return index;
}

void* TList::Extract(void* Item) {
  const int index = IndexOf(Item);
  if (index < 0) return nullptr;
  FList.erase(FList.begin() + index);
  if (Item != nullptr) Notify(Item, lnExtracted);
  return Item;
}

int TList::IndexOf(void* Item) const {
  const auto it = std::find(FList.begin(), FList.end(), Item);
  return it == FList.end() ? -1 : static_cast<int>(it - FList.begin());
}

void* TList::Items(int Index) const {
  CheckIndex(Index);
  return FList[Index];
}

void TList::SetItems(int Index, void* Item) {
  CheckIndex(Index);
  void* old = FList[Index];
  if (old == Item) return;
  FList[Index] = Item;
  if (old != nullptr) Notify(old, lnDeleted);
  if (Item != nullptr) Notify(Item, lnAdded);
}

void TList::SetCount(int NewCount) {
  if (NewCount < 0) throw EListError(Format(SListCountError, {NewCount}));
  if (NewCount > Count()) {
    FList.resize(NewCount, nullptr);
    FCapacity = std::max(FCapacity, NewCount);
  } else {
    for (int i = Count() - 1; i >= NewCount; --i) Delete(i);
  }
}

void TList::SetCapacity(int NewCapacity) {
  if (NewCapacity < Count()) throw EListError(Format(SListCapacityError, {NewCapacity}));
  FList.reserve(NewCapacity);
  FCapacity = NewCapacity;
}

void TList::Clear() {
  // Items leave one at a time from the end, so a Notify override sees a consistent list.
  SetCount(0);
  FList.shrink_to_fit();
  FCapacity = 0;
}

void TList::Exchange(int Index1, int Index2) {
  CheckIndex(Index1);
  CheckIndex(Index2);
  std::swap(FList[Index1], FList[Index2]);
}

void TList::Move(int CurIndex, int NewIndex) {
  if (CurIndex == NewIndex) return;
  CheckIndex(CurIndex);
  CheckIndex(NewIndex);
  void* item = FList[CurIndex];
  FList.erase(FList.begin() + CurIndex);
  FList.insert(FList.begin() + NewIndex, item);
}

void TList::Pack() {
  for (int i = Count() - 1; i >= 0; --i)
    if (FList[i] == nullptr) FList.erase(FList.begin() + i);
}

void TList::Sort(const TListSortCompare& Compare) {
  ListQuickSort<void*>(
      Count(), [this](int i) { return FList[i]; },
      [&Compare](void* a, void* b) { return Compare(a, b); },
      [this](int i, int j) { std::swap(FList[i], FList[j]); });
}

// ---------------------------------------------------------------------------------------------
// TStrings

void TStrings::Error(const char* Message, int Data) const {
  throw EStringListError(Format(Message, {Data}));
}

int TStrings::CompareStrings(const std::string& S1, const std::string& S2) const {
  return AnsiCompareText(S1, S2);
}

void TStrings::SetStrings(int Index, const std::string& S) {
  TObject* obj = Objects(Index);
  Delete(Index);
  InsertObject(Index, S, obj);
}

TObject* TStrings::Objects(int Index) const { return nullptr; }

void TStrings::SetObjects(int Index, TObject* Object) {}

int TStrings::Add(const std::string& S) {
  const int index = Count();
  Insert(index, S);
  return index;
}

int TStrings::AddObject(const std::string& S, TObject* Object) {
  const int index = Add(S);
  SetObjects(index, Object);
  return index;
}

void TStrings::AddStrings(const TStrings* Strings) {
  const int n = Strings->Count();
  for (int i = 0; i < n; ++i) AddObject(Strings->Strings(i), Strings->Objects(i));
}

void TStrings::InsertObject(int Index, const std::string& S, TObject* Object) {
  Insert(Index, S);
  SetObjects(Index, Object);
}

void TStrings::Exchange(int Index1, int Index2) {
  const std::string s1 = Strings(Index1), s2 = Strings(Index2);
  TObject* o1 = Objects(Index1);
  TObject* o2 = Objects(Index2);
  SetStrings(Index1, s2);
  SetObjects(Index1, o2);
  SetStrings(Index2, s1);
  SetObjects(Index2, o1);
}

int TStrings::IndexOf(const std::string& S) const {
  const int n = Count();
  for (int i = 0; i < n; ++i)
    if (CompareStrings(Strings(i), S) == 0) return i;
  return -1;
}

int TStrings::IndexOfObject(TObject* Object) const {
  const int n = Count();
  for (int i = 0; i < n; ++i)
    if (Objects(i) == Object) return i;
  return -1;
}

std::string TStrings::Text() const {
  std::string result;
  const int n = Count();
  for (int i = 0; i < n; ++i) {
    result += Strings(i);
    result += "\r\n";
  }
  return result;
}

void TStrings::SetText(const std::string& Value) {
  // Split first, so that nothing of the old list is lost if splitting fails.
  std::vector<std::string> lines;
  // A NUL byte is kept in its line like any other byte: ending the text there would silently
  // drop every line after it.
  const std::size_t end = Value.size();
  std::size_t i = 0;
  while (i < end) {
    std::size_t start = i;
    while (i < end && Value[i] != '\r' && Value[i] != '\n') ++i;
    lines.emplace_back(Value, start, i - start);
    // CR LF is one line end, a lone CR or LF is one too; LF CR is two.
    if (i < end && Value[i] == '\r') {
      ++i;
      if (i < end && Value[i] == '\n') ++i;
    } else if (i < end) {
      ++i;
    }
  }
  Clear();
  for (const std::string& line : lines) Add(line);
}

std::vector<std::string> SplitCommaText(const std::string& Value) {
  std::vector<std::string> fields;
  const std::size_t end = std::min(Value.find('\0'), Value.size());
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(Value[i]); };
  auto skipBlanks = [&](std::size_t& i) {
    while (i < end && byte(i) >= 1 && byte(i) <= 32) ++i;
  };
  std::size_t i = 0;
  skipBlanks(i);
  while (i < end) {
    std::string field;
    if (Value[i] == '"') {
      ++i;
      while (i < end) {
        if (Value[i] == '"') {
          if (i + 1 < end && Value[i + 1] == '"') {
            field += '"';
            i += 2;
            continue;
          }
          ++i;  // the closing quote
          break;
        }
        field += Value[i++];
      }
    } else {
      const std::size_t start = i;
      while (i < end && byte(i) > 32 && Value[i] != ',') ++i;
      field.assign(Value, start, i - start);
    }
    fields.push_back(std::move(field));
    skipBlanks(i);
    if (i < end && Value[i] == ',') {
      if (i + 1 == end) fields.emplace_back();
      ++i;
      skipBlanks(i);
    }
  }
  return fields;
}

std::string TStrings::CommaText() const {
  const int n = Count();
  if (n == 1 && Strings(0).empty()) return "\"\"";
  std::string result;
  for (int i = 0; i < n; ++i) {
    const std::string s = Strings(i);
    const bool quote = std::any_of(s.begin(), s.end(), [](char c) {
      return static_cast<unsigned char>(c) <= 32 || c == '"' || c == ',';
    });
    if (i > 0) result += ',';
    if (!quote) {
      result += s;
      continue;
    }
    result += '"';
    for (char c : s) {
      if (c == '"') result += '"';
      result += c;
    }
    result += '"';
  }
  return result;
}

void TStrings::SetCommaText(const std::string& Value) {
  std::vector<std::string> fields = SplitCommaText(Value);
  Clear();
  for (const std::string& f : fields) Add(f);
}

void TStrings::LoadFromStream(TStream* Stream) {
  const std::int64_t size = Stream->Size() - Stream->Position();
  std::string text;
  if (size > 0) {
    text.resize(static_cast<std::size_t>(size));
    Stream->ReadBuffer(text.data(), size);
  }
  SetText(text);
}

void TStrings::LoadFromFile(const std::string& FileName) {
  TFileStream file(FileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(&file);
}

void TStrings::SaveToStream(TStream* Stream) const {
  const std::string text = Text();
  Stream->WriteBuffer(text.data(), static_cast<std::int64_t>(text.size()));
}

void TStrings::SaveToFile(const std::string& FileName) const {
  const std::string text = Text();
  SaveBytesToFile(FileName, text.data(), text.size());
}

// ---------------------------------------------------------------------------------------------
// TStringList

void TStringList::CheckIndex(int Index) const {
  if (Index < 0 || Index >= Count()) Error(SListIndexError, Index);
}

std::string TStringList::Strings(int Index) const {
  CheckIndex(Index);
  return FItems[Index].S;
}

void TStringList::SetStrings(int Index, const std::string& S) {
  if (FSorted) throw EStringListError(SSortedListError);
  CheckIndex(Index);
  FItems[Index].S = S;
}

TObject* TStringList::Objects(int Index) const {
  CheckIndex(Index);
  return FItems[Index].Object;
}

void TStringList::SetObjects(int Index, TObject* Object) {
  CheckIndex(Index);
  FItems[Index].Object = Object;
}

int TStringList::Add(const std::string& S) {
  int index;
  if (!FSorted) {
    index = Count();
  } else if (Find(S, index)) {
    switch (Duplicates) {
      case dupIgnore:
        return index;
      case dupError:
        throw EStringListError(SDuplicateString);
      case dupAccept:
        break;
    }
  }
  InsertItem(index, S);
  return index;
}

void TStringList::Insert(int Index, const std::string& S) {
  if (FSorted) throw EStringListError(SSortedListError);
  if (Index < 0 || Index > Count()) Error(SListIndexError, Index);
  InsertItem(Index, S);
}

void TStringList::InsertItem(int Index, const std::string& S) {
  if (Count() == std::numeric_limits<int>::max()) Error(SListCountError, Count());
  FItems.insert(FItems.begin() + Index, Item{S, nullptr});
}

void TStringList::Delete(int Index) {
  CheckIndex(Index);
  FItems.erase(FItems.begin() + Index);
}

void TStringList::Clear() { FItems.clear(); }

void TStringList::Exchange(int Index1, int Index2) {
  CheckIndex(Index1);
  CheckIndex(Index2);
  std::swap(FItems[Index1], FItems[Index2]);
}

int TStringList::IndexOf(const std::string& S) const {
  if (!FSorted) return TStrings::IndexOf(S);
  int index;
  return Find(S, index) ? index : -1;
}

int TStringList::CompareStrings(const std::string& S1, const std::string& S2) const {
  return FCaseSensitive ? AnsiCompareStr(S1, S2) : AnsiCompareText(S1, S2);
}

bool TStringList::Find(const std::string& S, int& Index) const {
  // The first of several equal strings, so that dupIgnore and IndexOf agree.
  int lo = 0, hi = Count() - 1;
  bool found = false;
  while (lo <= hi) {
    const int mid = lo + (hi - lo) / 2;
    const int c = CompareStrings(FItems[mid].S, S);
    if (c < 0) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
      if (c == 0) found = true;
    }
  }
  Index = lo;
  return found;
}

void TStringList::Sort() {
  ListQuickSort<std::string>(
      Count(), [this](int i) { return FItems[i].S; },
      [this](const std::string& a, const std::string& b) { return CompareStrings(a, b); },
      [this](int i, int j) { std::swap(FItems[i], FItems[j]); });
}

void TStringList::SetSorted(bool Value) {
  if (Value == FSorted) return;
  if (Value) Sort();
  FSorted = Value;
}

void TStringList::SetCaseSensitive(bool Value) {
  if (Value == FCaseSensitive) return;
  FCaseSensitive = Value;
  if (FSorted) Sort();
}
