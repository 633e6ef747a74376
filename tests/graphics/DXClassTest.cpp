#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "framework/graphics/DXClass.h"

namespace {

class THashTestCollection : public THashCollection {
 public:
  THashTestCollection() : THashCollection(CollectionItemClass<THashCollectionItem>()) {}
  THashCollectionItem* Item(int i) const { return static_cast<THashCollectionItem*>(Items(i)); }
  THashCollectionItem* AddNamed(const std::string& name) {
    auto* item = static_cast<THashCollectionItem*>(Add());
    item->SetName(name);
    return item;
  }
};

// Every item sits in the chain of its name's bucket exactly once, the links agree both ways,
// and every cached index is the item's position.
void ExpectConsistent(const THashTestCollection& c) {
  std::set<const THashCollectionItem*> seen;
  for (int b = 0; b < THashCollection::BucketCount; ++b) {
    const THashCollectionItem* prev = nullptr;
    for (const THashCollectionItem* it = c.Buckets[b]; it != nullptr; it = it->Next()) {
      ASSERT_EQ(it->Prev(), prev);
      ASSERT_EQ(it->Bucket(), b);
      ASSERT_EQ(HashName(it->Name()), b);
      ASSERT_TRUE(seen.insert(it).second) << "item linked twice";
      prev = it;
    }
  }
  ASSERT_EQ(static_cast<int>(seen.size()), c.Count());
  for (int i = 0; i < c.Count(); ++i) {
    ASSERT_TRUE(seen.count(c.Item(i)));
    ASSERT_EQ(c.Item(i)->CachedIndex(), i);
  }
}

}  // namespace

TEST(HashName, FoldsCaseAndUsesTheSecondToLastByte) {
  EXPECT_EQ(HashName(""), 0);
  EXPECT_EQ(HashName("x"), 16);
  EXPECT_EQ(HashName("\xFF"), 16);
  EXPECT_EQ(HashName("ab"), 226);
  EXPECT_EQ(HashName("AB"), 226);
  EXPECT_EQ(HashName("Snare"), 53);
  EXPECT_EQ(HashName("Bass"), 21);
  EXPECT_EQ(HashName("BASS"), 21);
  // Bytes above 127 count as unsigned values: 32 + 0xE3 + 0xE3 = 486.
  EXPECT_EQ(HashName("\xE3\xE3"), 486 & 255);
  // The last byte does not count.
  EXPECT_EQ(HashName("Basx"), HashName("Bass"));
}

TEST(HashCollection, SameNameDifferentCaseFindsTheOneNamedLast) {
  THashTestCollection c;
  c.AddNamed("Snare");
  c.AddNamed("snare");
  EXPECT_EQ(c.IndexOfName("SNARE"), 1);
  c.Item(0)->SetName("Kick");
  c.Item(0)->SetName("Snare");  // named last now
  EXPECT_EQ(c.IndexOfName("SNARE"), 0);
  EXPECT_EQ(c.IndexOfName("Tom"), -1);
  ExpectConsistent(c);
}

TEST(HashCollection, CollidingNamesShareAChainAndStayApart) {
  THashTestCollection c;
  // Same length, same first and second-to-last bytes: the same bucket.
  ASSERT_EQ(HashName("Bass"), HashName("Basz"));
  ASSERT_EQ(HashName("Bass"), HashName("bAsq"));
  c.AddNamed("Bass");
  c.AddNamed("Basz");
  c.AddNamed("bAsq");
  EXPECT_EQ(c.IndexOfName("bass"), 0);
  EXPECT_EQ(c.IndexOfName("BASZ"), 1);
  EXPECT_EQ(c.IndexOfName("basq"), 2);
  EXPECT_EQ(c.IndexOfName("basr"), -1);
  // Take the middle of the chain out, then the head.
  c.Delete(1);
  ExpectConsistent(c);
  EXPECT_EQ(c.IndexOfName("Bass"), 0);
  EXPECT_EQ(c.IndexOfName("bAsq"), 1);
  EXPECT_EQ(c.IndexOfName("Basz"), -1);
  c.Delete(1);
  ExpectConsistent(c);
  EXPECT_EQ(c.IndexOfName("Bass"), 0);
}

TEST(HashCollection, RenamesRelink) {
  THashTestCollection c;
  THashCollectionItem* a = c.AddNamed("Hero");
  c.AddNamed("Boss");
  a->SetName("Ready");
  EXPECT_EQ(c.IndexOfName("Hero"), -1);
  EXPECT_EQ(c.IndexOfName("ready"), 0);
  // A rename that only changes case stays findable under either form and moves to the head.
  THashCollectionItem* b = c.AddNamed("READZ");
  ASSERT_EQ(a->Bucket(), b->Bucket());
  EXPECT_EQ(c.Buckets[a->Bucket()], b);
  a->SetName("READY");
  EXPECT_EQ(c.Buckets[a->Bucket()], a);
  EXPECT_EQ(c.IndexOfName("ready"), 0);
  EXPECT_EQ(c.IndexOfName("Ready"), 0);
  ExpectConsistent(c);
  // A new item starts unnamed in bucket 0 and is found by the empty name.
  auto* blank = static_cast<THashCollectionItem*>(c.Add());
  EXPECT_EQ(blank->Bucket(), 0);
  EXPECT_EQ(c.IndexOfName(""), 3);
}

TEST(HashCollection, DeletingAndMovingKeepPositions) {
  THashTestCollection c;
  c.AddNamed("A");
  c.AddNamed("B");
  c.AddNamed("C");
  c.Delete(0);
  EXPECT_EQ(c.IndexOfName("B"), 0);
  EXPECT_EQ(c.IndexOfName("C"), 1);
  EXPECT_EQ(c.IndexOfName("A"), -1);

  THashTestCollection m;
  m.AddNamed("A");
  m.AddNamed("B");
  m.AddNamed("C");
  m.Item(0)->SetIndex(2);
  EXPECT_EQ(m.Item(0)->Name(), "B");
  EXPECT_EQ(m.IndexOfName("B"), 0);
  EXPECT_EQ(m.IndexOfName("C"), 1);
  EXPECT_EQ(m.IndexOfName("A"), 2);
  EXPECT_THROW(m.Item(0)->SetIndex(3), EListError);
  ExpectConsistent(m);

  // Inserting in front renumbers those behind.
  auto* front = static_cast<THashCollectionItem*>(m.Insert(0));
  front->SetName("Z");
  EXPECT_EQ(m.IndexOfName("Z"), 0);
  EXPECT_EQ(m.IndexOfName("A"), 3);
  ExpectConsistent(m);
}

TEST(HashCollection, DeletingWhatALookupFound) {
  THashTestCollection c;
  const char* names[] = {"Hero", "Boss", "Bullet", "Ready", "Go", "Gauge", "Note1", "Note2"};
  for (const char* n : names) c.AddNamed(n);
  // Free items one by one through the position each lookup gives, checking the rest every time.
  for (const char* victim : {"Ready", "Hero", "Note2", "Go"}) {
    const int i = c.IndexOfName(victim);
    ASSERT_GE(i, 0);
    c.Delete(i);
    EXPECT_EQ(c.IndexOfName(victim), -1);
    ExpectConsistent(c);
    for (int k = 0; k < c.Count(); ++k) EXPECT_EQ(c.IndexOfName(c.Item(k)->Name()), k);
  }
  c.Clear();
  EXPECT_EQ(c.Count(), 0);
  for (auto* head : c.Buckets) EXPECT_EQ(head, nullptr);
}

TEST(HashCollection, MovingAnItemToAnotherCollection) {
  THashTestCollection a, b;
  a.AddNamed("X");
  THashCollectionItem* y = a.AddNamed("Y");
  a.AddNamed("Z");
  b.AddNamed("W");
  y->SetCollection(&b);
  ExpectConsistent(a);
  ExpectConsistent(b);
  EXPECT_EQ(a.IndexOfName("Y"), -1);
  EXPECT_EQ(a.IndexOfName("Z"), 1);
  EXPECT_EQ(b.IndexOfName("Y"), 1);
}

TEST(HashCollection, AssignAndDisplayName) {
  THashTestCollection c;
  THashCollectionItem* a = c.AddNamed("Snare");
  auto* b = static_cast<THashCollectionItem*>(c.Add());
  EXPECT_EQ(b->DisplayName(), "THashCollectionItem");
  b->Assign(a);
  EXPECT_EQ(b->Name(), "Snare");
  EXPECT_EQ(b->DisplayName(), "Snare");
  EXPECT_EQ(c.IndexOfName("snare"), 1);
  EXPECT_THROW(b->Assign(&c), EConvertError);
}

TEST(HashCollection, RandomEditsAgreeWithALinearSearch) {
  std::mt19937 rng(3);
  const char* pool[] = {"a",    "A",    "ab", "AB",    "ba",    "Bass",
                        "bass", "Basz", "",   "Snare", "SNARE", "x"};
  THashTestCollection c;
  std::map<const THashCollectionItem*, int> namedAt;  // when each item's name was last set
  int clock = 0;
  for (int step = 0; step < 3000; ++step) {
    const int op = static_cast<int>(rng() % 4);
    if (op == 0 || c.Count() == 0) {
      THashCollectionItem* item = c.AddNamed(pool[rng() % 12]);
      namedAt[item] = ++clock;
    } else if (op == 1) {
      THashCollectionItem* item = c.Item(static_cast<int>(rng() % c.Count()));
      namedAt.erase(item);
      item->Free();
    } else if (op == 2) {
      THashCollectionItem* item = c.Item(static_cast<int>(rng() % c.Count()));
      const std::string name = pool[rng() % 12];
      if (name != item->Name()) namedAt[item] = ++clock;
      item->SetName(name);
    } else {
      c.Item(static_cast<int>(rng() % c.Count()))->SetIndex(static_cast<int>(rng() % c.Count()));
    }
    ExpectConsistent(c);
    for (const char* n : pool) {
      int expect = -1, best = -1;
      for (int i = 0; i < c.Count(); ++i)
        if (SameText(c.Item(i)->Name(), n) && namedAt[c.Item(i)] > best) {
          best = namedAt[c.Item(i)];
          expect = i;
        }
      ASSERT_EQ(c.IndexOfName(n), expect) << "step " << step << " name " << n;
    }
  }
}

TEST(DirectX, ResultCodesReachTheHookOnlyOnFailure) {
  struct Probe : TDirectX {
    std::vector<HRESULT> seen;
    void CheckResult() override { seen.push_back(ResultCode()); }
  } p;
  EXPECT_EQ(p.ResultCode(), 0);
  p.SetResultCode(E_FAIL);
  p.SetResultCode(S_OK);
  p.SetResultCode(S_FALSE);
  EXPECT_EQ(p.ResultCode(), S_FALSE);
  EXPECT_EQ(p.seen, (std::vector<HRESULT>{E_FAIL, S_FALSE}));
  TDirectX plain;
  EXPECT_NO_THROW(plain.SetResultCode(E_FAIL));
  EXPECT_EQ(plain.ResultCode(), E_FAIL);
}

TEST(DirectX, OnlyWrapperErrorsAreDirectXErrors) {
  try {
    throw EDirectXError("DirectDraw not made");
  } catch (const Exception& e) {
    EXPECT_STREQ(e.ClassName(), "EDirectXError");
    EXPECT_EQ(e.Message, "DirectDraw not made");
  }
}
