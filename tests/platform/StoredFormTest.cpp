#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "platform/rtl/Classes.h"
#include "tests/platform/ClassesTestTypes.h"

using namespace classes_test;

namespace {

// Written in the writer's own layout, so writing it back must give the very same text.
const char* const kSample = R"(object Form1: TTestForm
  Count = 3
  Caption = 'Main'
  OnIdle = FormIdle
  Items.ColorTable = {
    0000000000000000
  }
  object Comp1: TTestComp
    Count = -7
    Small = 200
    Flag = True
    Speed = 0.1
    Caption = 'It''s'#13#10'ゲーム'
    Border = tbNone
    Options = [toBeta, toGamma]
    Buddy = Comp2
    OnClick = FormClick
    Blob.Width = 5
    Blob.Data = {
      00FF10
    }
    Items.ColorTable = {
      0102030405060708
    }
    Items = <
      item
        Name = 'Hero'
        Value = 2
        Wave.Data = {
          52494646
        }
        Link = Form1
      end
      item
        Name = 'Boss'
      end
    >
  end
  object Comp2: TTestComp
    Count = 0
    Options = []
    Items.ColorTable = {
      0000000000000000
    }
    object Comp3: TTestComp
      Count = 1
      Speed = 1e+300
      Buddy = Comp1
      Items.ColorTable = {
        0000000000000000
      }
    end
  end
end
)";

class StoredFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterTestClasses();
    Log().clear();
  }
  void TearDown() override {
    Log().clear();
    // Registered by a test; the next test of this class must find none.
    UnregisterFormResource("TTestForm");
  }
};

std::unique_ptr<TTestForm> ReadSample(const std::string& Text = kSample) {
  auto form = std::make_unique<TTestForm>();
  ReadStoredForm(form.get(), Text);
  return form;
}

// The line number the message starts with, or -1.
int LineOf(const EReadError& e) {
  int line = -1;
  if (std::sscanf(e.Message.c_str(), "Line %d:", &line) != 1) return -1;
  return line;
}

}  // namespace

TEST_F(StoredFormTest, ReadsEveryKindOfProperty) {
  auto form = ReadSample();
  EXPECT_EQ(form->Name(), "Form1");
  EXPECT_EQ(form->Count, 3);
  ASSERT_EQ(form->ComponentCount(), 3);
  TTestComp* c1 = form->Comp1;
  ASSERT_NE(c1, nullptr);
  EXPECT_EQ(c1, form->FindComponent("comp1"));
  EXPECT_EQ(c1->Count, -7);
  EXPECT_EQ(c1->Small, 200);
  EXPECT_TRUE(c1->Flag);
  EXPECT_DOUBLE_EQ(c1->Speed, 0.1);
  EXPECT_EQ(c1->Caption, "It's\r\nゲーム");
  EXPECT_EQ(c1->Border, tbNone);
  EXPECT_EQ(c1->Options, (TTestOptions{toBeta, toGamma}));
  EXPECT_EQ(c1->Blob->Width, 5);
  EXPECT_EQ(c1->Blob->Bytes, (std::vector<std::uint8_t>{0x00, 0xFF, 0x10}));
  EXPECT_EQ(c1->Blob->SizeSeen, 3);  // a stream of exactly the property's bytes
  EXPECT_EQ(c1->Items->ColorTable[0], 1);
  EXPECT_EQ(c1->Items->ColorTable[7], 8);
  ASSERT_EQ(c1->Items->Count(), 2);
  EXPECT_EQ(c1->Items->Items(0)->Name, "Hero");
  EXPECT_EQ(c1->Items->Items(0)->Value, 2);
  EXPECT_EQ(c1->Items->Items(0)->Wave->Bytes.size(), 4u);
  EXPECT_EQ(c1->Items->Items(0)->Link, form.get());
  EXPECT_EQ(c1->Items->Items(1)->Name, "Boss");

  auto* c2 = static_cast<TTestComp*>(form->FindComponent("Comp2"));
  auto* c3 = static_cast<TTestComp*>(form->FindComponent("Comp3"));
  ASSERT_NE(c2, nullptr);
  ASSERT_NE(c3, nullptr);
  EXPECT_TRUE(c2->Options.Empty());
  EXPECT_EQ(c3->Parent, c2);  // nested blocks give the enclosing component as parent
  EXPECT_EQ(c3->Owner(), form.get());
  EXPECT_EQ(c3->Speed, 1e300);

  // Events are bound to the root's handlers, each with its own signature.
  ASSERT_TRUE(c1->OnClick);
  c1->OnClick(c1);
  EXPECT_EQ(form->Clicks, 1);
  bool done = true;
  form->OnIdle(form.get(), done);
  EXPECT_FALSE(done);
}

TEST_F(StoredFormTest, WritingBackGivesTheSameText) {
  auto form = ReadSample();
  const std::string written = WriteStoredForm(form.get());
  EXPECT_EQ(written, kSample);
  auto again = ReadSample(written);
  EXPECT_EQ(WriteStoredForm(again.get()), written);
}

TEST_F(StoredFormTest, WriterRoundTripsValuesSetInCode) {
  TTestForm form;
  form.SetName("Main");
  form.Count = 1;
  form.Speed = 14308771156321341440.0;  // whole, and beyond any integer
  auto* c = new TTestComp(&form);
  c->SetName("Odd");
  c->Count = std::numeric_limits<int>::min();
  c->Speed = -0.0001234567890123;
  c->Caption = std::string("a\0b'", 4) + "\x7F";
  c->Options = TTestOptions{};
  c->Blob->Bytes.assign(100, 0xAB);  // more than one line of hex
  auto* item = static_cast<TTestItem*>(c->Items->Add());
  item->Name = "x";
  c->OnClick = [](TObject*) {};  // a handler set in code has no name and is not stored
  c->Blob->Gain = 2;  // differs from its default of 1 and is written; the form's own is not
  const std::string text = WriteStoredForm(&form);
  EXPECT_EQ(text.find("OnClick"), std::string::npos);
  EXPECT_NE(text.find("Blob.Gain = 2.0"), std::string::npos);
  EXPECT_EQ(text.find("Gain = 1"), std::string::npos);

  TTestForm copy;
  ReadStoredForm(&copy, text);
  EXPECT_EQ(copy.Speed, form.Speed);
  auto* d = static_cast<TTestComp*>(copy.FindComponent("Odd"));
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->Count, std::numeric_limits<int>::min());
  EXPECT_EQ(d->Speed, c->Speed);
  EXPECT_EQ(d->Caption, c->Caption);
  EXPECT_TRUE(d->Options.Empty());
  EXPECT_EQ(d->Blob->Bytes, c->Blob->Bytes);
  ASSERT_EQ(d->Items->Count(), 1);
  EXPECT_EQ(WriteStoredForm(&copy), text);

  // A reference to a component that is not the form's cannot be stored by name.
  TTestComp stranger(nullptr);
  stranger.SetName("Stranger");
  c->Buddy = &stranger;
  EXPECT_THROW(WriteStoredForm(&form), EWriteError);
  c->Buddy = nullptr;
}

TEST_F(StoredFormTest, ReferencesAreSetBeforeLoadedWhichRunsInCreationOrder) {
  auto form = ReadSample();
  EXPECT_EQ(Log(), (std::vector<std::string>{"Loaded Form1", "Loaded Comp1", "Loaded Comp2",
                                             "Loaded Comp3"}));
  EXPECT_TRUE(form->Comp1->BuddySeenInLoaded);  // Comp2 is read after Comp1 refers to it
  for (int i = 0; i < form->ComponentCount(); ++i) {
    EXPECT_FALSE(form->Components(i)->ComponentState().Contains(csLoading));
    EXPECT_FALSE(form->Components(i)->ComponentState().Contains(csReading));
  }
  EXPECT_FALSE(form->ComponentState().Contains(csLoading));
}

TEST_F(StoredFormTest, FreedComponentsLeaveNoDanglingReferences) {
  auto form = ReadSample();
  TTestComp* c1 = form->Comp1;
  auto* c3 = static_cast<TTestComp*>(form->FindComponent("Comp3"));
  ASSERT_EQ(c3->Buddy, c1);
  c1->Free();
  EXPECT_EQ(form->Comp1, nullptr);  // the form's field
  EXPECT_EQ(c3->Buddy, nullptr);    // the sibling's reference
}

TEST_F(StoredFormTest, FormResourcesAreFoundByClassName) {
  TTestForm none;
  EXPECT_FALSE(ReadFormResource(&none));
  RegisterFormResource("TTestForm", kSample);
  ASSERT_NE(FindFormResource("ttestform"), nullptr);
  TTestForm form;
  EXPECT_TRUE(ReadFormResource(&form));
  EXPECT_NE(form.Comp1, nullptr);
}

TEST_F(StoredFormTest, EveryTruncationIsAReadErrorAndLeavesNothingBehind) {
  const std::string full = kSample;
  const std::size_t end = full.find_last_not_of(" \n") + 1;
  for (std::size_t n = 0; n < end; ++n) {
    TTestForm form;
    try {
      ReadStoredForm(&form, full.substr(0, n));
      ADD_FAILURE() << "no error for " << n << " bytes";
    } catch (const EReadError& e) {
      EXPECT_GT(LineOf(e), 0) << e.Message;
    }
    EXPECT_EQ(form.ComponentCount(), 0) << n;
    EXPECT_EQ(form.Comp1, nullptr);
    EXPECT_FALSE(form.ComponentState().Contains(csLoading));
  }
}

TEST_F(StoredFormTest, DamagedDataNamesTheProblemAndTheLine) {
  struct Case {
    const char* Text;
    int Line;
    const char* Words;
  };
  const Case cases[] = {
      {"object F: TTestForm\n  object C: TNoSuchThing\n  end\nend", 2,
       "Class TNoSuchThing not found"},
      {"object F: TTestForm\n  Colour = 3\nend", 2, "Property Colour does not exist"},
      {"object F: TTestForm\n  Count = 'three'\nend", 2, "An integer expected"},
      {"object F: TTestForm\n  Small = 256\nend", 2, "out of range"},
      {"object F: TTestForm\n  Count = 99999999999999999999\nend", 2, "out of range"},
      {"object F: TTestForm\n  Count = $10000000000000000\nend", 2, "too large"},
      {"object F: TTestForm\n  Border = tbRound\nend", 2, "Invalid value tbRound"},
      {"object F: TTestForm\n  Options = [toAlpha, toDelta]\nend", 2, "Invalid element toDelta"},
      {"object F: TTestForm\n  Flag = 1\nend", 2, "True or False"},
      {"object F: TTestForm\n  OnClick = Nobody\nend", 2, "Event handler Nobody not found"},
      {"object F: TTestForm\n  OnClick = FormIdle\nend", 2, "does not fit event OnClick"},
      {"object F: TTestForm\n\n  Buddy = Ghost\nend", 3, "Component Ghost not found"},
      {"object F: TTestForm\n  Blob.Data = {0A1}\nend", 2, "odd number"},
      {"object F: TTestForm\n  Blob.Data = {0G}\nend", 2, "Invalid character"},
      {"object F: TTestForm\n  Items.ColorTable = {0102}\nend", 0, ""},  // short: the owner's
      {"object F: TTestForm\n  Caption = 'open\nend", 2, "Unterminated string"},
      {"object F: TTestForm\n  Caption = #300\nend", 2, "Invalid character code"},
      {"object F: TTestForm\n  Blob = 3\nend", 2, "cannot be given a value"},
      {"object F: TTestForm\n  Count.Width = 3\nend", 2, "holds no object"},
      {"object F: TTestComp\nend", 1, "of class TTestComp, not TTestForm"},
      {"object F: TTestForm\n  object 9x: TTestComp\n  end\nend", 2, "Invalid number"},
      {"object F: TTestForm\n  object A: TTestComp\n  end\n  object a: TTestComp\n  end\nend", 4,
       "already there"},
      {"object F: TTestForm\n  object Comp1: TTestStrict\n  end\nend", 2, "Field Comp1"},
      {"object F: TTestForm\n  Items = <\n    thing\n  >\nend", 3, "'item' or '>' expected"},
      {"object F: TTestForm\nend\nend", 3, "The end of the text expected"},
      {"object F: TTestForm\n  Count = 1\x01\nend", 2, "Unexpected character #1"},
  };
  for (const Case& c : cases) {
    TTestForm form;
    try {
      ReadStoredForm(&form, c.Text);
      ADD_FAILURE() << "no error for: " << c.Text;
    } catch (const EReadError& e) {
      if (c.Line > 0) {
        EXPECT_EQ(LineOf(e), c.Line) << e.Message;
        EXPECT_NE(e.Message.find(c.Words), std::string::npos) << e.Message;
      }
    }
    EXPECT_EQ(form.ComponentCount(), 0) << c.Text;
  }
}

TEST_F(StoredFormTest, DeepNestingIsRefused) {
  std::string text = "object F: TTestForm\n";
  for (int i = 0; i < 200; ++i) text += "object C" + std::to_string(i) + ": TTestComp\n";
  for (int i = 0; i < 200; ++i) text += "end\n";
  text += "end\n";
  TTestForm form;
  try {
    ReadStoredForm(&form, text);
    ADD_FAILURE() << "deep nesting accepted";
  } catch (const EReadError& e) {
    EXPECT_NE(e.Message.find("nested too deeply"), std::string::npos) << e.Message;
  }
  EXPECT_EQ(form.ComponentCount(), 0);

  std::string items = "object F: TTestForm\n";
  for (int i = 0; i < 100; ++i) items += "Items = < item\n";
  TTestForm form2;
  EXPECT_THROW(ReadStoredForm(&form2, items), EReadError);
}

TEST_F(StoredFormTest, FailingSetterOrLoadedFreesWhatWasMadeAndPassesTheErrorOn) {
  {
    TTestForm form;
    EXPECT_THROW(ReadStoredForm(&form,
                                "object F: TTestForm\n  object A: TTestComp\n  end\n"
                                "  object Strict1: TTestStrict\n    Count = -1\n  end\nend"),
                 EInvalidOperation);
    EXPECT_EQ(form.ComponentCount(), 0);
    EXPECT_EQ(form.Strict1, nullptr);
  }
  {
    Log().clear();
    TTestForm form;
    EXPECT_THROW(ReadStoredForm(&form,
                                "object F: TTestForm\n  object A: TTestComp\n    Buddy = B\n  end\n"
                                "  object B: TTestComp\n    FailLoaded = True\n  end\n"
                                "  object C: TTestComp\n  end\nend"),
                 EInvalidOperation);
    EXPECT_EQ(form.ComponentCount(), 0);
    // Loaded ran up to the failing one; then everything made was freed, last first.
    EXPECT_EQ(Log(), (std::vector<std::string>{"Loaded F", "Loaded A", "Loaded B", "~C listed",
                                               "~B listed", "~A listed"}));
  }
}

TEST_F(StoredFormTest, AcceptsLooseLayoutAndOtherSpellings) {
  TTestForm form;
  ReadStoredForm(&form,
                 "object F:TTestForm Count=$1F Speed=-Inf Flag=TRUE object X:TTestComp "
                 "Buddy=nil Caption=#$41'b'#99 Options=[ ] Items=<> end end");
  EXPECT_EQ(form.Count, 31);
  EXPECT_TRUE(std::isinf(form.Speed) && form.Speed < 0);
  EXPECT_TRUE(form.Flag);
  auto* x = static_cast<TTestComp*>(form.FindComponent("X"));
  ASSERT_NE(x, nullptr);
  EXPECT_EQ(x->Caption, "Abc");
  EXPECT_TRUE(x->Options.Empty());
}
