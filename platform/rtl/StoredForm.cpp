// Reading and writing stored forms.
//
// A stored form is text. Words are separated by any white space; line ends only matter for the
// line numbers in error messages. The writer lays the text out in one canonical way (two spaces
// of indent per level), so what it writes, read and written again, gives the same text.
//
//   object Form1: TForm1                     a component: its name and its class
//     Caption = 'Morvane'                    a property: name = value
//     Display.FixedBitCount = True           properties of a nested object, by dotted path
//     Left = -12                             integers, decimal or $hex ($FF)
//     AnimSpeed = 0.25                       floating point (also NaN, Inf, -Inf)
//     Title = 'It''s'#13#10'done'            strings: quoted runs ('' is a quote) joined with
//                                            #n bytes; the bytes are UTF-8
//     BorderStyle = bsNone                   an enumeration value, by name
//     Options = [doAllowReboot, doWaitVBlank]  a set, by element names
//     OnIdle = ApplicationEvents1Idle        an event: the name of a handler of the root
//     DXDraw = DXDraw1                       a reference to a component of the form (or nil)
//     Items.ColorTable = {                   binary data as hex digits, two per byte
//       00FF00A0...
//     }
//     Items = <                              a collection, one block per item
//       item
//         Name = 'Hero'
//         Picture.Data = {...}
//       end
//     >
//     object DXDraw1: TDXDraw                the components the root owns, nested inside the
//     end                                    component that is their parent (a control's form
//   end                                      or panel), else directly in the root
//
// The reader creates every component through the class registry, owned by the root. References
// between components are set only after the whole text is read, then Loaded runs. Nothing is
// allocated from a length written in the text; nesting is capped.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <set>

#include "platform/rtl/Classes.h"
#include "platform/rtl/Streams.h"

namespace {

constexpr int kMaxDepth = 32;      // nested objects and collection items
constexpr int kMaxPathParts = 16;  // parts of a dotted property path
constexpr int kHexBytesPerLine = 32;

bool IsIdentStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsIdentChar(char c) { return IsIdentStart(c) || (c >= '0' && c <= '9'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

TPropertyDefs PropertiesOf(TPersistent* Object) {
  TPropertyDefs defs;
  Object->DefineProperties(defs);
  return defs;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Reader

class TStoredFormReader {
 public:
  TStoredFormReader(TComponent* Root, const std::string& Text) : FRoot(Root), FText(Text) {}
  void Read();

 private:
  enum class TokKind { End, Ident, Integer, Float, String, Symbol };
  struct Token {
    TokKind Kind = TokKind::End;
    std::string Text;  // identifier or decoded string
    std::int64_t Int = 0;
    double Real = 0;
    char Sym = 0;
    int Line = 1;
    bool TooLarge = false;  // an integer beyond 64 bits, kept as a real
  };
  // One step from a component to the object a property belongs to: the nested object of a
  // property, then (ItemIndex >= 0) one item of that collection.
  struct Step {
    std::string Name;
    int ItemIndex = -1;
  };
  struct Fixup {
    TComponent* Base;
    std::vector<Step> Path;
    std::string Property;
    std::string Target;
    int Line;
  };

  [[noreturn]] void Error(int Line, const std::string& Message) const {
    throw EReadError(Format("Line %d: %s", {static_cast<std::int64_t>(Line), Message}));
  }
  [[noreturn]] void Unexpected(const Token& t, const std::string& Wanted) const {
    Error(t.Line, Wanted + " expected but " + Describe(t) + " found");
  }
  static std::string Describe(const Token& t);

  // Lexer
  void SkipSpace();
  Token Lex();
  const Token& Peek();
  Token Next();
  Token ExpectIdent(const std::string& What);
  void ExpectSymbol(char Sym);
  bool IsKeyword(const Token& t, const char* Word) const {
    return t.Kind == TokKind::Ident && SameText(t.Text, Word);
  }
  std::vector<std::uint8_t> ReadHex(int Line);

  // Parser
  void ReadHeader(std::string& Name, std::string& ClassName);
  void ReadBody(TComponent* Component, int Depth);
  void ReadChild(TComponent* Parent, int Depth);
  void ReadProperty(TPersistent* Object, TComponent* Base, const std::vector<Step>& Path,
                    const Token& First, int Depth);
  void ReadValue(TPersistent* Object, const TPropInfo& Prop, TComponent* Base,
                 const std::vector<Step>& Path, int Line, int Depth);
  void ReadCollection(TCollection* Collection, TComponent* Base, std::vector<Step> Path, int Depth);
  TPersistent* NestedObject(TPersistent* Object, const std::string& Name, int Line) const;
  std::int64_t ReadOrdinal(const TPropInfo& Prop, int Line);
  double ReadFloat(const TPropInfo& Prop, int Line);
  void ResolveFixups();
  void Cleanup();

  TComponent* FRoot;
  const std::string& FText;
  std::size_t FPos = 0;
  int FLine = 1;
  bool FHasPeek = false;
  Token FPeek;
  std::vector<TComponent*> FCreated;
  std::vector<Fixup> FFixups;
};

std::string TStoredFormReader::Describe(const Token& t) {
  switch (t.Kind) {
    case TokKind::End:
      return "the end of the text";
    case TokKind::Ident:
      return "'" + t.Text.substr(0, 40) + "'";
    case TokKind::Integer:
    case TokKind::Float:
      return "a number";
    case TokKind::String:
      return "a string";
    case TokKind::Symbol:
      break;
  }
  return std::string("'") + t.Sym + "'";
}

void TStoredFormReader::SkipSpace() {
  while (FPos < FText.size()) {
    const char c = FText[FPos];
    if (c == '\n') {
      ++FLine;
    } else if (c != ' ' && c != '\t' && c != '\r') {
      break;
    }
    ++FPos;
  }
}

TStoredFormReader::Token TStoredFormReader::Lex() {
  SkipSpace();
  Token t;
  t.Line = FLine;
  if (FPos >= FText.size()) return t;
  const char c = FText[FPos];
  const auto at = [this](std::size_t i) { return i < FText.size() ? FText[i] : '\0'; };

  if (IsIdentStart(c)) {
    const std::size_t start = FPos;
    while (FPos < FText.size() && IsIdentChar(FText[FPos])) ++FPos;
    t.Kind = TokKind::Ident;
    t.Text = FText.substr(start, FPos - start);
    return t;
  }

  const bool signedNumber =
      (c == '-' || c == '+') && (IsDigit(at(FPos + 1)) || at(FPos + 1) == '$');
  if (IsDigit(c) || c == '$' || signedNumber) {
    const std::size_t start = FPos;
    bool negative = false;
    if (c == '-' || c == '+') {
      negative = c == '-';
      ++FPos;
    }
    if (at(FPos) == '$') {
      ++FPos;
      std::uint64_t v = 0;
      std::size_t digits = 0;
      while (HexValue(at(FPos)) >= 0) {
        if (v > (std::numeric_limits<std::uint64_t>::max() >> 4)) Error(t.Line, "Number too large");
        v = v << 4 | static_cast<std::uint64_t>(HexValue(at(FPos)));
        ++FPos;
        ++digits;
      }
      if (digits == 0) Error(t.Line, "Hex digits expected after '$'");
      const std::uint64_t limit =
          negative ? std::uint64_t{1} << 63 : static_cast<std::uint64_t>(INT64_MAX);
      if (v > limit) Error(t.Line, "Number too large");
      t.Kind = TokKind::Integer;
      t.Int = negative ? static_cast<std::int64_t>(0 - v) : static_cast<std::int64_t>(v);
    } else {
      while (IsDigit(at(FPos))) ++FPos;
      bool real = false;
      if (at(FPos) == '.' && IsDigit(at(FPos + 1))) {
        real = true;
        ++FPos;
        while (IsDigit(at(FPos))) ++FPos;
      }
      if (at(FPos) == 'e' || at(FPos) == 'E') {
        std::size_t p = FPos + 1;
        if (at(p) == '-' || at(p) == '+') ++p;
        if (IsDigit(at(p))) {
          real = true;
          FPos = p;
          while (IsDigit(at(FPos))) ++FPos;
        }
      }
      const char* first = FText.data() + start + (FText[start] == '+' ? 1 : 0);
      const char* last = FText.data() + FPos;
      if (real) {
        t.Kind = TokKind::Float;
        auto r = std::from_chars(first, last, t.Real);
        if (r.ec != std::errc() || r.ptr != last) Error(t.Line, "Invalid number");
      } else {
        t.Kind = TokKind::Integer;
        auto r = std::from_chars(first, last, t.Int);
        if (r.ec == std::errc::result_out_of_range) {
          // Too large for an integer, but still a number a real property can take.
          t.Kind = TokKind::Float;
          t.TooLarge = true;
          auto f = std::from_chars(first, last, t.Real);
          if (f.ec != std::errc() || f.ptr != last) Error(t.Line, "Number too large");
        } else if (r.ec != std::errc() || r.ptr != last) {
          Error(t.Line, "Invalid number");
        }
      }
    }
    if (IsIdentChar(at(FPos))) Error(t.Line, "Invalid number");
    return t;
  }

  if (c == '\'' || c == '#') {
    t.Kind = TokKind::String;
    while (at(FPos) == '\'' || at(FPos) == '#') {
      if (FText[FPos] == '\'') {
        ++FPos;
        for (;;) {
          if (FPos >= FText.size() || FText[FPos] == '\n' || FText[FPos] == '\r') {
            Error(t.Line, "Unterminated string");
          }
          if (FText[FPos] == '\'') {
            if (at(FPos + 1) != '\'') break;
            ++FPos;
          }
          t.Text += FText[FPos++];
        }
        ++FPos;  // the closing quote
      } else {
        ++FPos;
        unsigned v = 0;
        std::size_t digits = 0;
        if (at(FPos) == '$') {
          ++FPos;
          while (HexValue(at(FPos)) >= 0 && v <= 255) {
            v = v * 16 + static_cast<unsigned>(HexValue(FText[FPos++]));
            ++digits;
          }
        } else {
          while (IsDigit(at(FPos)) && v <= 255) {
            v = v * 10 + static_cast<unsigned>(FText[FPos++] - '0');
            ++digits;
          }
        }
        if (digits == 0 || v > 255) Error(t.Line, "Invalid character code in a string");
        t.Text += static_cast<char>(v);
      }
    }
    return t;
  }

  if (std::strchr("=:.,[]<>{}-", c) != nullptr && c != '\0') {
    t.Kind = TokKind::Symbol;
    t.Sym = c;
    ++FPos;
    return t;
  }
  Error(t.Line, Format("Unexpected character #%d",
                       {static_cast<std::int64_t>(static_cast<unsigned char>(c))}));
}

const TStoredFormReader::Token& TStoredFormReader::Peek() {
  if (!FHasPeek) {
    FPeek = Lex();
    FHasPeek = true;
  }
  return FPeek;
}

TStoredFormReader::Token TStoredFormReader::Next() {
  if (FHasPeek) {
    FHasPeek = false;
    return std::move(FPeek);
  }
  return Lex();
}

TStoredFormReader::Token TStoredFormReader::ExpectIdent(const std::string& What) {
  Token t = Next();
  if (t.Kind != TokKind::Ident) Unexpected(t, What);
  return t;
}

void TStoredFormReader::ExpectSymbol(char Sym) {
  Token t = Next();
  if (t.Kind != TokKind::Symbol || t.Sym != Sym) Unexpected(t, std::string("'") + Sym + "'");
}

std::vector<std::uint8_t> TStoredFormReader::ReadHex(int Line) {
  // Called right after '{' was taken, with nothing looked ahead.
  std::vector<std::uint8_t> bytes;
  int high = -1;
  for (;;) {
    if (FPos >= FText.size()) Error(Line, "Unterminated binary data");
    const char c = FText[FPos++];
    if (c == '}') break;
    if (c == '\n') {
      ++FLine;
      continue;
    }
    if (c == ' ' || c == '\t' || c == '\r') continue;
    const int v = HexValue(c);
    if (v < 0) Error(FLine, "Invalid character in binary data");
    if (high < 0) {
      high = v;
    } else {
      bytes.push_back(static_cast<std::uint8_t>(high << 4 | v));
      high = -1;
    }
  }
  if (high >= 0) Error(Line, "Binary data has an odd number of hex digits");
  return bytes;
}

void TStoredFormReader::ReadHeader(std::string& Name, std::string& ClassName) {
  const Token name = ExpectIdent("A component name");
  // "nil" stands for no component in references, so no component may bear it.
  if (SameText(name.Text, "nil")) Error(name.Line, "nil cannot be a component name");
  Name = name.Text;
  ExpectSymbol(':');
  ClassName = ExpectIdent("A class name").Text;
}

void TStoredFormReader::Read() {
  const TComponentState rootState = FRoot->FComponentState;
  FRoot->FComponentState += TComponentState{csLoading, csReading};
  try {
    Token t = Next();
    if (!IsKeyword(t, "object")) Unexpected(t, "'object'");
    std::string name, className;
    ReadHeader(name, className);
    if (!SameText(className, FRoot->ClassName())) {
      Error(t.Line, Format("The stored form is of class %s, not %s",
                           {className, std::string(FRoot->ClassName())}));
    }
    try {
      FRoot->SetName(name);
    } catch (const EComponentError& e) {
      Error(t.Line, e.Message);
    }
    ReadBody(FRoot, 1);
    const Token last = Next();
    if (last.Kind != TokKind::End) Unexpected(last, "The end of the text");
    FRoot->FComponentState.Exclude(csReading);

    ResolveFixups();

    // Everything is read and linked: now each component may act on its stored state.
    FRoot->Loaded();
    FRoot->FComponentState.Exclude(csLoading);
    for (std::size_t i = 0; i < FCreated.size(); ++i) {
      TComponent* c = FCreated[i];
      c->Loaded();
      c->FComponentState.Exclude(csLoading);
    }
  } catch (...) {
    Cleanup();
    FRoot->FComponentState -= TComponentState{csLoading, csReading};
    FRoot->FComponentState += rootState * TComponentState{csLoading, csReading};
    throw;
  }
}

void TStoredFormReader::Cleanup() {
  // Last made, first freed; only what is still there (a setter may have freed something).
  for (auto it = FCreated.rbegin(); it != FCreated.rend(); ++it) {
    TComponent* c = *it;
    bool present = false;
    for (int i = 0; i < FRoot->ComponentCount(); ++i) {
      if (FRoot->Components(i) == c) {
        present = true;
        break;
      }
    }
    if (present) c->Free();
  }
  FCreated.clear();
  FFixups.clear();
}

void TStoredFormReader::ReadBody(TComponent* Component, int Depth) {
  for (;;) {
    Token t = Next();
    if (IsKeyword(t, "end")) return;
    if (IsKeyword(t, "object")) {
      ReadChild(Component, Depth + 1);
      continue;
    }
    if (t.Kind != TokKind::Ident) Unexpected(t, "A property, 'object' or 'end'");
    ReadProperty(Component, Component, {}, t, Depth);
  }
}

void TStoredFormReader::ReadChild(TComponent* Parent, int Depth) {
  const int line = FLine;
  if (Depth > kMaxDepth) Error(line, "Objects are nested too deeply");
  std::string name, className;
  ReadHeader(name, className);
  const TComponentClass* factory = GetClass(className);
  if (factory == nullptr) Error(line, Format("Class %s not found", {className}));
  TComponent* c = (*factory)(FRoot);
  if (c == nullptr) Error(line, Format("Class %s made no component", {className}));
  if (c->Owner() != FRoot) {
    // A factory that ignored the owner: the form could not free it later.
    c->Free();
    Error(line, Format("Class %s did not take the form as its owner", {className}));
  }
  FCreated.push_back(c);
  c->FComponentState += TComponentState{csLoading, csReading};
  try {
    c->SetName(name);
  } catch (const EComponentError& e) {
    Error(line, e.Message);
  }
  c->SetParentComponent(Parent);
  ReadBody(c, Depth);
  c->FComponentState.Exclude(csReading);
}

TPersistent* TStoredFormReader::NestedObject(TPersistent* Object, const std::string& Name,
                                             int Line) const {
  TPropertyDefs defs = PropertiesOf(Object);
  const TPropInfo* p = defs.Find(Name);
  if (p == nullptr) Error(Line, Format("Property %s does not exist", {Name}));
  if (p->Kind != TPropKind::Persistent && p->Kind != TPropKind::Collection) {
    Error(Line, Format("Property %s holds no object", {Name}));
  }
  TPersistent* nested = p->GetObject();
  if (nested == nullptr) Error(Line, Format("Property %s holds no object", {Name}));
  return nested;
}

void TStoredFormReader::ReadProperty(TPersistent* Object, TComponent* Base,
                                     const std::vector<Step>& Path, const Token& First, int Depth) {
  const int line = First.Line;
  std::vector<std::string> parts{First.Text};
  while (Peek().Kind == TokKind::Symbol && Peek().Sym == '.') {
    Next();
    parts.push_back(ExpectIdent("A property name").Text);
    if (static_cast<int>(parts.size()) > kMaxPathParts) Error(line, "Property path too long");
  }
  ExpectSymbol('=');

  std::vector<Step> path = Path;
  TPersistent* target = Object;
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    target = NestedObject(target, parts[i], line);
    path.push_back({parts[i], -1});
  }
  TPropertyDefs defs = PropertiesOf(target);
  const TPropInfo* prop = defs.Find(parts.back());
  if (prop == nullptr) Error(line, Format("Property %s does not exist", {parts.back()}));
  ReadValue(target, *prop, Base, path, line, Depth);
}

std::int64_t TStoredFormReader::ReadOrdinal(const TPropInfo& Prop, int Line) {
  Token t = Next();
  switch (Prop.Kind) {
    case TPropKind::Integer:
      if (t.Kind != TokKind::Integer && !t.TooLarge) Unexpected(t, "An integer");
      if (t.TooLarge || t.Int < Prop.MinValue || t.Int > Prop.MaxValue) {
        Error(t.Line, Format("Value out of range for property %s", {Prop.Name}));
      }
      return t.Int;
    case TPropKind::Boolean:
      if (IsKeyword(t, "True")) return 1;
      if (IsKeyword(t, "False")) return 0;
      Unexpected(t, "True or False");
    case TPropKind::Enum:
      if (t.Kind != TokKind::Ident) Unexpected(t, "A value name");
      for (std::size_t i = 0; i < Prop.Names.size(); ++i) {
        if (SameText(Prop.Names[i], t.Text)) return static_cast<std::int64_t>(i);
      }
      Error(t.Line, Format("Invalid value %s for property %s", {t.Text, Prop.Name}));
    case TPropKind::Set: {
      if (t.Kind != TokKind::Symbol || t.Sym != '[') Unexpected(t, "'['");
      std::uint64_t bits = 0;
      if (Peek().Kind == TokKind::Symbol && Peek().Sym == ']') {
        Next();
        return 0;
      }
      for (;;) {
        Token e = ExpectIdent("A set element");
        std::size_t i = 0;
        while (i < Prop.Names.size() && !SameText(Prop.Names[i], e.Text)) ++i;
        if (i >= Prop.Names.size() || i >= 64) {
          Error(e.Line, Format("Invalid element %s for property %s", {e.Text, Prop.Name}));
        }
        bits |= std::uint64_t{1} << i;
        Token sep = Next();
        if (sep.Kind == TokKind::Symbol && sep.Sym == ']') break;
        if (sep.Kind != TokKind::Symbol || sep.Sym != ',') Unexpected(sep, "',' or ']'");
      }
      return static_cast<std::int64_t>(bits);
    }
    default:
      break;
  }
  Error(Line, "Internal error: not an ordinal property");
}

double TStoredFormReader::ReadFloat(const TPropInfo& Prop, int Line) {
  Token t = Next();
  bool negative = false;
  if (t.Kind == TokKind::Symbol && t.Sym == '-') {
    negative = true;
    t = Next();
    if (!IsKeyword(t, "Inf")) Unexpected(t, "Inf");
  }
  if (IsKeyword(t, "Inf")) {
    return negative ? -std::numeric_limits<double>::infinity()
                    : std::numeric_limits<double>::infinity();
  }
  if (IsKeyword(t, "NaN")) return std::numeric_limits<double>::quiet_NaN();
  if (t.Kind == TokKind::Float) return t.Real;
  if (t.Kind == TokKind::Integer) return static_cast<double>(t.Int);
  Unexpected(t, "A number");
}

void TStoredFormReader::ReadValue(TPersistent* Object, const TPropInfo& Prop, TComponent* Base,
                                  const std::vector<Step>& Path, int Line, int Depth) {
  switch (Prop.Kind) {
    case TPropKind::Integer:
    case TPropKind::Boolean:
    case TPropKind::Enum:
    case TPropKind::Set: {
      const std::int64_t v = ReadOrdinal(Prop, Line);
      if (!Prop.SetOrd) Error(Line, Format("Property %s cannot be set", {Prop.Name}));
      Prop.SetOrd(v);
      return;
    }
    case TPropKind::Float: {
      const double v = ReadFloat(Prop, Line);
      if (!Prop.SetFloat) Error(Line, Format("Property %s cannot be set", {Prop.Name}));
      Prop.SetFloat(v);
      return;
    }
    case TPropKind::String: {
      Token t = Next();
      if (t.Kind != TokKind::String) Unexpected(t, "A string");
      if (!Prop.SetString) Error(Line, Format("Property %s cannot be set", {Prop.Name}));
      Prop.SetString(t.Text);
      return;
    }
    case TPropKind::Component: {
      Token t = ExpectIdent("A component name");
      FFixups.push_back({Base, Path, Prop.Name, t.Text, t.Line});
      return;
    }
    case TPropKind::Event: {
      Token t = ExpectIdent("An event handler name");
      if (!Prop.SetHandler) Error(Line, Format("Property %s cannot be set", {Prop.Name}));
      if (IsKeyword(t, "nil")) {
        Prop.SetHandler(nullptr, std::string());
        return;
      }
      const std::any* handler = FRoot->FindMethod(t.Text);
      if (handler == nullptr) Error(t.Line, Format("Event handler %s not found", {t.Text}));
      if (!Prop.SetHandler(handler, t.Text)) {
        Error(t.Line, Format("Event handler %s does not fit event %s", {t.Text, Prop.Name}));
      }
      return;
    }
    case TPropKind::Collection: {
      ExpectSymbol('<');
      auto* collection = dynamic_cast<TCollection*>(Prop.GetObject());
      if (collection == nullptr) Error(Line, Format("Property %s holds no object", {Prop.Name}));
      std::vector<Step> path = Path;
      path.push_back({Prop.Name, -1});
      ReadCollection(collection, Base, std::move(path), Depth);
      return;
    }
    case TPropKind::Binary: {
      ExpectSymbol('{');
      std::vector<std::uint8_t> bytes = ReadHex(Line);
      if (!Prop.ReadData) Error(Line, Format("Property %s cannot be read", {Prop.Name}));
      // The owner sees exactly this property's bytes, from their start.
      TMemoryStream data;
      if (!bytes.empty()) data.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
      data.SetPosition(0);
      Prop.ReadData(&data);
      return;
    }
    case TPropKind::Persistent:
      break;
  }
  Error(Line, Format("Property %s cannot be given a value", {Prop.Name}));
}

void TStoredFormReader::ReadCollection(TCollection* Collection, TComponent* Base,
                                       std::vector<Step> Path, int Depth) {
  if (Depth + 1 > kMaxDepth) Error(FLine, "Objects are nested too deeply");
  Collection->BeginUpdate();
  try {
    Collection->Clear();
    for (;;) {
      Token t = Next();
      if (t.Kind == TokKind::Symbol && t.Sym == '>') break;
      if (!IsKeyword(t, "item")) Unexpected(t, "'item' or '>'");
      TCollectionItem* item = Collection->Add();
      Path.back().ItemIndex = item->Index();
      for (;;) {
        Token p = Next();
        if (IsKeyword(p, "end")) break;
        if (p.Kind != TokKind::Ident) Unexpected(p, "A property or 'end'");
        ReadProperty(item, Base, Path, p, Depth + 1);
      }
    }
  } catch (...) {
    Collection->EndUpdate();
    throw;
  }
  Collection->EndUpdate();
}

void TStoredFormReader::ResolveFixups() {
  for (const Fixup& f : FFixups) {
    TPersistent* object = f.Base;
    for (const Step& s : f.Path) {
      object = NestedObject(object, s.Name, f.Line);
      if (s.ItemIndex >= 0) {
        auto* collection = dynamic_cast<TCollection*>(object);
        if (collection == nullptr || s.ItemIndex >= collection->Count()) {
          Error(f.Line,
                Format("Item %d of %s is gone", {static_cast<std::int64_t>(s.ItemIndex), s.Name}));
        }
        object = collection->Items(s.ItemIndex);
      }
    }
    TPropertyDefs defs = PropertiesOf(object);
    const TPropInfo* prop = defs.Find(f.Property);
    if (prop == nullptr || prop->Kind != TPropKind::Component || !prop->SetComponent) {
      Error(f.Line, Format("Property %s cannot be set", {f.Property}));
    }
    TComponent* target = nullptr;
    if (!SameText(f.Target, "nil")) {
      target = SameText(f.Target, FRoot->Name()) ? FRoot : FRoot->FindComponent(f.Target);
      if (target == nullptr) Error(f.Line, Format("Component %s not found", {f.Target}));
    }
    if (!prop->SetComponent(target)) {
      Error(f.Line, Format("Component %s (%s) does not fit property %s",
                           {f.Target, std::string(target->ClassName()), f.Property}));
    }
  }
  FFixups.clear();
}

void ReadStoredForm(TComponent* Root, const std::string& Text) {
  TStoredFormReader reader(Root, Text);
  reader.Read();
}

// ---------------------------------------------------------------------------------------------
// Writer

class TStoredFormWriter {
 public:
  explicit TStoredFormWriter(TComponent* Root) : FRoot(Root) {}
  std::string Write();

 private:
  void Line(int Indent, const std::string& Text);
  void WriteObject(TComponent* Component, int Indent);
  void WriteProperties(TPersistent* Object, const std::string& Prefix, int Indent, int Depth);
  void WriteCollection(TCollection* Collection, const std::string& Name, int Indent, int Depth);
  std::string OrdinalText(const TPropInfo& Prop, std::int64_t Value, const std::string& Path);
  static std::string FloatText(double Value);
  static std::string StringText(const std::string& Value);
  TComponent* ParentInForm(TComponent* Component) const;

  TComponent* FRoot;
  std::string FOut;
  std::set<TComponent*> FWritten;
};

void TStoredFormWriter::Line(int Indent, const std::string& Text) {
  FOut.append(static_cast<std::size_t>(Indent) * 2, ' ');
  FOut += Text;
  FOut += '\n';
}

std::string TStoredFormWriter::FloatText(double Value) {
  if (std::isnan(Value)) return "NaN";
  if (std::isinf(Value)) return Value < 0 ? "-Inf" : "Inf";
  // The shortest text that reads back as the very same double.
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, Value);
  std::string text(buf, r.ptr);
  // A whole number gets a point, so that it reads back as a real however large it is.
  if (text.find_first_of(".e") == std::string::npos) text += ".0";
  return text;
}

std::string TStoredFormWriter::StringText(const std::string& Value) {
  if (Value.empty()) return "''";
  std::string out;
  bool quoted = false;
  for (char ch : Value) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F) {
      if (quoted) out += '\'';
      quoted = false;
      out += '#' + std::to_string(c);
      continue;
    }
    if (!quoted) out += '\'';
    quoted = true;
    if (ch == '\'') out += '\'';
    out += ch;
  }
  if (quoted) out += '\'';
  return out;
}

std::string TStoredFormWriter::OrdinalText(const TPropInfo& Prop, std::int64_t Value,
                                           const std::string& Path) {
  switch (Prop.Kind) {
    case TPropKind::Boolean:
      return Value != 0 ? "True" : "False";
    case TPropKind::Enum:
      if (Value < 0 || Value >= static_cast<std::int64_t>(Prop.Names.size())) {
        throw EWriteError(Format("Property %s has a value without a name (%d)",
                                 {Path, static_cast<std::int64_t>(Value)}));
      }
      return Prop.Names[static_cast<std::size_t>(Value)];
    case TPropKind::Set: {
      std::string out = "[";
      const auto bits = static_cast<std::uint64_t>(Value);
      for (std::size_t i = 0; i < 64; ++i) {
        if ((bits >> i & 1u) == 0) continue;
        if (i >= Prop.Names.size()) {
          throw EWriteError(Format("Property %s holds an element without a name (%d)",
                                   {Path, static_cast<std::int64_t>(i)}));
        }
        if (out.size() > 1) out += ", ";
        out += Prop.Names[i];
      }
      return out + "]";
    }
    default:
      return std::to_string(Value);
  }
}

TComponent* TStoredFormWriter::ParentInForm(TComponent* Component) const {
  TComponent* parent = Component->GetParentComponent();
  if (parent == nullptr || parent == FRoot || parent->Owner() != FRoot) return FRoot;
  return parent;
}

std::string TStoredFormWriter::Write() {
  WriteObject(FRoot, 0);
  return FOut;
}

void TStoredFormWriter::WriteObject(TComponent* Component, int Indent) {
  if (SameText(Component->Name(), "nil")) throw EWriteError("nil cannot be a component name");
  if (Component->Name().empty()) {
    throw EWriteError(
        Format("A component of class %s has no name", {std::string(Component->ClassName())}));
  }
  if (Indent > kMaxDepth) throw EWriteError("Components are nested too deeply");
  FWritten.insert(Component);
  Line(Indent, "object " + Component->Name() + ": " + Component->ClassName());
  const bool wasWriting = Component->FComponentState.Contains(csWriting);
  Component->FComponentState.Include(csWriting);
  try {
    WriteProperties(Component, "", Indent + 1, 0);
  } catch (...) {
    if (!wasWriting) Component->FComponentState.Exclude(csWriting);
    throw;
  }
  if (!wasWriting) Component->FComponentState.Exclude(csWriting);

  // The components of the form whose parent this is, in the form's order (which is the order
  // the reader creates them in).
  for (int i = 0; i < FRoot->ComponentCount(); ++i) {
    TComponent* c = FRoot->Components(i);
    if (FWritten.count(c) == 0 && ParentInForm(c) == Component) WriteObject(c, Indent + 1);
  }
  // Parents that form a loop would hide their members; such components go to the root.
  if (Component == FRoot) {
    for (int i = 0; i < FRoot->ComponentCount(); ++i) {
      TComponent* c = FRoot->Components(i);
      if (FWritten.count(c) == 0) WriteObject(c, Indent + 1);
    }
  }
  Line(Indent, "end");
}

void TStoredFormWriter::WriteProperties(TPersistent* Object, const std::string& Prefix, int Indent,
                                        int Depth) {
  if (Depth > kMaxPathParts) throw EWriteError("Nested objects are too deep: " + Prefix);
  TPropertyDefs defs = PropertiesOf(Object);
  for (const TPropInfo& p : defs.Items()) {
    if (p.IsStored && !p.IsStored()) continue;
    const std::string path = Prefix + p.Name;
    switch (p.Kind) {
      case TPropKind::Integer:
      case TPropKind::Boolean:
      case TPropKind::Enum:
      case TPropKind::Set: {
        if (!p.GetOrd) break;
        const std::int64_t v = p.GetOrd();
        if (p.HasDefault && v == p.DefaultOrd) break;
        Line(Indent, path + " = " + OrdinalText(p, v, path));
        break;
      }
      case TPropKind::Float: {
        if (!p.GetFloat) break;
        const double v = p.GetFloat();
        if (p.HasDefault && v == p.DefaultFloat) break;
        Line(Indent, path + " = " + FloatText(v));
        break;
      }
      case TPropKind::String: {
        if (!p.GetString) break;
        const std::string v = p.GetString();
        if (p.HasDefault ? v == p.DefaultString : v.empty()) break;
        Line(Indent, path + " = " + StringText(v));
        break;
      }
      case TPropKind::Component: {
        TComponent* c = p.GetComponent ? p.GetComponent() : nullptr;
        if (c == nullptr) break;
        if (c != FRoot && (c->Owner() != FRoot || c->Name().empty())) {
          throw EWriteError(Format("Property %s refers to a component outside the form", {path}));
        }
        Line(Indent, path + " = " + c->Name());
        break;
      }
      case TPropKind::Event: {
        // Handlers set in code have no name to store and are left out.
        const std::string name = p.GetHandlerName ? p.GetHandlerName() : std::string();
        if (!name.empty()) Line(Indent, path + " = " + name);
        break;
      }
      case TPropKind::Persistent: {
        TPersistent* nested = p.GetObject ? p.GetObject() : nullptr;
        if (nested != nullptr) WriteProperties(nested, path + ".", Indent, Depth + 1);
        break;
      }
      case TPropKind::Collection: {
        auto* collection = dynamic_cast<TCollection*>(p.GetObject ? p.GetObject() : nullptr);
        if (collection == nullptr) break;
        WriteProperties(collection, path + ".", Indent, Depth + 1);
        if (collection->Count() > 0 || p.IsStored) {
          WriteCollection(collection, path, Indent, Depth + 1);
        }
        break;
      }
      case TPropKind::Binary: {
        if (!p.HasData || !p.WriteData) break;
        TMemoryStream data;
        p.WriteData(&data);
        const auto size = static_cast<std::size_t>(data.Size());
        if (size == 0) {
          Line(Indent, path + " = {}");
          break;
        }
        Line(Indent, path + " = {");
        static const char kHex[] = "0123456789ABCDEF";
        const std::uint8_t* bytes = data.Memory();
        for (std::size_t i = 0; i < size; i += kHexBytesPerLine) {
          std::string row;
          const std::size_t n = std::min<std::size_t>(kHexBytesPerLine, size - i);
          for (std::size_t k = 0; k < n; ++k) {
            row += kHex[bytes[i + k] >> 4];
            row += kHex[bytes[i + k] & 15];
          }
          Line(Indent + 1, row);
        }
        Line(Indent, "}");
        break;
      }
    }
  }
}

void TStoredFormWriter::WriteCollection(TCollection* Collection, const std::string& Name,
                                        int Indent, int Depth) {
  if (Collection->Count() == 0) {
    Line(Indent, Name + " = <>");
    return;
  }
  Line(Indent, Name + " = <");
  for (int i = 0; i < Collection->Count(); ++i) {
    Line(Indent + 1, "item");
    WriteProperties(Collection->Items(i), "", Indent + 2, Depth);
    Line(Indent + 1, "end");
  }
  Line(Indent, ">");
}

std::string WriteStoredForm(TComponent* Root) {
  TStoredFormWriter writer(Root);
  return writer.Write();
}
