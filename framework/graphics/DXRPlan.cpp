#include "framework/graphics/DXRPlan.h"

#include <cstdint>
#include <cstring>

#include "framework/graphics/DXRBlendOps.h"
#include "framework/graphics/DXRMachine.h"
#include "framework/graphics/DXRTables.h"

namespace {

inline void SetHi(WORD& W, unsigned V) { W = static_cast<WORD>((W & 0x00FF) | ((V & 0xFF) << 8)); }

inline DWORD Load(const BYTE* P, DWORD BitCount) {
  switch (BitCount) {
    case 8:
      return P[0];
    case 16: {
      WORD w;
      std::memcpy(&w, P, 2);
      return w;
    }
    case 24:
      return DWORD{P[0]} | (DWORD{P[1]} << 8) | (DWORD{P[2]} << 16);
    case 32: {
      DWORD d;
      std::memcpy(&d, P, 4);
      return d;
    }
    default:
      return 0;
  }
}

inline void Store(BYTE* P, DWORD BitCount, DWORD V) {
  switch (BitCount) {
    case 8:
      P[0] = static_cast<BYTE>(V);
      return;
    case 16: {
      const WORD w = static_cast<WORD>(V);
      std::memcpy(P, &w, 2);
      return;
    }
    case 24:
      P[0] = static_cast<BYTE>(V);
      P[1] = static_cast<BYTE>(V >> 8);
      P[2] = static_cast<BYTE>(V >> 16);
      return;
    case 32:
      std::memcpy(P, &V, 4);
      return;
    default:
      return;
  }
}

inline bool KeyMatches(const DXRKeyTest& K, DWORD Texel) {
  return K.Active && (Texel & K.KeyMask) == K.ColorKey;
}

// ---------------------------------------------------------------------------------------------
// Pixel pieces, inlined into the steps

template <DWORD Bits>
inline DWORD ReadTexel(const BYTE* Row, DWORD C) {
  if constexpr (Bits == 1) {
    return (Row[C >> 3] >> (7 - (C & 7))) & 1;
  } else if constexpr (Bits == 2) {
    return (Row[C >> 2] >> (6 - 2 * (C & 3))) & 3;
  } else if constexpr (Bits == 4) {
    return (C & 1) ? (Row[C >> 1] & 0x0F) : (Row[C >> 1] >> 4);
  } else {
    return Load(Row + static_cast<std::ptrdiff_t>(C) * (Bits / 8), Bits);
  }
}

// Mode 0 wraps, 1 stays inside the picture (false outside it).
template <DWORD Bits, BYTE Mode>
inline bool Fetch(const DXRFetch& F, DWORD U, DWORD V, DWORD& Pixel) {
  DWORD c = U >> 16, r = V >> 16;
  if constexpr (Mode == 0) {
    c &= F.WidthMask;
    r &= F.HeightMask;
  } else {
    if (c >= F.Width || r >= F.Height) return false;
  }
  Pixel = ReadTexel<Bits>(F.Bits + static_cast<std::ptrdiff_t>(r) * F.Pitch, c);
  return true;
}

[[gnu::always_inline]] inline void DecodeRGB(const DXRDecode& D, DWORD P, DXRChannelGroup& G) {
  for (int k = 0; k < 4; ++k) {
    const DWORD e = (((P & D.Bits[k]) >> D.Right[k]) << D.Left[k]) & 0xFF;
    G.W[k] = static_cast<WORD>((G.W[k] & D.Keep[k]) | ((e << 8) & D.Take[k]) | D.Fill[k]);
  }
}

inline void DecodeIndexed(const DXRDecode& D, DWORD P, DXRChannelGroup& G) {
  const BYTE mask = D.Mask;
  if (mask & DXR_CHANNELS_RGB) {
    if (D.Channels[0].Mask != 0) {
      const DWORD index = D.DirectIndex ? P : DXRExtractChannel(D.Channels[0], P);
      const BYTE* e = D.Palette[index & 0xFF];
      SetHi(G.W[DXR_WORD_R], e[0]);
      SetHi(G.W[DXR_WORD_G], e[1]);
      SetHi(G.W[DXR_WORD_B], e[2]);
    } else {
      for (int k = 0; k < 3; ++k) G.W[k] = D.Defaults.W[k];
    }
  }
  if (mask & DXR_CHANNEL_A) {
    if (D.Channels[1].Mask != 0)
      SetHi(G.W[DXR_WORD_A], DXRExtractChannel(D.Channels[1], P));
    else
      G.W[DXR_WORD_A] = D.Defaults.W[DXR_WORD_A];
  }
}

[[gnu::always_inline]] inline void Decode(const DXRDecode& D, DWORD P, DXRChannelGroup& G) {
  if (D.ColorType == DXR_COLORTYPE_RGB)
    DecodeRGB(D, P, G);
  else if (D.ColorType == DXR_COLORTYPE_INDEXED && D.Mask != 0)
    DecodeIndexed(D, P, G);
}

[[gnu::always_inline]] inline DWORD PackPlain(const DXRPack& Pack, const DXRChannelGroup& G) {
  DWORD pixel = 0;
  for (int k = 0; k < 4; ++k)
    pixel |= ((DWORD{G.W[k]} >> 8 << Pack.Right[k]) >> Pack.Left[k]) & Pack.Bits[k];
  return pixel;
}

// ---------------------------------------------------------------------------------------------
// Steps

bool ZeroStep(const DXRStep& S, DXRRunState&) {
  *S.Result = DXRChannelGroup{};
  return true;
}

template <DWORD Bits, BYTE Mode>
bool NearestReadStep(const DXRStep& S, DXRRunState& St) {
  if (!Fetch<Bits, Mode>(S.Fetch, static_cast<DWORD>(S.Stage->U), static_cast<DWORD>(S.Stage->V),
                         St.Pixel))
    return false;
  if (KeyMatches(S.Key, St.Pixel)) return false;
  Decode(S.Decode, St.Pixel, *S.Result);
  return true;
}

template <DWORD Bits, BYTE Mode>
bool RawReadStep(const DXRStep& S, DXRRunState& St) {
  if (!Fetch<Bits, Mode>(S.Fetch, static_cast<DWORD>(S.Stage->U), static_cast<DWORD>(S.Stage->V),
                         St.Pixel))
    return false;
  return !KeyMatches(S.Key, St.Pixel);
}

// A stage whose fetch reads nothing: the pixel value stays what it was.
bool NoFetchReadStep(const DXRStep& S, DXRRunState& St) {
  if (KeyMatches(S.Key, St.Pixel)) return false;
  Decode(S.Decode, St.Pixel, *S.Result);
  return true;
}
bool NoFetchRawStep(const DXRStep& S, DXRRunState& St) { return !KeyMatches(S.Key, St.Pixel); }

// The texel depths a fetch reads; every depth dispatch below covers the same list.
#define MORVANE_DXR_FETCH_DEPTHS(X) X(1) X(2) X(4) X(8) X(16) X(24) X(32)

template <template <DWORD, BYTE> class Proc>
DXRStepProc FetchProc(const DXRFetch& F, DXRStepProc None) {
  const int mode = F.Mode;
  if (mode > 1) return None;
  switch (F.BitCount) {
#define MORVANE_DXR_BITS(B) \
  case B:                   \
    return mode == 0 ? &Proc<B, 0>::Run : &Proc<B, 1>::Run;
    MORVANE_DXR_FETCH_DEPTHS(MORVANE_DXR_BITS)
#undef MORVANE_DXR_BITS
    default:
      return None;
  }
}

template <DWORD Bits, BYTE Mode>
struct NearestProc {
  static bool Run(const DXRStep& S, DXRRunState& St) { return NearestReadStep<Bits, Mode>(S, St); }
};
template <DWORD Bits, BYTE Mode>
struct RawProc {
  static bool Run(const DXRStep& S, DXRRunState& St) { return RawReadStep<Bits, Mode>(S, St); }
};

bool BilinearReadStep(const DXRStep& S, DXRRunState& St) {
  TDXRMachine& m = *St.Machine;
  const DWORD u = static_cast<DWORD>(S.Stage->U), v = static_cast<DWORD>(S.Stage->V);
  constexpr DWORD one = 0x10000;
  DXRChannelGroup* g = m.BilinearScratch;  // A, B, C, D
  // Only the first texel is tested against the key.
  if (!DXRFetchTexel(S.Fetch, u, v, St.Pixel)) return false;
  if (KeyMatches(S.Key, St.Pixel)) return false;
  Decode(S.Decode, St.Pixel, g[0]);
  if (!DXRFetchTexel(S.Fetch, u + one, v, St.Pixel)) return false;
  Decode(S.Decode, St.Pixel, g[1]);
  if (!DXRFetchTexel(S.Fetch, u + one, v + one, St.Pixel)) return false;
  Decode(S.Decode, St.Pixel, g[3]);
  if (!DXRFetchTexel(S.Fetch, u, v + one, St.Pixel)) return false;
  Decode(S.Decode, St.Pixel, g[2]);
  // The weights are 255 - f and f, so the four of them sum to 255 * 255, not 65536.
  const unsigned fu = (u >> 8) & 0xFF, fv = (v >> 8) & 0xFF;
  for (int k = 0; k < 4; ++k) {
    if (!((S.Mask >> k) & 1)) continue;
    const unsigned a = g[0].W[k] >> 8, b = g[1].W[k] >> 8, c = g[2].W[k] >> 8, d = g[3].W[k] >> 8;
    const unsigned top = a * (255 - fu) + b * fu;
    const unsigned bottom = c * (255 - fu) + d * fu;
    SetHi(S.Result->W[k], (top * (255 - fv) + bottom * fv) >> 16);
  }
  return true;
}

// Stage A read at coordinates displaced by the differences of stage B's raw texels around the
// current point.
bool TwoStageReadStep(const DXRStep& S, DXRRunState& St) {
  TDXRMachine& m = *St.Machine;
  const DXRTextureStage& a = *S.Stage;
  const DXRTextureStage& b = *S.Stage2;
  const DWORD bu = static_cast<DWORD>(b.U), bv = static_cast<DWORD>(b.V);
  const DWORD su = static_cast<DWORD>(b.StepU), sv = static_cast<DWORD>(b.StepV);
  DWORD p1, p2, p3, p4;
  if (!DXRFetchTexel(S.Fetch2, bu - su, bv, St.Pixel)) return false;
  p1 = St.Pixel;
  if (!DXRFetchTexel(S.Fetch2, bu, bv, St.Pixel)) return false;
  p2 = St.Pixel;
  const DWORD u = static_cast<DWORD>(a.U) + ((p2 - p1) << 16);
  if (!DXRFetchTexel(S.Fetch2, bu, bv - sv, St.Pixel)) return false;
  p3 = St.Pixel;
  if (!DXRFetchTexel(S.Fetch2, bu, bv - 3 * sv, St.Pixel)) return false;
  p4 = St.Pixel;
  const DWORD v = static_cast<DWORD>(a.V) + ((p4 - p3) << 16);
  m.PairU = static_cast<int>(u);
  m.PairV = static_cast<int>(v);
  if (!DXRFetchTexel(S.Fetch, u, v, St.Pixel)) return false;
  if (KeyMatches(S.Key, St.Pixel)) return false;
  DXRDecodePixel(S.Decode, St.Pixel, *S.Result);
  return true;
}

template <DWORD Bits>
bool DestReadStep(const DXRStep& S, DXRRunState& St) {
  if constexpr (Bits == 8 || Bits == 16 || Bits == 24 || Bits == 32)
    St.Pixel = Load(St.DestPtr, Bits);
  Decode(S.Decode, St.Pixel, *S.Result);
  return true;
}

DXRStepProc DestReadProc(DWORD Bits) {
  switch (Bits) {
    case 8:
      return &DestReadStep<8>;
    case 16:
      return &DestReadStep<16>;
    case 24:
      return &DestReadStep<24>;
    case 32:
      return &DestReadStep<32>;
    default:
      return &DestReadStep<0>;
  }
}

// ---------------------------------------------------------------------------------------------
// Compiling

DXRFetch FetchOf(const DXRTextureStage& T) {
  const DXRSurface& s = *T.Surface;
  DXRFetch f;
  f.Bits = s.Bits;
  f.Pitch = s.Pitch;
  f.WidthMask = s.WidthMask;
  f.HeightMask = s.HeightMask;
  f.Width = static_cast<DWORD>(s.Width);
  f.Height = static_cast<DWORD>(s.Height);
  f.BitCount = s.BitCount;
  f.Mode = T.NoWrap == 0 ? 0 : T.NoWrap == 1 ? 1 : 2;
  return f;
}

DXRKeyTest KeyOf(const DXRTextureStage& T) {
  const DXRSurface& s = *T.Surface;
  DXRKeyTest k;
  k.Active = T.Transparent != 0;
  k.ColorKey = T.ColorKey;
  // Alpha bits are never part of the key; neither is the spare top byte of a 32-bit pixel.
  DWORD mask = ~s.AlphaChannel().Mask;
  if (s.BitCount == 32) mask &= 0x00FFFFFF;
  k.KeyMask = mask;
  return k;
}

struct Emitter {
  TDXRMachine& M;
  TDXRPlan& P;
  bool Words;

  void NoteWords(bool Emitted) {
    if (Emitted) M.MMXUsed = true;
  }

  void TextureRead(DXRChannelGroup* Result, DXRTextureStage& T, BYTE Mask) {
    if (Mask == 0) return;
    DXRStep& s = P.Steps.emplace_back();
    s.Result = Result;
    s.Stage = &T;
    s.Mask = Mask;
    s.Fetch = FetchOf(T);
    DXRFillDecode(s.Decode, *T.Surface, T.Defaults, Mask);
    s.Key = KeyOf(T);
    s.Proc = (T.Filter == 1 || T.Filter == 3) ? &BilinearReadStep
                                              : FetchProc<NearestProc>(s.Fetch, &NoFetchReadStep);
  }

  void TwoStageRead(DXRChannelGroup* Result, DXRTextureStage& A, DXRTextureStage& B, BYTE Mask) {
    if (Mask == 0) return;
    DXRStep& s = P.Steps.emplace_back();
    s.Proc = &TwoStageReadStep;
    s.Result = Result;
    s.Stage = &A;
    s.Stage2 = &B;
    s.Mask = Mask;
    s.Fetch = FetchOf(A);
    s.Fetch2 = FetchOf(B);
    DXRFillDecode(s.Decode, *A.Surface, A.Defaults, Mask);
    s.Key = KeyOf(A);
  }

  void DestRead(DXRChannelGroup* Result, BYTE Mask) {
    if (Mask == 0) return;
    DXRStep& s = P.Steps.emplace_back();
    s.Proc = DestReadProc(M.Dest->BitCount);
    s.Result = Result;
    s.Mask = Mask;
    s.Fetch.BitCount = M.Dest->BitCount;
    DXRFillDecode(s.Decode, *M.Dest, DXRZeroGroup, Mask);
  }

  void Copy(DXRChannelGroup* Result, const DXRChannelGroup* Source, BYTE Mask) {
    NoteWords(DXREmitBlendOp(P, DXR_BLEND_LEFT, Result, Source, nullptr, Mask, Words));
  }

  // The group holding an operand's value at run time.
  const DXRChannelGroup* Operand(DXRNode* N) {
    if (!N) return nullptr;
    switch (N->Kind) {
      case DXR_NODE_NONE:
        return &DXRZeroGroup;
      case DXR_NODE_COLORSLOT:
        return &M.ColorSlots[N->Value].Color;
      case DXR_NODE_LITERAL:
        return &N->Color;
      case DXR_NODE_TEXTURE: {
        // Channels the surface lacks are its defaults, set once now and never read per pixel.
        DXRTextureStage& t = M.TextureStages[N->Value];
        DXRChannelGroup* temp = M.AllocTemp();
        const BYTE lacking = N->ChannelMask & ~t.Channels;
        for (int k = 0; k < 4; ++k)
          if ((lacking >> k) & 1) temp->W[k] = t.Defaults.W[k];
        if (lacking) P.Presets.push_back({temp, lacking, t.Defaults});
        TextureRead(temp, t, static_cast<BYTE>(N->ChannelMask & ~lacking));
        return temp;
      }
      default:
        return Node(N);
    }
  }

  // Emits a node into a fresh temporary, taken before its operands' (so temporaries are
  // numbered in pre-order).
  DXRChannelGroup* Node(DXRNode* N) {
    DXRChannelGroup* temp = M.AllocTemp();
    switch (N->Kind) {
      case DXR_NODE_NONE: {
        DXRStep& s = P.Steps.emplace_back();
        s.Proc = &ZeroStep;
        s.Result = temp;
        break;
      }
      case DXR_NODE_COLORSLOT:
        Copy(temp, &M.ColorSlots[N->Value].Color, N->ChannelMask);
        break;
      case DXR_NODE_LITERAL:
        Copy(temp, &N->Color, N->ChannelMask);
        break;
      case DXR_NODE_TEXTURE:
        TextureRead(temp, M.TextureStages[N->Value], N->ChannelMask);
        break;
      case DXR_NODE_TEXTUREPAIR:
        TwoStageRead(temp, M.TextureStages[N->Value], M.TextureStages[N->SecondStage],
                     N->ChannelMask);
        break;
      case DXR_NODE_DEST:
        DestRead(temp, N->ChannelMask);
        break;
      case DXR_NODE_BLEND: {
        const DXRChannelGroup* left = Operand(N->Left);
        const DXRChannelGroup* right = Operand(N->Right);
        NoteWords(DXREmitBlendOp(P, static_cast<DXRBlendOp>(N->Value & 127), temp, left, right,
                                 N->ChannelMask, Words));
        break;
      }
      default:
        break;
    }
    return temp;
  }
};

// ---------------------------------------------------------------------------------------------
// Running

bool DepthTest(const TDXRPlan& P, TDXRMachine& M, BYTE* DepthPtr) {
  const auto current = static_cast<std::int32_t>(static_cast<std::uint64_t>(M.DepthValue) >> 32);
  const BYTE cond = P.DepthCompare & 127;
  if (cond != 7) {
    const auto stored = static_cast<std::int32_t>(Load(DepthPtr, P.DepthBitCount));
    bool skip = false;
    switch (cond) {
      case 1:
        skip = stored < current;
        break;
      case 2:
        skip = stored == current;
        break;
      case 3:
        skip = stored <= current;
        break;
      case 4:
        skip = stored > current;
        break;
      case 5:
        skip = stored != current;
        break;
      case 6:
        skip = stored >= current;
        break;
      default:
        break;
    }
    if (skip) return false;
  }
  if (P.DepthWrite) Store(DepthPtr, P.DepthBitCount, static_cast<DWORD>(current));
  return true;
}

void Advance(const TDXRPlan& P, TDXRMachine& M) {
  if (P.AdvanceX) ++M.X;
  for (const DXRSlotAdvance& a : P.Slots) {
    DXRChannelGroup& c = a.Slot->Color;
    const DXRChannelGroup& s = a.Slot->Step;
    if (a.Words) {
      for (int k = 0; k < 4; ++k) c.W[k] = static_cast<WORD>(c.W[k] + s.W[k]);
    } else {
      // R with G and B with A add as 32-bit quantities: a carry out of R enters G.
      for (int k = 0; k < 4; k += 2) {
        const std::uint32_t sum = (c.W[k] | (std::uint32_t{c.W[k + 1]} << 16)) +
                                  (s.W[k] | (std::uint32_t{s.W[k + 1]} << 16));
        c.W[k] = static_cast<WORD>(sum);
        c.W[k + 1] = static_cast<WORD>(sum >> 16);
      }
    }
  }
  for (const DXRStageAdvance& a : P.Stages) {
    DXRTextureStage& t = *a.Stage;
    const DWORD su = static_cast<DWORD>(a.FromStage ? t.StepU : a.StepU);
    const DWORD sv = static_cast<DWORD>(a.FromStage ? t.StepV : a.StepV);
    t.U = static_cast<int>(static_cast<DWORD>(t.U) + su);
    t.V = static_cast<int>(static_cast<DWORD>(t.V) + sv);
  }
  if (P.AdvanceDepth)
    M.DepthValue = static_cast<long long>(static_cast<std::uint64_t>(M.DepthValue) +
                                          static_cast<std::uint64_t>(M.DepthStep));
}

void RunSolid(const TDXRPlan& P, TDXRMachine& M, int Count) {
  const DWORD value = DXRPackPixel(P.Pack, *P.Root, M.X, M.Y);
  const std::ptrdiff_t bpp = P.DestBitCount / 8;
  BYTE* p = P.DestBits + static_cast<std::ptrdiff_t>(M.Y) * P.DestPitch +
            static_cast<std::ptrdiff_t>(M.X) * bpp;
  for (int i = 0; i < Count; ++i, p += bpp) Store(p, P.DestBitCount, value);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Pixel pieces

BYTE DXRExtractChannel(const DXRChannel& C, DWORD P) {
  const DWORD v = P & C.Mask;
  return static_cast<BYTE>(C.RightShift != 0 ? v >> C.RightShift : v << C.LeftShift);
}

DXRPack DXRMakePack(const DXRSurface& Dest, BYTE Mask, bool Dither) {
  DXRPack p;
  p.Mask = Mask;
  p.Dither = Dither;
  for (int k = 0; k < 4; ++k) {
    const DXRChannel& c = Dest.Channels[k];
    p.Channels[k] = c;
    p.Bits[k] = ((Mask >> k) & 1) ? c.Mask : 0;
    p.Right[k] = static_cast<BYTE>(c.RightShift & 31);
    p.Left[k] = static_cast<BYTE>(c.RightShift != 0 ? 0 : c.LeftShift & 31);
  }
  return p;
}

DWORD DXRPackPixel(const DXRPack& Pack, const DXRChannelGroup& G, int X, int Y) {
  if (!Pack.Dither) return PackPlain(Pack, G);
  DWORD pixel = 0;
  const int position = (X & 1) * 2 + (Y & 1);
  for (int k = 0; k < 4; ++k) {
    const DXRChannel& c = Pack.Channels[k];
    DWORD v = G.W[k] >> 8;
    if (c.BitCount < 7) {
      // Raise the value by one unit of the packed field where the two bits just below the
      // field call for it at this position.
      const DWORD level = (v >> (6 - c.BitCount)) & 3;
      const DWORD bit = DXRDitherTable[level][position];
      v = DXRUpperClampTable[v + (bit << (8 - c.BitCount))];
    }
    pixel |= ((v << Pack.Right[k]) >> Pack.Left[k]) & Pack.Bits[k];
  }
  return pixel;
}

DXRDecode DXRMakeDecode(const DXRSurface& S, const DXRChannelGroup& Defaults, BYTE Mask) {
  DXRDecode d;
  DXRFillDecode(d, S, Defaults, Mask);
  return d;
}

void DXRFillDecode(DXRDecode& d, const DXRSurface& S, const DXRChannelGroup& Defaults, BYTE Mask) {
  // Every field is written, so a record used before needs no clearing.
  d.ColorType = S.ColorType;
  d.Mask = Mask;
  for (int k = 0; k < 4; ++k) d.Channels[k] = S.Channels[k];
  d.Palette = S.Palette;
  d.Defaults = Defaults;
  // The plain full index of a picture of up to 8 bits is the palette index as it is.
  d.DirectIndex = S.ColorType == DXR_COLORTYPE_INDEXED && S.BitCount <= 8 &&
                  S.Channels[0].Mask == (DWORD{1} << S.BitCount) - 1 &&
                  S.Channels[0].RightShift == 0 && S.Channels[0].LeftShift == 0 &&
                  S.Channels[1].Mask == 0;
  for (int k = 0; k < 4; ++k) {
    const DXRChannel& c = S.Channels[k];
    d.Bits[k] = c.Mask;
    d.Right[k] = static_cast<BYTE>(c.RightShift & 31);
    d.Left[k] = static_cast<BYTE>(c.RightShift != 0 ? 0 : c.LeftShift & 31);
    d.Keep[k] = d.Take[k] = d.Fill[k] = 0;
    if (!((Mask >> k) & 1)) {
      d.Keep[k] = 0xFFFF;
    } else if (c.Mask != 0) {
      d.Keep[k] = 0x00FF;
      d.Take[k] = 0xFF00;
    } else {
      d.Fill[k] = Defaults.W[k];
    }
  }
}

void DXRDecodePixel(const DXRDecode& D, DWORD P, DXRChannelGroup& G) { Decode(D, P, G); }

bool DXRFetchTexel(const DXRFetch& F, DWORD U, DWORD V, DWORD& Pixel) {
  if (F.Mode > 1) return true;  // no fetch: the pixel value stays
  switch (F.BitCount) {
#define MORVANE_DXR_BITS(B) \
  case B:                   \
    return F.Mode == 0 ? Fetch<B, 0>(F, U, V, Pixel) : Fetch<B, 1>(F, U, V, Pixel);
    MORVANE_DXR_FETCH_DEPTHS(MORVANE_DXR_BITS)
#undef MORVANE_DXR_BITS
    default:
      return true;  // no fetch for other depths
  }
}

// ---------------------------------------------------------------------------------------------
// Routine

void TDXRPlan::Clear() {
  Kind = DXRRoutineKind::None;
  Steps.clear();
  Presets.clear();
  Root = nullptr;
  Pack = DXRPack{};
  DestBits = nullptr;
  DestPitch = 0;
  DestBitCount = 0;
  DepthActive = false;
  DepthBits = nullptr;
  DepthPitch = 0;
  DepthBitCount = 0;
  DepthCompare = 0;
  DepthWrite = false;
  AdvanceX = false;
  Slots.clear();
  Stages.clear();
  AdvanceDepth = false;
  Kernel.Clear();
}

void DXRApplyPresets(const TDXRPlan& Plan) {
  for (const DXRPreset& p : Plan.Presets)
    for (int k = 0; k < 4; ++k)
      if ((p.Mask >> k) & 1) p.Temp->W[k] = p.Words.W[k];
}

void DXREmitRoutine(TDXRMachine& M, DXRNode* Root) {
  TDXRPlan& P = M.Plan;
  P.Clear();
  M.TemporaryCount = 0;
  const bool words = DXRUseMMX();
  const DXRSurface& dest = *M.Dest;
  P.DestBits = dest.Bits;
  P.DestPitch = dest.Pitch;
  P.DestBitCount = dest.BitCount;
  P.Pack = DXRMakePack(dest, Root->ChannelMask, M.Dither);

  if (Root->Kind == DXR_NODE_COLORSLOT && M.ColorSlots[Root->Value].Gradient == 0 && !M.ZBuffer &&
      !M.Dither && (dest.BitCount == 16 || dest.BitCount == 32)) {
    P.Kind = DXRRoutineKind::Solid;
    P.Root = &M.ColorSlots[Root->Value].Color;
    return;
  }

  if (M.LoopZ) {
    P.DepthActive = true;
    P.DepthBits = M.ZBuffer->Bits;
    P.DepthPitch = M.ZBuffer->Pitch;
    P.DepthBitCount = M.ZBuffer->BitCount;
    P.DepthCompare = M.ZCompare;
    P.DepthWrite = M.ZWrite != 0;
  }

  Emitter e{M, P, words};
  if (Root->Kind == DXR_NODE_COLORSLOT) {
    P.Kind = DXRRoutineKind::Slot;
    P.Root = &M.ColorSlots[Root->Value].Color;
  } else if (Root->Kind == DXR_NODE_TEXTURE && !M.Dither &&
             (M.TextureStages[Root->Value].Filter == 0 ||
              M.TextureStages[Root->Value].Filter == 2) &&
             DXRFormatsEqual(dest, *M.TextureStages[Root->Value].Surface)) {
    // Same format and nothing to convert: the texel goes through as it is.
    DXRTextureStage& t = M.TextureStages[Root->Value];
    P.Kind = DXRRoutineKind::Raw;
    DXRStep& s = P.Steps.emplace_back();
    s.Stage = &t;
    s.Fetch = FetchOf(t);
    s.Proc = FetchProc<RawProc>(s.Fetch, &NoFetchRawStep);
    s.Key = KeyOf(t);
  } else {
    P.Kind = DXRRoutineKind::Tree;
    P.Root = e.Node(Root);
  }

  P.AdvanceX = M.LoopDither;
  for (int i = 0; i < M.UsedSlotCount; ++i) {
    DXRColorSlot& s = M.ColorSlots[M.UsedSlots[i]];
    if (!s.Gradient) continue;
    P.Slots.push_back({&s, words});
    if (words) M.MMXUsed = true;
  }
  for (int i = 0; i < M.UsedStageCount; ++i) {
    DXRTextureStage& t = M.TextureStages[M.UsedStages[i]];
    DXRStageAdvance a;
    a.Stage = &t;
    a.FromStage = words || !t.FixedSteps;
    a.StepU = t.StepU;
    a.StepV = t.StepV;
    P.Stages.push_back(a);
    if (words) M.MMXUsed = true;
  }
  P.AdvanceDepth = M.LoopZ;
  DXRChooseKernel(M, Root);
}

void DXRRunRoutine(TDXRMachine& M, int Count) {
  const TDXRPlan& P = M.Plan;
  if (P.Kind == DXRRoutineKind::None || Count < 1) return;
  if (P.Kind == DXRRoutineKind::Solid) return RunSolid(P, M, Count);
  if (P.Kernel.Chosen && DXRRunKernel(M, Count)) return;

  DXRRunState st;
  st.Machine = &M;
  const std::ptrdiff_t bpp = P.DestBitCount / 8;
  st.DestPtr = P.DestBits + static_cast<std::ptrdiff_t>(M.Y) * P.DestPitch +
               static_cast<std::ptrdiff_t>(M.X) * bpp;
  const std::ptrdiff_t depthBpp = P.DepthBitCount / 8;
  if (P.DepthActive)
    st.DepthPtr = P.DepthBits + static_cast<std::ptrdiff_t>(M.Y) * P.DepthPitch +
                  static_cast<std::ptrdiff_t>(M.X) * depthBpp;

  const DXRStep* first = P.Steps.data();
  const DXRStep* last = first + P.Steps.size();
  for (;;) {
    bool draw = !P.DepthActive || DepthTest(P, M, st.DepthPtr);
    if (draw) {
      switch (P.Kind) {
        case DXRRoutineKind::Slot:
          st.Pixel = DXRPackPixel(P.Pack, *P.Root, M.X, M.Y);
          break;
        case DXRRoutineKind::Raw:
          draw = first->Proc(*first, st);
          break;
        default:
          for (const DXRStep* s = first; s != last; ++s)
            if (!s->Proc(*s, st)) {
              draw = false;
              break;
            }
          if (draw)
            st.Pixel = P.Pack.Dither ? DXRPackPixel(P.Pack, *P.Root, M.X, M.Y)
                                     : PackPlain(P.Pack, *P.Root);
          break;
      }
      if (draw) Store(st.DestPtr, P.DestBitCount, st.Pixel);
    }
    Advance(P, M);
    st.DestPtr += bpp;
    if (P.DepthActive) st.DepthPtr += depthBpp;
    if (--Count <= 0) break;
  }
}
