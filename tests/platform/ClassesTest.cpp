#include <gtest/gtest.h>

#include <memory>

#include "platform/rtl/Classes.h"
#include "tests/platform/ClassesTestTypes.h"

using namespace classes_test;

namespace {

class ClassesTest : public ::testing::Test {
 protected:
  void SetUp() override { Log().clear(); }
  void TearDown() override { Log().clear(); }
};

// Records what it hears and whether it was still whole when it heard it.
class TWatcher : public TComponent {
 public:
  explicit TWatcher(TComponent* AOwner) : TComponent(AOwner) {}
  ~TWatcher() override { Whole = false; }
  bool Whole = true;
  TComponent* Watched = nullptr;
  std::vector<std::string> Heard;
  void Notification(TComponent* AComponent, TOperation Operation) override {
    Heard.push_back((Operation == opInsert ? "+" : "-") + AComponent->Name());
    if (auto* w = dynamic_cast<TWatcher*>(AComponent)) WasWhole.push_back(w->Whole);
    if (Operation == opRemove && AComponent == Watched) Watched = nullptr;
    TComponent::Notification(AComponent, Operation);
  }
  std::vector<bool> WasWhole;
};

}  // namespace

TEST_F(ClassesTest, OwnerFreesItsComponentsLastFirstWhileTheyAreStillListed) {
  auto* owner = new TTestComp(nullptr);
  owner->SetName("Owner");
  for (const char* n : {"A", "B", "C"}) (new TTestComp(owner))->SetName(n);
  auto* inner = new TTestComp(owner->FindComponent("B"));
  inner->SetName("Inner");
  owner->Free();
  EXPECT_EQ(Log(), (std::vector<std::string>{"~C listed", "~Inner listed", "~B listed", "~A listed",
                                             "~Owner unlisted"}));
}

TEST_F(ClassesTest, RemovalIsHeardByOwnerAndSiblingsWhileTheGoingOneIsWhole) {
  TWatcher owner(nullptr);
  auto* a = new TWatcher(&owner);
  a->SetName("A");
  auto* b = new TWatcher(&owner);
  b->SetName("B");
  b->Watched = a;
  EXPECT_EQ(owner.Heard, (std::vector<std::string>{"+", "+"}));  // inserted before naming
  a->Free();
  EXPECT_EQ(b->Watched, nullptr);
  ASSERT_FALSE(owner.WasWhole.empty());
  EXPECT_TRUE(owner.WasWhole.back());
  EXPECT_EQ(b->Heard, (std::vector<std::string>{"-A"}));
  EXPECT_EQ(owner.ComponentCount(), 1);
  EXPECT_EQ(owner.FindComponent("A"), nullptr);
}

TEST_F(ClassesTest, FreeNotificationReachesAcrossOwners) {
  auto* left = new TTestComp(nullptr);
  auto* right = new TTestComp(nullptr);
  auto* target = new TTestComp(left);
  target->SetName("Target");
  right->SetBuddy(target);
  left->Free();  // frees target too
  EXPECT_EQ(right->Buddy, nullptr);
  right->Free();

  // And the other way: the one that listened goes first; the survivor forgets it.
  auto* a = new TTestComp(nullptr);
  auto* b = new TTestComp(nullptr);
  a->SetBuddy(b);
  a->Free();
  b->Free();  // would touch the freed a if the link had stayed
  SUCCEED();
}

TEST_F(ClassesTest, NamesAreIdentifiersUniqueIgnoringCase) {
  TTestComp owner(nullptr);
  auto* a = new TTestComp(&owner);
  auto* b = new TTestComp(&owner);
  a->SetName("Button1");
  EXPECT_THROW(b->SetName("button1"), EComponentError);
  EXPECT_THROW(b->SetName("1Button"), EComponentError);
  EXPECT_THROW(b->SetName("But ton"), EComponentError);
  b->SetName("_b2");
  a->SetName("BUTTON1");  // a rename that only changes case is no clash with itself
  EXPECT_EQ(owner.FindComponent("button1"), a);
  EXPECT_EQ(owner.FindComponent(""), nullptr);
  a->SetName("");
  b->SetName("Button1");
  EXPECT_EQ(owner.FindComponent("Button1"), b);

  // A named component moved into an owner that has the name already is refused.
  TTestComp other(nullptr);
  auto* c = new TTestComp(&other);
  c->SetName("Button1");
  EXPECT_THROW(owner.InsertComponent(c), EComponentError);
  EXPECT_EQ(c->Owner(), &other);
}

TEST_F(ClassesTest, InsertAndRemoveMoveComponentsBetweenOwnersAndKeepFields) {
  TTestForm form;
  TTestComp elsewhere(nullptr);
  auto* c = new TTestComp(&elsewhere);
  c->SetName("Comp1");
  EXPECT_EQ(form.Comp1, nullptr);
  form.InsertComponent(c);
  EXPECT_EQ(c->Owner(), &form);
  EXPECT_EQ(elsewhere.ComponentCount(), 0);
  EXPECT_EQ(form.Comp1, c);  // the field follows the name
  c->SetName("Renamed");
  EXPECT_EQ(form.Comp1, nullptr);
  c->SetName("Comp1");
  EXPECT_EQ(form.Comp1, c);
  form.RemoveComponent(c);
  EXPECT_EQ(form.Comp1, nullptr);
  EXPECT_EQ(c->Owner(), nullptr);
  delete c;

  auto* s = new TTestStrict(&form);
  EXPECT_THROW(s->SetName("Comp1"), EComponentError);  // the field cannot hold it
  EXPECT_EQ(s->Name(), "");
  EXPECT_THROW(form.Components(5), EListError);
}

TEST_F(ClassesTest, DestroyingMarksTheWholeTree) {
  struct TProbe : TComponent {
    using TComponent::TComponent;
    ~TProbe() override { *Seen = ComponentState().Contains(csDestroying); }
    bool* Seen = nullptr;
  };
  bool seen = false;
  auto* owner = new TComponent(nullptr);
  auto* probe = new TProbe(owner);
  probe->Seen = &seen;
  owner->SetDesigning(true);
  EXPECT_TRUE(probe->ComponentState().Contains(csDesigning));
  owner->Free();
  EXPECT_TRUE(seen);
}

TEST_F(ClassesTest, ClassRegistryFindsByNameOrSaysWhichIsMissing) {
  RegisterTestClasses();
  TComponentClass make = FindClass("ttestcomp");
  TTestComp owner(nullptr);
  TComponent* made = make(&owner);
  EXPECT_STREQ(made->ClassName(), "TTestComp");
  EXPECT_EQ(made->Owner(), &owner);
  try {
    FindClass("TNope");
    ADD_FAILURE();
  } catch (const EClassNotFound& e) {
    EXPECT_EQ(e.Message, "Class TNope not found");
  }
  EXPECT_EQ(GetClass("TNope"), nullptr);
}

TEST_F(ClassesTest, AssignBetweenUnrelatedClassesIsAConvertError) {
  TTestBlob blob;
  TTestCollection items(nullptr);
  auto* item = static_cast<TTestItem*>(items.Add());
  try {
    item->Assign(&blob);
    ADD_FAILURE();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message, "Cannot assign a classes_test::TTestBlob to a classes_test::TTestItem");
  }
  try {
    blob.Assign(nullptr);
    ADD_FAILURE();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message, "Cannot assign a nil to a classes_test::TTestBlob");
  }
}

TEST_F(ClassesTest, CollectionFreesItemsLastFirstWhileListed) {
  TTestCollection items(nullptr);
  for (const char* n : {"a", "b", "c"}) static_cast<TTestItem*>(items.Add())->Name = n;
  items.Delete(0);
  EXPECT_EQ(Log().back(), "~item a at 0");
  EXPECT_EQ(items.Items(0)->Name, "b");
  EXPECT_THROW(items.Delete(2), EListError);
  EXPECT_THROW(items.Items(-1), EListError);
  items.Clear();
  EXPECT_EQ(Log(), (std::vector<std::string>{"~item a at 0", "~item c at 1", "~item b at 0"}));
  EXPECT_EQ(items.Count(), 0);
}

TEST_F(ClassesTest, CollectionIndexesIdsAndMoves) {
  TTestCollection items(nullptr);
  for (const char* n : {"a", "b", "c"}) static_cast<TTestItem*>(items.Add())->Name = n;
  TCollectionItem* a = items.Items(0);
  EXPECT_EQ(a->Index(), 0);
  EXPECT_EQ(items.FindItemID(items.Items(2)->ID()), items.Items(2));
  a->SetIndex(2);
  EXPECT_EQ(items.Items(0)->Name, "b");
  EXPECT_EQ(items.Items(1)->Name, "c");
  EXPECT_EQ(items.Items(2), a);
  EXPECT_THROW(a->SetIndex(3), EListError);
  TCollectionItem* inserted = items.Insert(1);
  EXPECT_EQ(inserted->Index(), 1);
  EXPECT_EQ(items.Count(), 4);
  EXPECT_NE(inserted->ID(), a->ID());

  // An item moved to another collection leaves the first.
  TTestCollection other(nullptr);
  inserted->SetCollection(&other);
  EXPECT_EQ(items.Count(), 3);
  EXPECT_EQ(other.Items(0), inserted);
  EXPECT_EQ(inserted->GetOwner(), &other);
}

TEST_F(ClassesTest, CollectionUpdatesAreHeldAndReported) {
  TTestCollection items(nullptr);
  items.Updates.clear();
  auto* x = static_cast<TTestItem*>(items.Add());
  x->Name = "x";
  EXPECT_EQ(items.Updates, (std::vector<std::string>{"*"}));
  x->Touch(false);
  x->Touch(true);
  items.BeginUpdate();
  items.Add();
  x->Touch(false);
  EXPECT_EQ(items.Updates.size(), 3u);
  items.EndUpdate();
  EXPECT_EQ(items.Updates, (std::vector<std::string>{"*", "x", "*", "*"}));
}

TEST_F(ClassesTest, CollectionAssignCopiesItems) {
  TTestCollection source(nullptr), dest(nullptr);
  for (const char* n : {"a", "b"}) static_cast<TTestItem*>(source.Add())->Name = n;
  source.Items(1)->Wave->Bytes = {1, 2, 3};
  static_cast<TTestItem*>(dest.Add())->Name = "old";
  dest.Assign(&source);
  ASSERT_EQ(dest.Count(), 2);
  EXPECT_EQ(dest.Items(0)->Name, "a");
  EXPECT_EQ(dest.Items(1)->Wave->Bytes, (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_NE(dest.Items(1)->Wave, source.Items(1)->Wave);
  TTestBlob blob;
  EXPECT_THROW(dest.Assign(&blob), EConvertError);
}

TEST(SetsTest, MembersUnionsAndOutOfRangeValues) {
  enum E { e0, e1, e5 = 5, e63 = 63, e64 = 64 };
  TSet<E> s{e0, e5};
  EXPECT_TRUE(s.Contains(e5));
  EXPECT_FALSE(s.Contains(e1));
  s.Include(e63).Include(e64);  // 64 does not fit and is ignored
  EXPECT_TRUE(s.Contains(e63));
  EXPECT_FALSE(s.Contains(e64));
  EXPECT_EQ((s - TSet<E>{e0}), (TSet<E>{e5, e63}));
  EXPECT_EQ((s * TSet<E>{e1, e5}), (TSet<E>{e5}));
  EXPECT_TRUE((TSet<E>{e5}).SubsetOf(s));
  EXPECT_EQ(TSet<E>::FromBits(s.Bits()), s);
}
