// One frame of the sprite engine on a 512 x 448 display: every sprite moves and animates, some
// test themselves against the tree, a few die and are replaced, and the tree is drawn. Reported
// per frame beside a copy of the drawing surface's bytes (memcpy) measured in the same run.
//
// The second argument is how many sprites in ten start a collision walk: 10 is the worst case
// (every sprite against every other), 1 is closer to a game, where bosses and bullets test
// themselves and the rest only move and draw.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "framework/graphics/DIB.h"
#include "framework/graphics/DXDraw.h"
#include "framework/graphics/DXImageList.h"
#include "framework/graphics/DXSprite.h"
#include "framework/graphics/DXSpriteEngine.h"
#include "platform/backend/HeadlessBackend.h"
#include "platform/forms/Forms.h"

namespace {

class TBenchSprite : public TImageSprite {
 public:
  TBenchSprite(TSprite* AParent, int Seed, bool Walks) : TImageSprite(AParent), Walks(Walks) {
    X = (Seed * 37) % 480;
    Y = (Seed * 91) % 420;
    VX = 1 + Seed % 3;
    VY = 1 + Seed % 2;
    AnimCount = 4;
    AnimLooped = true;
    AnimSpeed = 0.2;
    PixelCheck = Seed % 4 == 0;
  }
  double VX, VY;
  bool Walks;
  int Hits = 0;

 protected:
  void DoMove(int MoveCount) override {
    TImageSprite::DoMove(MoveCount);
    X += VX;
    Y += VY;
    if (X < 0 || X > 496) VX = -VX;
    if (Y < 0 || Y > 432) VY = -VY;
    if (Walks) Collision();
  }
  void DoCollision(TSprite* Sprite, bool& Done) override { ++Hits; }
};

struct TScene {
  TForm* Form = nullptr;
  TDXDraw* Display = nullptr;
  TDXImageList* Images = nullptr;
  TDXSpriteEngine* Sprites = nullptr;
  TPictureCollectionItem* Item = nullptr;
  int Serial = 0;
  int WalkersInTen;

  TScene(int Count, int AWalkersInTen) : WalkersInTen(AWalkersInTen) {
    backend::HeadlessBackend::InstallFresh(1000);
    Application->CreateForm(Form);
    Form->SetBounds(0, 0, 512, 448);
    Form->Show();
    Display = new TDXDraw(Form);
    Display->AutoInitialize = false;
    Display->SetAutoSize(false);
    Display->SetParent(Form);
    Display->SetBounds(0, 0, 512, 448);
    Display->SetSurfaceWidth(512);
    Display->SetSurfaceHeight(448);
    Display->SetOptions(
        {doAllowReboot, doWaitVBlank, doCenter, doDirectX7Mode, doHardware, doSelectDriver});
    Display->Initialize();
    Images = new TDXImageList(Form);
    Images->SetDXDraw(Display);
    Item = static_cast<TPictureCollectionItem*>(Images->Items()->Add());
    TDIB dib;
    dib.SetSize(64, 16, 24);
    for (int y = 0; y < 16; ++y) {
      for (int x = 0; x < 64; ++x) {
        const int px = x % 16;
        const bool edge = px < 2 || px >= 14 || y < 2 || y >= 14;
        dib.SetPixels(x, y, edge ? 0u : 0x204080u + static_cast<DWORD>(x / 16) * 0x300000u);
      }
    }
    Item->Picture()->SetGraphic(&dib);
    Item->PatternWidth = 16;
    Item->Restore();
    Sprites = new TDXSpriteEngine(Form);
    Sprites->SetDXDraw(Display);
    for (int i = 0; i < Count; ++i) Spawn();
  }
  ~TScene() {
    Application->DestroyComponents();
    Application->ProcessMessages();
  }
  void Spawn() {
    auto* s = new TBenchSprite(Sprites->Engine(), Serial, Serial % 10 < WalkersInTen);
    ++Serial;
    s->SetImage(Item);
  }
  void Frame() {
    Sprites->Move(1);
    // Two sprites end and two new ones take their place every frame.
    TSpriteEngine* e = Sprites->Engine();
    for (int k = 0; k < 2 && k < e->Count(); ++k) {
      e->Items((Serial + k * 7) % e->Count())->Dead();
    }
    const int dying = static_cast<int>(e->DeadList().size());
    Sprites->Dead();
    for (int k = 0; k < dying; ++k) Spawn();
    Sprites->Draw();
  }
};

void BM_SpriteEngineFrame(benchmark::State& state) {
  TScene scene(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  for (auto _ : state) scene.Frame();
  state.counters["sprites"] = static_cast<double>(scene.Sprites->Engine()->SpriteCount());
  state.counters["drawn"] = static_cast<double>(scene.Sprites->Engine()->DrawCount());
}
BENCHMARK(BM_SpriteEngineFrame)
    ->ArgsProduct({{10, 100, 1000}, {1, 10}})
    ->Unit(benchmark::kMicrosecond);

// The baseline: copying one 512 x 448 x 32 surface's bytes.
void BM_MemcpySurface(benchmark::State& state) {
  std::vector<std::uint8_t> a(512 * 448 * 4, 1), b(512 * 448 * 4);
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), a.size());
    benchmark::DoNotOptimize(b.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_MemcpySurface)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
