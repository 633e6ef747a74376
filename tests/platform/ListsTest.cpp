#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>

#include "platform/rtl/Lists.h"
#include "platform/rtl/Streams.h"

namespace {

struct Rec {
  int key;
  int id;
};

int CompareKeys(void* a, void* b) { return static_cast<Rec*>(a)->key - static_cast<Rec*>(b)->key; }

std::vector<int> Ids(const TList& list) {
  std::vector<int> ids;
  for (int i = 0; i < list.Count(); ++i) ids.push_back(static_cast<Rec*>(list.Items(i))->id);
  return ids;
}

// The sort's steps written out recursively, as a reference for the order of equal items.
void ReferenceSort(std::vector<Rec*>& v, int L, int R) {
  int I;
  do {
    I = L;
    int J = R;
    Rec* P = v[(L + R) / 2];
    do {
      while (CompareKeys(v[I], P) < 0) ++I;
      while (CompareKeys(v[J], P) > 0) --J;
      if (I <= J) {
        std::swap(v[I], v[J]);
        ++I;
        --J;
      }
    } while (I <= J);
    if (L < J) ReferenceSort(v, L, J);
    L = I;
  } while (I < R);
}

std::string TempDir() {
  std::string tmpl = ::testing::TempDir() + "lists_XXXXXX";
  EXPECT_NE(::mkdtemp(tmpl.data()), nullptr);
  return tmpl + "/";
}

std::vector<std::string> Lines(const TStrings& s) {
  std::vector<std::string> r;
  for (int i = 0; i < s.Count(); ++i) r.push_back(s.Strings(i));
  return r;
}

using V = std::vector<std::string>;

}  // namespace

TEST(List, IndexesOutsideTheListRaiseWithTheIndex) {
  TList list;
  int a = 1, b = 2, c = 3;
  EXPECT_EQ(list.Add(&a), 0);
  EXPECT_EQ(list.Add(&c), 1);
  list.Insert(1, &b);
  EXPECT_EQ(list.Items(1), &b);
  EXPECT_EQ(list.IndexOf(&c), 2);
  try {
    list.Items(3);
    FAIL();
  } catch (const EListError& e) {
    EXPECT_EQ(e.Message, "List index out of bounds (3)");
  }
  EXPECT_THROW(list.Items(-1), EListError);
  EXPECT_THROW(list.Insert(4, &a), EListError);
  EXPECT_THROW(list.Delete(3), EListError);
  EXPECT_THROW(list.Move(0, 3), EListError);
  EXPECT_THROW(list.Exchange(0, 5), EListError);
  EXPECT_THROW(list.SetCapacity(1), EListError);
  EXPECT_THROW(list.SetCount(-1), EListError);
  TList empty;
  EXPECT_THROW(empty.First(), EListError);
  EXPECT_THROW(empty.Last(), EListError);
}

TEST(List, EditingOperations) {
  TList list;
  int v[5];
  for (int& x : v) list.Add(&x);
  list.Move(0, 3);  // take the first out, put it back at 3
  EXPECT_EQ(list.Items(3), &v[0]);
  EXPECT_EQ(list.Items(0), &v[1]);
  list.Move(3, 0);
  EXPECT_EQ(list.Items(0), &v[0]);
  list.Exchange(0, 4);
  EXPECT_EQ(list.First(), &v[4]);
  EXPECT_EQ(list.Last(), &v[0]);
  EXPECT_EQ(list.Remove(&v[2]), 2);
  EXPECT_EQ(list.Remove(&v[2]), -1);
  EXPECT_EQ(list.Extract(&v[3]), &v[3]);
  EXPECT_EQ(list.Count(), 3);
  list.SetCount(5);
  EXPECT_EQ(list.Items(4), nullptr);
  list.Pack();
  EXPECT_EQ(list.Count(), 3);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
}

TEST(List, NotifySeesItemsComeAndGo) {
  struct Watched : TList {
    std::vector<std::pair<void*, TListNotification>> log;
    void Notify(void* p, TListNotification a) override { log.emplace_back(p, a); }
  } list;
  int a, b;
  list.Add(&a);
  list.Add(nullptr);
  list.Add(&b);
  list.Extract(&a);
  list.Clear();
  using P = std::pair<void*, TListNotification>;
  EXPECT_EQ(list.log,
            (std::vector<P>{{&a, lnAdded}, {&b, lnAdded}, {&a, lnExtracted}, {&b, lnDeleted}}));
}

TEST(ListSort, EqualItemsEndInThePartitioningsOrder) {
  // Three equal keys: the first pass swaps the outer two and leaves the middle one.
  std::vector<Rec> recs = {{1, 0}, {1, 1}, {1, 2}};
  TList list;
  for (Rec& r : recs) list.Add(&r);
  list.Sort(CompareKeys);
  EXPECT_EQ(Ids(list), (std::vector<int>{2, 1, 0}));

  // A chart-like list: two notes at time 0 (the sentinel first), then later notes.
  std::vector<Rec> notes = {{0, 100}, {500, 1}, {0, 2}, {250, 3}, {500, 4}};
  TList chart;
  for (Rec& r : notes) chart.Add(&r);
  chart.Sort(CompareKeys);
  EXPECT_EQ(Ids(chart), (std::vector<int>{2, 100, 3, 4, 1}));
}

TEST(ListSort, MatchesTheStepsOnManyEqualKeys) {
  std::mt19937 rng(7);
  for (int round = 0; round < 300; ++round) {
    const int n = 1 + static_cast<int>(rng() % 60);
    const int keys = 1 + static_cast<int>(rng() % 5);
    std::vector<Rec> recs(n);
    std::vector<Rec*> ref;
    TList list;
    for (int i = 0; i < n; ++i) {
      recs[i] = {static_cast<int>(rng() % keys), i};
      ref.push_back(&recs[i]);
      list.Add(&recs[i]);
    }
    ReferenceSort(ref, 0, n - 1);
    list.Sort(CompareKeys);
    for (int i = 0; i < n; ++i)
      ASSERT_EQ(list.Items(i), ref[i]) << "round " << round << " at " << i;
  }
}

TEST(ListSort, LongListsDoNotExhaustTheStack) {
  // Keys that make every left part large: a descending run sorted many times over.
  const int n = 200000;
  std::vector<Rec> recs(n);
  TList list;
  for (int i = 0; i < n; ++i) {
    recs[i] = {n - i, i};
    list.Add(&recs[i]);
  }
  list.Sort(CompareKeys);
  for (int i = 1; i < n; ++i)
    ASSERT_LE(static_cast<Rec*>(list.Items(i - 1))->key, static_cast<Rec*>(list.Items(i))->key);
}

TEST(ListSort, AThrowingComparisonLeavesAPermutation) {
  std::vector<Rec> recs;
  for (int i = 0; i < 40; ++i) recs.push_back({(i * 7919) % 13, i});
  for (int failAt = 1; failAt < 400; failAt += 3) {
    TList list;
    for (Rec& r : recs) list.Add(&r);
    int calls = 0;
    bool threw = false;
    try {
      list.Sort([&](void* a, void* b) {
        if (++calls == failAt) throw EAbort("stop");
        return CompareKeys(a, b);
      });
    } catch (const EAbort&) {
      threw = true;
    }
    std::vector<int> ids = Ids(list);
    std::sort(ids.begin(), ids.end());
    for (int i = 0; i < 40; ++i) ASSERT_EQ(ids[i], i) << "failAt " << failAt;
    if (!threw) break;  // past the last comparison
  }
}

TEST(ListSort, AContradictoryComparisonRaisesInsteadOfRunningOff) {
  std::vector<Rec> recs = {{3, 0}, {1, 1}, {2, 2}, {5, 3}};
  TList list;
  for (Rec& r : recs) list.Add(&r);
  EXPECT_THROW(list.Sort([](void*, void*) { return -1; }), EListError);
  EXPECT_THROW(list.Sort([](void*, void*) { return 1; }), EListError);
  EXPECT_EQ(list.Count(), 4);
  TList empty;
  empty.Sort([](void*, void*) -> int { throw EAbort("never called"); });
}

TEST(StringList, LineEndsWhenLoading) {
  TStringList s;
  s.SetText("a\r\nb\rc\nd");
  EXPECT_EQ(Lines(s), (V{"a", "b", "c", "d"}));
  s.SetText("a\n\rb");  // LF then CR: two ends, an empty line between
  EXPECT_EQ(Lines(s), (V{"a", "", "b"}));
  s.SetText("a\r\n");  // a line end at the very end adds nothing
  EXPECT_EQ(Lines(s), (V{"a"}));
  s.SetText("a\r\n\r\n");
  EXPECT_EQ(Lines(s), (V{"a", ""}));
  s.SetText("");
  EXPECT_EQ(s.Count(), 0);
  s.SetText("\n");
  EXPECT_EQ(Lines(s), (V{""}));
  s.SetText(std::string("a\nb\0c\nd", 7));  // a NUL is a byte of its line like any other
  EXPECT_EQ(Lines(s), (V{"a", std::string("b\0c", 3), "d"}));
  s.SetText("\xE3\x81\x82\r\r\n");
  EXPECT_EQ(Lines(s), (V{"\xE3\x81\x82", ""}));
}

TEST(StringList, FilesRoundTripWithCrLfAfterEveryLine) {
  const std::string dir = TempDir();
  TStringList s;
  s.Add("1500,2");
  s.Add("");
  s.Add("3000,4");
  ASSERT_EQ(::mkdir((dir + "Score").c_str(), 0755), 0);
  s.SaveToFile(dir + "Score\\chart.txt");  // backslashes are folders
  std::ifstream f(dir + "Score/chart.txt", std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  EXPECT_EQ(ss.str(), "1500,2\r\n\r\n3000,4\r\n");

  TStringList t;
  t.LoadFromFile(dir + "Score\\chart.txt");
  EXPECT_EQ(Lines(t), Lines(s));

  TStringList empty;
  empty.SaveToFile(dir + "empty.txt");
  EXPECT_TRUE(FileExists(dir + "empty.txt"));
  t.LoadFromFile(dir + "empty.txt");
  EXPECT_EQ(t.Count(), 0);

  t.Add("kept");
  EXPECT_THROW(t.LoadFromFile(dir + "missing.txt"), EFOpenError);
  EXPECT_EQ(Lines(t), (V{"kept"}));
  EXPECT_THROW(s.SaveToFile(dir + "no/such/dir.txt"), EFCreateError);
}

TEST(StringList, LoadFromStreamReadsFromThePosition) {
  TMemoryStream m;
  m.WriteBuffer("skip\r\nx\r\ny", 10);
  m.SetPosition(6);
  TStringList s;
  s.LoadFromStream(&m);
  EXPECT_EQ(Lines(s), (V{"x", "y"}));
  TMemoryStream out;
  s.SaveToStream(&out);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out.Memory()), out.Size()), "x\r\ny\r\n");
}

TEST(CommaText, ChartLines) {
  EXPECT_EQ(SplitCommaText("1500,2"), (V{"1500", "2"}));
  EXPECT_EQ(SplitCommaText("1500, 2"), (V{"1500", "2"}));
  EXPECT_EQ(SplitCommaText("1500 2"), (V{"1500", "2"}));
  EXPECT_EQ(SplitCommaText("1500\t2"), (V{"1500", "2"}));
  EXPECT_EQ(SplitCommaText("1500,2,9"), (V{"1500", "2", "9"}));
  EXPECT_EQ(SplitCommaText(",2"), (V{"", "2"}));
  EXPECT_EQ(SplitCommaText("1500,"), (V{"1500", ""}));
  EXPECT_EQ(SplitCommaText("1500"), (V{"1500"}));
  EXPECT_EQ(SplitCommaText(""), V{});
  EXPECT_EQ(SplitCommaText("  \t "), V{});
}

TEST(CommaText, EmptyFieldsAndBlanksAroundCommas) {
  EXPECT_EQ(SplitCommaText("a,,b"), (V{"a", "", "b"}));
  EXPECT_EQ(SplitCommaText("  a  ,  b  "), (V{"a", "b"}));
  // Only a comma that is the very last byte adds an empty field; one followed by blanks does not.
  EXPECT_EQ(SplitCommaText("a, "), (V{"a"}));
  EXPECT_EQ(SplitCommaText(","), (V{"", ""}));
  EXPECT_EQ(SplitCommaText(",,"), (V{"", "", ""}));
  EXPECT_EQ(SplitCommaText("a b,c"), (V{"a", "b", "c"}));
}

TEST(CommaText, Quotes) {
  EXPECT_EQ(SplitCommaText("\"a b\",c"), (V{"a b", "c"}));
  EXPECT_EQ(SplitCommaText("\"say \"\"hi\"\"\""), (V{"say \"hi\""}));
  EXPECT_EQ(SplitCommaText("\"\",x"), (V{"", "x"}));
  // Text right after a closing quote starts the next field.
  EXPECT_EQ(SplitCommaText("\"ab\"cd,e"), (V{"ab", "cd", "e"}));
  // A quote inside an unquoted field is an ordinary byte.
  EXPECT_EQ(SplitCommaText("a\"b,c"), (V{"a\"b", "c"}));
  // An unterminated quote runs to the end and keeps every byte.
  EXPECT_EQ(SplitCommaText("1,\"abc"), (V{"1", "abc"}));
  EXPECT_EQ(SplitCommaText("\"a\"\"b"), (V{"a\"b"}));
  EXPECT_EQ(SplitCommaText("\""), (V{""}));
  // Multi-byte characters are ordinary field bytes.
  EXPECT_EQ(SplitCommaText("\xE3\x81\x82,\x82\xA0"), (V{"\xE3\x81\x82", "\x82\xA0"}));
}

TEST(CommaText, ReadingQuotesWhatWouldNotSurviveAndRoundTrips) {
  TStringList s;
  s.Add("plain");
  s.Add("with space");
  s.Add("");
  s.Add("a,b");
  s.Add("q\"q");
  EXPECT_EQ(s.CommaText(), "plain,\"with space\",,\"a,b\",\"q\"\"q\"");
  TStringList t;
  t.SetCommaText(s.CommaText());
  EXPECT_EQ(Lines(t), Lines(s));

  TStringList one;
  one.Add("");
  EXPECT_EQ(one.CommaText(), "\"\"");
  t.SetCommaText(one.CommaText());
  EXPECT_EQ(Lines(t), (V{""}));
  TStringList none;
  EXPECT_EQ(none.CommaText(), "");
  t.SetCommaText("");
  EXPECT_EQ(t.Count(), 0);
  // Trailing empty string survives because the comma is last.
  TStringList tail;
  tail.Add("a");
  tail.Add("");
  t.SetCommaText(tail.CommaText());
  EXPECT_EQ(Lines(t), (V{"a", ""}));
}

TEST(StringList, ObjectsIndexOfAndSorting) {
  TStringList s;
  TObject o;
  s.AddObject("Snare", &o);
  s.Add("bass");
  EXPECT_EQ(s.Objects(0), &o);
  EXPECT_EQ(s.IndexOf("SNARE"), 0);
  EXPECT_EQ(s.IndexOfObject(&o), 0);
  s.SetStrings(0, "Kick");
  EXPECT_EQ(s.Objects(0), &o);
  EXPECT_THROW(s.Strings(2), EStringListError);
  EXPECT_THROW(s.Insert(3, "x"), EStringListError);

  s.SetSorted(true);
  EXPECT_EQ(Lines(s), (V{"bass", "Kick"}));
  EXPECT_EQ(s.Add("clap"), 1);
  EXPECT_EQ(s.Add("CLAP"), 1);  // duplicates ignored by default, ignoring case
  EXPECT_EQ(s.Count(), 3);
  s.Duplicates = dupError;
  EXPECT_THROW(s.Add("Bass"), EStringListError);
  s.Duplicates = dupAccept;
  s.Add("Bass");
  EXPECT_EQ(s.Count(), 4);
  EXPECT_EQ(s.IndexOf("BASS"), 0);
  EXPECT_THROW(s.Insert(0, "x"), EStringListError);
  EXPECT_THROW(s.SetStrings(0, "x"), EStringListError);
  int index;
  EXPECT_FALSE(s.Find("drum", index));
  EXPECT_EQ(index, 3);
}
