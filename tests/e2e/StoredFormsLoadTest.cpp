// Both stored forms read for real into their components, through the components' own stored
// properties: every picture and sound is there under its name, with its key.
#include <gtest/gtest.h>

#include <cstdint>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "assets/StoredForms.h"
#include "framework/graphics/DXDraw.h"
#include "framework/graphics/DXImageList.h"
#include "framework/graphics/DXSpriteEngine.h"
#include "framework/sound_input/DXSounds.h"
#include "framework/sound_input/Ddidex.h"
#include "platform/backend/HeadlessBackend.h"
#include "platform/forms/AppEvnts.h"
#include "platform/forms/Buttons.h"
#include "platform/forms/ComCtrls.h"
#include "platform/forms/Dialogs.h"
#include "platform/forms/Forms.h"
#include "platform/forms/StdCtrls.h"
#include "platform/mci/MPlayer.h"
#include "platform/rtl/Classes.h"

namespace {

// Loading for real, through the components' own stored properties. The handlers are left out:
// they belong to the programs' windows, which bind them by name.
class ProbeForm : public TForm {
 public:
  using TForm::TForm;
  const char* ClassName() const override { return "TForm1"; }
};

std::string WithoutHandlers(const std::string& text) {
  return std::regex_replace(text, std::regex("\\n *On[A-Za-z]+ = [A-Za-z0-9_]+(?=\\n)"), "");
}

// The items of a component's collection property, with their stored properties.
std::vector<TPropertyDefs> CollectionItems(TComponent* c, const std::string& property) {
  TPropertyDefs defs;
  c->DefineProperties(defs);
  const TPropInfo* p = defs.Find(property);
  std::vector<TPropertyDefs> items;
  if (p == nullptr || p->Kind != TPropKind::Collection) return items;
  auto* collection = dynamic_cast<TCollection*>(p->GetObject());
  for (int i = 0; collection != nullptr && i < collection->Count(); ++i) {
    collection->Items(i)->DefineProperties(items.emplace_back());
  }
  return items;
}

// Classes register themselves when their code is linked in, as the programs' windows do by
// using them; this test uses each once.
template <class... T>
void Make() {
  (delete new T(nullptr), ...);
}
void LinkComponentClasses() {
  Make<TDXDraw, TApplicationEvents, TDXSpriteEngine, TDXImageList, TMediaPlayer, TDDIDEX, TDXSound,
       TDXWaveList, TOpenDialog, TSpeedButton, TTrackBar, TLabel>();
}

std::string StringOf(const TPropertyDefs& defs, const std::string& name) {
  const TPropInfo* p = defs.Find(name);
  return p != nullptr && p->GetString ? p->GetString() : "?";
}

std::int64_t OrdOf(const TPropertyDefs& defs, const std::string& name) {
  const TPropInfo* p = defs.Find(name);
  return p != nullptr && p->GetOrd ? p->GetOrd() : -1;
}

void LoadAndCheck(const std::string& text, const std::vector<std::string>& classes,
                  const std::string& imageList,
                  const std::vector<std::pair<std::string, std::int64_t>>& pictures,
                  const std::string& waveList, const std::vector<std::string>& sounds) {
  backend::HeadlessBackend::InstallFresh();
  LinkComponentClasses();
  for (const std::string& c : classes) ASSERT_NE(GetClass(c), nullptr) << c;
  ProbeForm* form = new ProbeForm(nullptr);
  try {
    ReadStoredForm(form, WithoutHandlers(text));
  } catch (const Exception& e) {
    form->Free();
    FAIL() << e.Message;
  }
  EXPECT_EQ(form->ComponentCount(), static_cast<int>(classes.size()));
  if (!imageList.empty()) {
    EXPECT_NE(form->FindComponent(imageList), nullptr);
    if (form->FindComponent(imageList) != nullptr) {
      const auto items = CollectionItems(form->FindComponent(imageList), "Items");
      EXPECT_EQ(items.size(), pictures.size());
      for (size_t i = 0; i < items.size() && i < pictures.size(); ++i) {
        EXPECT_EQ(StringOf(items[i], "Name"), pictures[i].first);
        EXPECT_EQ(OrdOf(items[i], "TransparentColor"), pictures[i].second) << pictures[i].first;
      }
    }
  }
  EXPECT_NE(form->FindComponent(waveList), nullptr);
  if (form->FindComponent(waveList) != nullptr) {
    const auto items = CollectionItems(form->FindComponent(waveList), "Items");
    EXPECT_EQ(items.size(), sounds.size());
    for (size_t i = 0; i < items.size() && i < sounds.size(); ++i)
      EXPECT_EQ(StringOf(items[i], "Name"), sounds[i]);
  }
  form->Free();
}

TEST(StoredFormsTest, GameFormLoadsIntoItsComponents) {
  LoadAndCheck(GameFormResource(),
               {"TDXDraw", "TApplicationEvents", "TDXSpriteEngine", "TDXImageList", "TMediaPlayer",
                "TDDIDEX", "TDXSound", "TDXWaveList"},
               "DXImageList1",
               {{"Hero", 0x0000FF},
                {"Boss", 0},
                {"Ruin", 0xFFFFFF},
                {"Ready", 10511264},
                {"Go", 10511264},
                {"Meter", 0xFFFFFF},
                {"Note1", 0xFFFFFF},
                {"Note2", 0xFFFFFF},
                {"Note3", 0xFFFFFF},
                {"Note4", 0xFFFFFF},
                {"Bullet1", 0x0000FF},
                {"Dravik", 11037348}},
               "DXWaveList1", {"Bass", "SmallHit", "BigHit", "Snare", "End"});
}

TEST(StoredFormsTest, EditorFormLoadsIntoItsComponents) {
  LoadAndCheck(EditorFormResource(),
               {"TMediaPlayer", "TOpenDialog", "TApplicationEvents", "TDXDraw", "TDXSound",
                "TDXWaveList", "TSpeedButton", "TTrackBar", "TLabel", "TDDIDEX"},
               "", {}, "Sounds", {"Snare", "Bass", "Tom", "HH", "Symbal", "Hit", "Clap", "Kan"});
}

}  // namespace
