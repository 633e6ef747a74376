// Opens a window with a display on a real screen (SDL), draws a picture with fills, a pattern
// blitted from a second surface, mirrored and stretched copies and text through the surface
// canvas, and flips it for a few seconds. Run it under Xvfb and photograph the screen:
//   xvfb-run -s "-screen 0 1024x768x24" sh -c 'manual_display_window & sleep 3;
//       import -window root shot.png; wait'
#include <cstdlib>
#include <string>

#include "framework/graphics/DXDraws.h"
#include "platform/forms/Forms.h"
#include "platform/gdi/Colors.h"

int main(int argc, char** argv) {
  const int frames = argc > 1 ? std::atoi(argv[1]) : 200;
  Application->SetTitle("Morvane");
  TForm* form = nullptr;
  Application->CreateForm(form);
  form->SetCaption("Display check");
  form->Position = poScreenCenter;
  form->SetClientWidth(512);
  form->SetClientHeight(448);
  auto* dx = new TDXDraw(form);
  dx->AutoInitialize = false;
  dx->SetAutoSize(false);
  dx->SetSurfaceWidth(512);
  dx->SetSurfaceHeight(448);
  dx->SetParent(form);
  dx->SetBounds(0, 0, 512, 448);
  dx->SetOptions({doWaitVBlank, doCenter});
  form->Show();
  dx->Initialize();

  // A 64 x 32 sheet of two 32 x 32 patterns, black as the transparent colour.
  auto* sheet = new TDirectDrawSurface(dx->DDraw);
  sheet->SetSize(64, 32);
  sheet->Fill(sheet->MatchColor(clBlack));
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32 - y; ++x) sheet->SetPixels(x, y, sheet->MatchColor(clLime));
  for (int y = 4; y < 28; ++y)
    for (int x = 36; x < 60; ++x)
      if ((x / 4 + y / 4) % 2) sheet->SetPixels(x, y, sheet->MatchColor(clFuchsia));
  sheet->SetTransparentColor(sheet->MatchColor(clBlack));

  int n = 0;
  Application->OnIdle = [&](TObject*, bool& Done) {
    Done = false;
    if (!dx->CanDraw()) return;
    TDirectDrawSurface* s = dx->Surface;
    s->Fill(s->MatchColor(clNavy));
    for (int i = 0; i < 8; ++i)
      s->Draw(8 + i * 60 + (n % 40) - 20, 300, Rect(0, 0, 32, 32), sheet, true);
    s->Draw(40, 360, Rect(32, 0, 0, 32), sheet, true);    // mirrored
    s->Draw(-10, 200, Rect(0, 0, 32, 32), sheet, false);  // cut at the left edge
    s->StretchDraw(Rect(380, 40, 508, 104), Rect(32, 0, 64, 32), sheet, true);
    TCanvas* c = s->Canvas();
    c->Brush()->SetStyle(bsClear);
    c->Font()->SetName("Myriad Apple");
    c->Font()->SetStyle({fsBold});
    c->Font()->SetSize(28);
    c->Font()->SetColor(clYellow);
    c->TextOut(40, 60, "Ready");
    c->Font()->SetSize(14);
    c->Font()->SetColor(clWhite);
    c->TextOut(40, 120, "Frame " + std::to_string(n) + "  スタッコのスタッコ");
    s->Canvas()->Release();
    dx->Flip();
    if (++n >= frames) Application->Terminate();
  };
  Application->Run();
  delete sheet;
  return 0;
}
