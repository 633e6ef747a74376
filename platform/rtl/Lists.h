// The class library's lists: TList of plain pointers, and TStrings / TStringList of strings
// with an object pointer beside each.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/rtl/Object.h"
#include "platform/rtl/SysUtils.h"

class TStream;

// Negative when Item1 comes first, 0 when equal, positive when Item2 comes first.
using TListSortCompare = std::function<int(void* Item1, void* Item2)>;

enum TListNotification { lnAdded, lnExtracted, lnDeleted };

// A list of pointers that it does not own. Indexes run from 0 to Count - 1; any other index
// raises EListError "List index out of bounds (%d)".
class TList : public TObject {
 public:
  TList() = default;
  ~TList() override;

  int Add(void* Item);
  void Insert(int Index, void* Item);
  void Delete(int Index);
  // Deletes the first occurrence; returns its former index, or -1.
  int Remove(void* Item);
  // Removes the first occurrence without the deletion notice; returns it, or nullptr.
  void* Extract(void* Item);
  int IndexOf(void* Item) const;
  void* Items(int Index) const;
  void SetItems(int Index, void* Item);
  void* First() const { return Items(0); }
  void* Last() const { return Items(Count() - 1); }
  int Count() const { return static_cast<int>(FList.size()); }
  // Growing adds nil items; shrinking deletes from the end.
  void SetCount(int NewCount);
  int Capacity() const { return FCapacity; }
  void SetCapacity(int NewCapacity);
  virtual void Clear();
  void Exchange(int Index1, int Index2);
  // Takes the item at CurIndex out and puts it back so that it ends at NewIndex.
  void Move(int CurIndex, int NewIndex);
  // Deletes every nil item.
  void Pack();

  // The list's quicksort. It is not stable: items that compare equal end in the order the
  // partitioning leaves them, and callers (the charts' notes at equal times) depend on exactly
  // that order, so the steps below must stay as they are:
  //   over L = 0, R = Count - 1 (an empty list is left alone):
  //   1. I := L, J := R, pivot P := the item at (L + R) div 2, fixed for this pass;
  //   2. repeat: while Compare(item I, P) < 0, I += 1; while Compare(item J, P) > 0, J -= 1;
  //      if I <= J, swap items I and J, I += 1, J -= 1; until I > J;
  //   3. if L < J, sort L..J the same way;
  //   4. L := I; while I < R, go on at step 1 with L..R.
  // Items only ever move by swaps, so if Compare throws the list is still a permutation of what
  // it was. A comparison that contradicts itself (it would run a scan off the range) raises
  // EListError instead of reading outside the list.
  void Sort(const TListSortCompare& Compare);

 protected:
  // Told of every item that enters or leaves the list (nil items excepted).
  virtual void Notify(void* Ptr, TListNotification Action) {}

 private:
  void CheckIndex(int Index) const;
  std::vector<void*> FList;
  int FCapacity = 0;
};

enum TDuplicates { dupIgnore, dupAccept, dupError };

// A list of strings, each with an object pointer that the list does not own.
//
// Text is the strings each followed by CR LF. Setting Text (and loading from a file or stream)
// splits lines at CR LF, at a lone CR and at a lone LF (so LF followed by CR is two line ends with
// an empty line between them); a line end at the very end adds no empty line; a NUL byte stays
// in its line like any other byte, so the lines after it are kept.
//
// CommaText splits a line into fields:
//   1. skip bytes 1 to 32;
//   2. while not at the end: a field starting with a double quote runs to the next single double
//      quote (a doubled one inside stands for one; with no closing quote it runs to the end);
//      any other field is the run of bytes up to the first byte from 0 to 32 or the first comma;
//      append the field; skip bytes 1 to 32; if the byte now is a comma, append an empty field
//      when that comma is the last byte, then skip the comma and the bytes 1 to 32 after it.
// So blanks separate fields as commas do, two commas in a row enclose an empty field, a comma
// at the end adds an empty last field, and a blank line has no field. Reading CommaText quotes
// every string that holds a byte from 0 to 32, a comma or a double quote, and joins them with
// commas; a list of one empty string reads as "" so that it survives the trip back.
class TStrings : public TObject {
 public:
  virtual int Count() const = 0;
  virtual std::string Strings(int Index) const = 0;
  virtual void SetStrings(int Index, const std::string& S);
  virtual TObject* Objects(int Index) const;
  virtual void SetObjects(int Index, TObject* Object);
  virtual int Add(const std::string& S);
  int AddObject(const std::string& S, TObject* Object);
  void AddStrings(const TStrings* Strings);
  virtual void Insert(int Index, const std::string& S) = 0;
  void InsertObject(int Index, const std::string& S, TObject* Object);
  virtual void Delete(int Index) = 0;
  virtual void Clear() = 0;
  virtual void Exchange(int Index1, int Index2);
  // The first string equal to S (ignoring ASCII case), or -1.
  virtual int IndexOf(const std::string& S) const;
  int IndexOfObject(TObject* Object) const;

  std::string Text() const;
  void SetText(const std::string& Value);
  std::string CommaText() const;
  void SetCommaText(const std::string& Value);

  // Replace the strings with the lines of the stream (from its position to its end) or file.
  // A file that cannot be opened raises EFOpenError and leaves the list as it was.
  void LoadFromStream(TStream* Stream);
  void LoadFromFile(const std::string& FileName);
  // Write Text. A file that cannot be made raises EFCreateError; a failed write raises
  // EWriteError and leaves the previous file in place.
  void SaveToStream(TStream* Stream) const;
  void SaveToFile(const std::string& FileName) const;

 protected:
  [[noreturn]] void Error(const char* Message, int Data) const;
  // Whether two strings count as the same for IndexOf.
  virtual int CompareStrings(const std::string& S1, const std::string& S2) const;
};

// Splits Value by the CommaText rule above.
std::vector<std::string> SplitCommaText(const std::string& Value);

class TStringList : public TStrings {
 public:
  TStringList() = default;

  int Count() const override { return static_cast<int>(FItems.size()); }
  std::string Strings(int Index) const override;
  void SetStrings(int Index, const std::string& S) override;
  TObject* Objects(int Index) const override;
  void SetObjects(int Index, TObject* Object) override;
  // In a sorted list the string goes to its place; a duplicate is then ignored (its index is
  // returned), accepted or refused with EStringListError, as Duplicates says.
  int Add(const std::string& S) override;
  // Refused (EStringListError) on a sorted list.
  void Insert(int Index, const std::string& S) override;
  void Delete(int Index) override;
  void Clear() override;
  void Exchange(int Index1, int Index2) override;
  int IndexOf(const std::string& S) const override;

  // Binary search of a sorted list: true when found; Index is where S is or would go.
  bool Find(const std::string& S, int& Index) const;
  virtual void Sort();

  bool Sorted() const { return FSorted; }
  void SetSorted(bool Value);
  TDuplicates Duplicates = dupIgnore;
  bool CaseSensitive() const { return FCaseSensitive; }
  void SetCaseSensitive(bool Value);

 protected:
  int CompareStrings(const std::string& S1, const std::string& S2) const override;

 private:
  struct Item {
    std::string S;
    TObject* Object = nullptr;
  };
  void CheckIndex(int Index) const;
  void InsertItem(int Index, const std::string& S);
  std::vector<Item> FItems;
  bool FSorted = false;
  bool FCaseSensitive = false;
};
