#include "assets/gen/Pictures.h"

#include <cmath>
#include <numbers>

namespace assets {

namespace {

constexpr std::uint32_t clRed = 0x0000FF, clBlack = 0x000000, clWhite = 0xFFFFFF;
constexpr std::uint32_t kLetteringKey = 10511264, kEndingKey = 11037348;

const Rgb kInk{24, 20, 36};

// The hero: a small runner with a yellow scarf. Pattern 0 stands, pattern 1 dashes.
Image8 Hero() {
  Image8 im(64, 32, FromTColor(clRed));
  const Rgb skin{250, 214, 170}, skinDark{214, 160, 120}, tunic{40, 96, 200},
      tunicLight{90, 150, 240};
  const Rgb scarf{250, 210, 40}, boot{70, 50, 40}, hair{60, 40, 30}, white{250, 250, 250};
  auto body = [&](int ox, bool dash) {
    const double lean = dash ? 4 : 0;
    // legs
    if (dash) {
      im.Line(ox + 13, 22, ox + 6, 27, 4, boot);
      im.Line(ox + 18, 22, ox + 24, 28, 4, boot);
    } else {
      im.FillRect(ox + 11, 22, ox + 15, 30, boot);
      im.FillRect(ox + 18, 22, ox + 22, 30, boot);
    }
    // tunic
    im.ShadedEllipse(ox + 16 + lean * 0.5, 18, 8, 7, tunic, tunicLight);
    // arms
    if (dash) {
      im.Line(ox + 20, 16, ox + 29, 13, 3, skinDark);
      im.Line(ox + 12, 17, ox + 5, 20, 3, skinDark);
    } else {
      im.Line(ox + 9, 15, ox + 7, 22, 3, skinDark);
      im.Line(ox + 23, 15, ox + 25, 22, 3, skinDark);
    }
    // head
    im.ShadedEllipse(ox + 16 + lean, 9, 7, 7, skinDark, skin);
    im.FillEllipse(ox + 15 + lean, 4, 7, 3.5, hair);
    im.FillEllipse(ox + 18.5 + lean, 9, 1.6, 2.2, white);
    im.FillEllipse(ox + 19 + lean, 9.5, 0.9, 1.3, kInk);
    // scarf, streaming behind
    im.FillRect(ox + 10 + static_cast<int>(lean), 14, ox + 22 + static_cast<int>(lean), 16, scarf);
    if (dash) {
      im.Line(ox + 10, 15, ox + 1, 12, 2, scarf);
      for (int i = 0; i < 3; ++i) im.Line(ox + 1, 17 + i * 4, ox + 5, 17 + i * 4, 1, tunicLight);
    } else {
      im.Line(ox + 10, 15, ox + 5, 19, 2, scarf);
    }
  };
  body(0, false);
  body(32, true);
  return im;
}

// A stand-in for the boss until a stage loads its own picture.
Image8 BossPlaceholder() {
  Image8 im(384, 294, FromTColor(clBlack));
  for (int half = 0; half < 2; ++half) {
    const double cx = 96 + half * 192;
    im.ShadedEllipse(cx, 160, 80, 110, Rgb{60, 60, 80}, Rgb{150, 150, 180});
    im.FillEllipse(cx - 25, 120, 12, 16, Rgb{250, 250, 250});
    im.FillEllipse(cx + 25, 120, 12, 16, Rgb{250, 250, 250});
  }
  return im;
}

// A shard of the hero's armour, thrown when it bursts.
Image8 Ruin() {
  Image8 im(40, 36, FromTColor(clWhite));
  im.FillPolygon({{4, 10}, {22, 2}, {37, 14}, {30, 33}, {9, 30}}, Rgb{30, 70, 160});
  im.FillPolygon({{9, 12}, {21, 6}, {30, 14}, {24, 24}, {12, 22}}, Rgb{80, 140, 230});
  im.FillPolygon({{13, 13}, {20, 9}, {23, 14}, {17, 17}}, Rgb{200, 225, 250});
  im.Line(22, 2, 30, 33, 1.2, Rgb{20, 40, 90});
  return im;
}

Image8 Lettering(int w, int h, const std::string& text, int cell, Rgb top, Rgb bottom) {
  Image8 im(w, h, FromTColor(kLetteringKey));
  const int tw = Image8::LetteringWidth(text, cell), th = 7 * cell + 2;
  // A drop shadow first, then the letters.
  im.Lettering(text, (w - tw) / 2 + 4, (h - th) / 2 + 4, cell, kInk, kInk, kInk);
  im.Lettering(text, (w - tw) / 2, (h - th) / 2, cell, top, bottom, Rgb{250, 250, 250});
  return im;
}

// The gauge's frame: its inside stays transparent so the bars drawn before it show through.
Image8 Meter() {
  Image8 im(412, 15, FromTColor(clWhite));
  const Rgb frame{40, 40, 56}, light{120, 120, 150};
  im.FrameRect(0, 0, 406, 15, frame);
  for (int x = 101; x < 405; x += 101) {  // quarter marks on the frame
    im.Set(x, 0, light);
    im.Set(x, 14, light);
  }
  im.FillPolygon({{406, 0}, {411.5, 7.5}, {406, 15}}, frame);
  return im;
}

Image8 Note(int width, int variant) {
  Image8 im(width, 48, FromTColor(clWhite));
  const Rgb colours[4] = {{230, 40, 120}, {40, 160, 230}, {240, 150, 20}, {60, 180, 80}};
  const Rgb c = colours[variant], dark = Mix(c, kInk, 0.5);
  auto head = [&](double x, double y) {
    im.FillEllipse(x, y, 8.5, 6.5, dark);
    im.FillEllipse(x - 0.5, y - 0.5, 7, 5, c);
  };
  switch (variant) {
    case 0:  // an eighth note with its flag
      head(10, 39);
      im.FillRect(16, 6, 19, 39, dark);
      im.FillPolygon({{19, 6}, {31, 16}, {29, 27}, {24, 17}, {19, 14}}, c);
      break;
    case 1:  // a quarter note, narrow
      im.FillEllipse(8, 40, 7.5, 6, dark);
      im.FillEllipse(7.5, 39.5, 6, 4.5, c);
      im.FillRect(13, 4, 16, 40, dark);
      break;
    case 2:  // two beamed eighths
      head(10, 40);
      head(33, 36);
      im.FillRect(16, 8, 19, 40, dark);
      im.FillRect(39, 4, 42, 36, dark);
      im.FillPolygon({{16, 8}, {42, 2}, {42, 9}, {16, 15}}, c);
      break;
    default:  // an eighth note with a double flag
      head(10, 39);
      im.FillRect(16, 4, 19, 39, dark);
      im.FillPolygon({{19, 4}, {30, 12}, {28, 20}, {19, 12}}, c);
      im.FillPolygon({{19, 14}, {30, 22}, {28, 30}, {19, 22}}, c);
      break;
  }
  return im;
}

// A glowing orb; the giant bullet is the same picture stretched.
Image8 Bullet() {
  Image8 im(100, 100, FromTColor(clRed));
  im.FillEllipse(50, 50, 48, 48, Rgb{60, 20, 110});
  im.ShadedEllipse(50, 50, 44, 44, Rgb{90, 30, 160}, Rgb{250, 220, 255});
  for (int i = 0; i < 8; ++i) {  // sparks around the rim
    double a = i * std::numbers::pi / 4;
    im.FillEllipse(50 + 40 * std::cos(a), 50 + 40 * std::sin(a), 3, 3, Rgb{255, 250, 190});
  }
  return im;
}

// The ending picture: the hero's captain, waving.
Image8 Dravik() {
  Image8 im(135, 180, FromTColor(kEndingKey));
  const Rgb skin{250, 214, 170}, skinDark{210, 160, 120}, coat{30, 60, 120},
      coatLight{70, 120, 200};
  const Rgb hair{240, 200, 60}, hairDark{190, 140, 30}, boot{60, 40, 30}, gold{250, 220, 90};
  im.FillRect(45, 150, 62, 178, boot);
  im.FillRect(73, 150, 90, 178, boot);
  im.FillPolygon({{35, 80}, {100, 80}, {110, 160}, {25, 160}}, coat);
  im.FillPolygon({{50, 84}, {85, 84}, {92, 150}, {43, 150}}, coatLight);
  im.FillRect(64, 84, 71, 150, gold);
  im.Line(100, 88, 124, 40, 10, coat);  // the waving arm
  im.ShadedEllipse(124, 34, 8, 8, skinDark, skin);
  im.Line(36, 88, 22, 140, 10, coat);
  im.ShadedEllipse(22, 144, 7, 7, skinDark, skin);
  im.ShadedEllipse(67, 52, 26, 28, skinDark, skin);
  im.ShadedEllipse(67, 34, 30, 16, hairDark, hair);
  im.FillPolygon({{38, 36}, {50, 30}, {46, 60}}, hair);
  im.FillEllipse(57, 54, 3.5, 4.5, kInk);
  im.FillEllipse(77, 54, 3.5, 4.5, kInk);
  im.Line(58, 68, 67, 72, 2, Rgb{170, 70, 70});
  im.Line(67, 72, 76, 68, 2, Rgb{170, 70, 70});
  return im;
}

}  // namespace

std::vector<NamedPicture> GamePictures() {
  std::vector<NamedPicture> list;
  list.push_back({"Hero", Hero(), 32, clRed});
  list.push_back({"Boss", BossPlaceholder(), 0, clBlack});
  list.push_back({"Ruin", Ruin(), 0, clWhite});
  list.push_back({"Ready", Lettering(321, 105, "READY", 10, Rgb{255, 240, 120}, Rgb{240, 110, 30}),
                  0, kLetteringKey});
  list.push_back({"Go", Lettering(258, 134, "GO!", 14, Rgb{180, 255, 160}, Rgb{30, 170, 60}), 0,
                  kLetteringKey});
  list.push_back({"Meter", Meter(), 0, clWhite});
  const int noteWidths[4] = {35, 18, 45, 35};
  for (int i = 0; i < 4; ++i)
    list.push_back({"Note" + std::to_string(i + 1), Note(noteWidths[i], i), 0, clWhite});
  list.push_back({"Bullet1", Bullet(), 0, clRed});
  list.push_back({"Dravik", Dravik(), 0, kEndingKey});
  return list;
}

// Stage 1's boss: a horned ogre. Pattern 0 walks right, pattern 1 (mirrored) left. The light
// background is the key and also the colour the screen is cleared with during the stage.
Image8 GrumbakPicture() {
  Image8 im(384, 294, Rgb{226, 236, 246});
  const Rgb hide{110, 60, 150}, hideLight{190, 140, 230}, belly{240, 200, 150}, horn{245, 240, 220};
  const Rgb hornDark{170, 160, 130}, eye{255, 250, 240}, claw{60, 40, 30};
  // legs
  im.ShadedEllipse(60, 258, 26, 32, hide, hideLight);
  im.ShadedEllipse(130, 258, 26, 32, hide, hideLight);
  im.FillEllipse(60, 284, 30, 9, claw);
  im.FillEllipse(136, 284, 30, 9, claw);
  // body and belly
  im.ShadedEllipse(96, 170, 82, 92, hide, hideLight);
  im.ShadedEllipse(104, 190, 50, 58, Mix(belly, hide, 0.3), belly);
  // arms, the front one raised
  im.Line(30, 150, 14, 215, 22, hide);
  im.ShadedEllipse(14, 222, 15, 14, hide, hideLight);
  im.Line(158, 150, 172, 100, 22, hide);
  im.ShadedEllipse(172, 92, 15, 14, hide, hideLight);
  // head
  im.ShadedEllipse(112, 78, 56, 50, hide, hideLight);
  im.FillPolygon({{70, 50}, {48, 6}, {86, 36}}, horn);
  im.FillPolygon({{70, 50}, {58, 26}, {80, 42}}, hornDark);
  im.FillPolygon({{150, 48}, {176, 4}, {138, 34}}, horn);
  im.FillPolygon({{150, 48}, {166, 24}, {144, 40}}, hornDark);
  im.FillEllipse(104, 70, 13, 15, eye);
  im.FillEllipse(142, 70, 13, 15, eye);
  im.FillEllipse(109, 72, 6, 8, kInk);  // looking the way it walks
  im.FillEllipse(147, 72, 6, 8, kInk);
  im.FillPolygon({{98, 102}, {160, 100}, {150, 116}, {108, 118}}, Rgb{60, 20, 40});
  im.FillPolygon({{112, 103}, {120, 103}, {116, 112}}, horn);
  im.FillPolygon({{138, 102}, {146, 102}, {142, 111}}, horn);
  im.MirrorLeftIntoRight();
  return im;
}

// Stage 2's boss segment: a stacked block creature. Pattern 0 is alert, pattern 1 knocked out.
Image8 StakkoPicture() {
  Image8 im(192, 96, Rgb{244, 236, 214});
  for (int half = 0; half < 2; ++half) {
    const int ox = half * 96;
    const bool out = half == 1;
    const Rgb face = out ? Rgb{150, 150, 160} : Rgb{230, 120, 40};
    const Rgb faceLight = out ? Rgb{200, 200, 210} : Rgb{255, 190, 110};
    const Rgb edge = Mix(face, kInk, 0.55);
    im.FillRect(ox + 8, 10, ox + 88, 88, edge);
    im.FillRect(ox + 11, 13, ox + 85, 85, face);
    im.FillRect(ox + 11, 13, ox + 85, 24, faceLight);
    im.FillRect(ox + 8, 48, ox + 88, 51, edge);  // the seam between the two stacked blocks
    if (!out) {
      im.FillEllipse(ox + 34, 36, 8, 9, Rgb{255, 252, 240});
      im.FillEllipse(ox + 62, 36, 8, 9, Rgb{255, 252, 240});
      im.FillEllipse(ox + 35, 38, 4, 5, kInk);
      im.FillEllipse(ox + 63, 38, 4, 5, kInk);
      im.FillRect(ox + 30, 64, ox + 66, 70, kInk);
    } else {  // crossed-out eyes and a wobbly mouth
      for (int e : {34, 62}) {
        im.Line(ox + e - 6, 30, ox + e + 6, 42, 3, kInk);
        im.Line(ox + e + 6, 30, ox + e - 6, 42, 3, kInk);
      }
      for (int x = 28; x < 68; ++x)
        im.FillEllipse(ox + x, 66 + 3 * std::sin(x * 0.5), 1.5, 1.5, kInk);
    }
  }
  return im;
}

}  // namespace assets
