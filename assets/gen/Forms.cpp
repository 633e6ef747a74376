#include "assets/gen/Forms.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "assets/gen/Levels.h"
#include "assets/gen/Pictures.h"
#include "assets/gen/Synth.h"

namespace assets {

namespace {

// Writes stored-form text in the layout the class library's writer uses: two spaces of indent
// per level, binary data as hex in braces, collections in angle brackets.
class FormText {
 public:
  void Object(const std::string& name, const std::string& cls) {
    Line("object " + name + ": " + cls);
    ++depth_;
  }
  void End() {
    --depth_;
    Line("end");
  }
  void Prop(const std::string& name, const std::string& value) { Line(name + " = " + value); }
  void Prop(const std::string& name, long value) { Prop(name, std::to_string(value)); }
  void Str(const std::string& name, const std::string& value) { Prop(name, Quote(value)); }
  void Binary(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    Line(name + " = {");
    ++depth_;
    static const char* hex = "0123456789ABCDEF";
    for (size_t at = 0; at < bytes.size(); at += 32) {
      std::string row;
      for (size_t i = at; i < bytes.size() && i < at + 32; ++i) {
        row += hex[bytes[i] >> 4];
        row += hex[bytes[i] & 15];
      }
      Line(row);
    }
    --depth_;
    Line("}");
  }
  void Collection(const std::string& name) {
    Line(name + " = <");
    ++depth_;
  }
  void Item() {
    Line("item");
    ++depth_;
  }
  void EndItem() { End(); }
  void EndCollection() {
    --depth_;
    Line(">");
  }
  const std::string& Text() const { return out_; }

 private:
  // Quoted runs with '' for a quote; control bytes as #n.
  static std::string Quote(const std::string& s) {
    std::string q;
    bool open = false;
    for (unsigned char c : s) {
      if (c < 32) {
        if (open) q += '\'', open = false;
        q += "#" + std::to_string(c);
      } else {
        if (!open) q += '\'', open = true;
        q += static_cast<char>(c);
        if (c == '\'') q += '\'';
      }
    }
    if (open || q.empty()) q += q.empty() ? "''" : "'";
    return q;
  }
  void Line(const std::string& s) {
    out_.append(static_cast<size_t>(depth_) * 2, ' ');
    out_ += s;
    out_ += '\n';
  }
  std::string out_;
  int depth_ = 0;
};

// A picture as the class library stores it: the graphic's class name, length-prefixed, then the
// bitmap's own data.
std::vector<std::uint8_t> PictureData(const Image8& image) {
  std::vector<std::uint8_t> v = {4, 'T', 'D', 'I', 'B'};
  const std::vector<std::uint8_t> body = image.DibBody();
  v.insert(v.end(), body.begin(), body.end());
  return v;
}

// Every stored sound of both programs peaks at one level, kSoundPeak (Levels.h). They sound over
// the stage music and over each other, since every note burst, decoy contact and passing note
// starts one more copy of a sound while the earlier ones still ring. The level leaves room for
// the most sounds the game can start on one frame, peaks meeting, over the music's own peak.

struct StoredSound {
  std::string name;
  Voice voice;
  int rate;
  int samples;     // length, so every stored file has the size the sound lists were made for
  int formatSize;  // 16, or 18 with the extra-size field
};

Mono Fit(Mono m, int samples) {
  const size_t n = static_cast<size_t>(samples);
  if (m.size() > n) {
    m.resize(n);
    const size_t fade = std::min<size_t>(n, 441);
    for (size_t i = 0; i < fade; ++i) m[n - 1 - i] *= static_cast<float>(i) / fade;
  }
  m.resize(n, 0.0f);
  return m;
}

void WaveList(FormText& f, const std::vector<StoredSound>& sounds) {
  f.Collection("Items");
  for (const StoredSound& s : sounds) {
    f.Item();
    f.Str("Name", s.name);
    f.Prop("Looped", "False");
    f.Prop("MaxPlayingCount", 0);
    f.Binary("Wave.WAVE", WaveFile(Fit(WithPeak(Render(s.voice, s.rate), kSoundPeak), s.samples),
                                   s.rate, s.formatSize));
    f.EndItem();
  }
  f.EndCollection();
}

std::vector<std::uint8_t> GreyColorTable() {
  std::vector<std::uint8_t> t;
  for (int i = 0; i < 256; ++i)
    t.insert(t.end(), {std::uint8_t(i), std::uint8_t(i), std::uint8_t(i), 0});
  return t;
}

}  // namespace

std::string GameFormText() {
  FormText f;
  f.Object("Form1", "TForm1");
  f.Prop("BorderStyle", "bsNone");
  f.Str("Caption", "Morvane");
  f.Prop("ClientHeight", 448);
  f.Prop("ClientWidth", 512);
  f.Prop("Position", "poScreenCenter");
  f.Prop("OnCloseQuery", "FormCloseQuery");
  f.Prop("OnCreate", "FormCreate");
  f.Prop("OnDestroy", "FormDestroy");

  f.Object("DXDraw1", "TDXDraw");
  f.Prop("Left", 0);
  f.Prop("Top", 0);
  f.Prop("Width", 512);
  f.Prop("Height", 448);
  f.Prop("AutoInitialize", "False");
  f.Prop("AutoSize", "False");
  f.Prop("Display.FixedBitCount", "True");
  f.Prop("Display.FixedRatio", "True");
  f.Prop("Display.FixedSize", "False");
  f.Prop("Options",
         "[doAllowReboot, doWaitVBlank, doCenter, doDirectX7Mode, doHardware, doSelectDriver]");
  f.Prop("SurfaceHeight", 448);
  f.Prop("SurfaceWidth", 512);
  f.Prop("Align", "alClient");
  f.End();

  f.Object("ApplicationEvents1", "TApplicationEvents");
  f.Prop("OnIdle", "ApplicationEvents1Idle");
  f.End();

  f.Object("DXSpriteEngine1", "TDXSpriteEngine");
  f.Prop("DXDraw", "DXDraw1");
  f.End();

  f.Object("DXImageList1", "TDXImageList");
  f.Prop("DXDraw", "DXDraw1");
  f.Binary("Items.ColorTable", GreyColorTable());
  f.Collection("Items");
  for (const NamedPicture& p : GamePictures()) {
    f.Item();
    f.Str("Name", p.name);
    f.Prop("PatternHeight", p.patternWidth ? p.image.Height() : 0);
    f.Prop("PatternWidth", p.patternWidth);
    f.Binary("Picture.Data", PictureData(p.image));
    f.Prop("SystemMemory", "False");
    f.Prop("Transparent", "True");
    f.Prop("TransparentColor", static_cast<long>(p.transparentColor));
    f.EndItem();
  }
  f.EndCollection();
  f.End();

  f.Object("MediaPlayer1", "TMediaPlayer");
  f.Prop("Visible", "False");
  f.End();

  f.Object("Input1", "TDDIDEX");
  f.Prop("AutoInitialize", "False");
  f.Prop("DeadZone", 20);
  f.Prop("DebugOption", "[dioHaltOnError]");
  f.End();

  f.Object("DXSound1", "TDXSound");
  f.Prop("AutoInitialize", "False");
  f.Prop("Options", "[]");
  f.End();

  f.Object("DXWaveList1", "TDXWaveList");
  f.Prop("DXSound", "DXSound1");
  // One at 22.05 kHz, one with the 18-byte format chunk.
  WaveList(f, {{"Bass", Voice::Kick, 44100, 13297, 16},
               {"SmallHit", Voice::SmallHit, 44100, 45440, 16},
               {"BigHit", Voice::BigHit, 22050, 25244, 16},
               {"Snare", Voice::Snare, 44100, 22400, 16},
               {"End", Voice::End, 44100, 37596, 18}});
  f.End();

  f.End();
  return f.Text();
}

std::string EditorFormText() {
  FormText f;
  f.Object("Form1", "TForm1");
  f.Str("Caption", "Editor");
  f.Prop("Width", 359);
  f.Prop("Height", 603);
  f.Prop("KeyPreview", "True");
  f.Prop("Position", "poScreenCenter");
  f.Prop("OnCloseQuery", "FormCloseQuery");
  f.Prop("OnDestroy", "FormDestroy");
  f.Prop("OnKeyDown", "FormKeyDown");
  f.Prop("OnKeyUp", "FormKeyUp");
  f.Prop("OnShow", "FormShow");

  f.Object("BGM1", "TMediaPlayer");
  f.Prop("Visible", "False");
  f.End();

  f.Object("OD1", "TOpenDialog");
  f.End();

  f.Object("AE1", "TApplicationEvents");
  f.Prop("OnIdle", "AE1Idle");
  f.End();

  f.Object("DXDraw1", "TDXDraw");
  f.Prop("Left", 0);
  f.Prop("Top", 0);
  f.Prop("Width", 100);
  f.Prop("Height", 569);
  f.Prop("AutoInitialize", "True");
  f.Prop("AutoSize", "True");
  f.Prop(
      "Options",
      "[doAllowReboot, doWaitVBlank, doCenter, do3D, doDirectX7Mode, doHardware, doSelectDriver]");
  f.Prop("SurfaceHeight", 569);
  f.Prop("SurfaceWidth", 100);
  f.Prop("OnMouseDown", "DXDraw1MouseDown");
  f.Prop("OnMouseMove", "DXDraw1MouseMove");
  f.Prop("OnMouseUp", "DXDraw1MouseUp");
  f.End();

  f.Object("DXSound1", "TDXSound");
  f.Prop("AutoInitialize", "True");
  f.Prop("Options", "[soGlobalFocus]");
  f.End();

  f.Object("Sounds", "TDXWaveList");
  f.Prop("DXSound", "DXSound1");
  // Item k-1 sounds a note of kind k. Two at 22.05 kHz.
  WaveList(f, {{"Snare", Voice::Snare, 44100, 22400, 16},
               {"Bass", Voice::Kick, 44100, 13297, 16},
               {"Tom", Voice::Tom, 44100, 14227, 16},
               {"HH", Voice::HiHat, 44100, 6147, 16},
               {"Symbal", Voice::Cymbal, 22050, 45440, 16},
               {"Hit", Voice::Hit, 22050, 45440, 16},
               {"Clap", Voice::Clap, 44100, 4510, 16},
               {"Kan", Voice::Kan, 44100, 5007, 16}});
  f.End();

  f.Object("SpeedButton2", "TSpeedButton");
  f.Prop("Left", 161);
  f.Prop("Top", 24);
  f.Prop("Width", 95);
  f.Prop("Height", 112);
  f.Str("Caption", "save");
  f.Prop("OnClick", "SpeedButton2Click");
  f.End();

  f.Object("Speed1", "TTrackBar");
  f.Prop("Left", 106);
  f.Prop("Top", 486);
  f.Prop("Width", 227);
  f.Prop("Height", 30);
  f.Prop("Frequency", 3);
  f.Prop("Max", 30);
  f.Prop("Min", 1);
  f.Prop("Orientation", "trHorizontal");
  f.Prop("Position", 1);
  f.Prop("OnChange", "Speed1Change");
  f.End();

  f.Object("Label2", "TLabel");
  f.Prop("Left", 188);
  f.Prop("Top", 436);
  f.Str("Caption", "ゲームスピード");
  f.End();

  f.Object("Input1", "TDDIDEX");
  f.Prop("DebugOption", "[dioHaltOnError]");
  f.End();

  f.End();
  return f.Text();
}

std::string FormSource(const std::string& name, const std::string& text) {
  std::string s =
      "// Generated by the asset generator from assets/gen/Forms.cpp: do not edit.\n"
      "#include <string>\n\n"
      "#include \"assets/StoredForms.h\"\n"
      "#include \"platform/rtl/Classes.h\"\n\n"
      "namespace {\n"
      "// The text in pieces, since compilers limit the length of one string literal.\n"
      "const char* const kPieces[] = {\n";
  size_t at = 0;
  while (at < text.size()) {
    size_t end = std::min(text.size(), at + 16000);
    // Cut at a line end so a piece never splits a UTF-8 character.
    while (end < text.size() && text[end - 1] != '\n') ++end;
    s += "    R\"form(" + text.substr(at, end - at) + ")form\",\n";
    at = end;
  }
  s += "};\n}  // namespace\n\n";
  s += "const std::string& " + name +
       "Resource() {\n"
       "  static const std::string text = [] {\n"
       "    std::string t;\n"
       "    for (const char* piece : kPieces) t += piece;\n"
       "    return t;\n"
       "  }();\n"
       "  return text;\n"
       "}\n\n";
  s += "void Register" + name + "Resource() { RegisterFormResource(\"TForm1\", " + name +
       "Resource()); }\n";
  return s;
}

}  // namespace assets
