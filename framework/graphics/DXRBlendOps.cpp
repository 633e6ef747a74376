#include "framework/graphics/DXRBlendOps.h"

#include <algorithm>

#include "framework/graphics/DXRTables.h"

namespace {

inline unsigned Hi(WORD W) { return W >> 8; }
// The byte form writes the high byte only; the fraction below it stays as it was.
inline void SetHi(WORD& W, unsigned V) { W = static_cast<WORD>((W & 0x00FF) | ((V & 0xFF) << 8)); }
inline bool Has(BYTE Mask, int K) { return (Mask >> K) & 1; }

inline unsigned ClampUp(unsigned I) { return DXRUpperClampTable[I]; }
inline unsigned ClampDown(int I) { return DXRLowerClamp[I]; }

// Operations 7, 10 and 11 compute R with G and B with A in one 32-bit step when both of a pair
// are wanted (whole words), else the wanted one alone (its high byte).
template <class Pair, class Single>
inline void ByPairs(BYTE Mask, Pair pair, Single single) {
  for (int k = 0; k < 4; k += 2) {
    const bool a = Has(Mask, k), b = Has(Mask, k + 1);
    if (a && b) {
      pair(k);
      pair(k + 1);
    } else if (a) {
      single(k);
    } else if (b) {
      single(k + 1);
    }
  }
}

template <DXRBlendOp Op, bool Words>
inline void Compute(DXRChannelGroup& D, const DXRChannelGroup& L, const DXRChannelGroup& R,
                    BYTE Mask) {
  if constexpr (Op == DXR_BLEND_ZERO) {
    D = DXRChannelGroup{};
  } else if constexpr (Op == DXR_BLEND_LEFT || Op == DXR_BLEND_LEFT2) {
    D = L;
  } else if constexpr (Op == DXR_BLEND_RIGHT) {
    D = R;
  } else if constexpr (Op == DXR_BLEND_ADD) {
    if constexpr (Words) {
      for (int k = 0; k < 4; ++k) D.W[k] = static_cast<WORD>(std::min(L.W[k] + R.W[k], 65535));
    } else {
      for (int k = 0; k < 4; ++k)
        if (Has(Mask, k)) SetHi(D.W[k], ClampUp(Hi(L.W[k]) + Hi(R.W[k])));
    }
  } else if constexpr (Op == DXR_BLEND_SUB || Op == DXR_BLEND_REVSUB) {
    const DXRChannelGroup& A = Op == DXR_BLEND_SUB ? L : R;
    const DXRChannelGroup& B = Op == DXR_BLEND_SUB ? R : L;
    if constexpr (Words) {
      for (int k = 0; k < 4; ++k) D.W[k] = static_cast<WORD>(A.W[k] > B.W[k] ? A.W[k] - B.W[k] : 0);
    } else {
      for (int k = 0; k < 4; ++k)
        if (Has(Mask, k))
          SetHi(D.W[k], ClampDown(static_cast<int>(Hi(A.W[k])) - static_cast<int>(Hi(B.W[k]))));
    }
  } else if constexpr (Op == DXR_BLEND_MUL || Op == DXR_BLEND_MUL2) {
    if constexpr (Words) {
      // Both words are halved first so that the signed high-word multiply never sees 32768 or
      // more; the product is scaled back by four.
      for (int k = 0; k < 4; ++k)
        D.W[k] = static_cast<WORD>((((L.W[k] >> 1) * (R.W[k] >> 1)) >> 16) << 2);
    } else {
      for (int k = 0; k < 4; ++k)
        if (Has(Mask, k)) SetHi(D.W[k], (Hi(L.W[k]) * Hi(R.W[k])) >> 8);
    }
  } else if constexpr (Op == DXR_BLEND_ALPHASCALE) {
    const unsigned a = Hi(L.W[DXR_WORD_A]);
    ByPairs(
        Mask, [&](int k) { D.W[k] = static_cast<WORD>(Hi(L.W[k]) * a); },
        [&](int k) { SetHi(D.W[k], (Hi(L.W[k]) * a) >> 8); });
  } else if constexpr (Op == DXR_BLEND_ALPHAADD) {
    const unsigned a = Hi(L.W[DXR_WORD_A]);
    for (int k = 0; k < 4; ++k)
      if (Has(Mask, k)) SetHi(D.W[k], ClampUp(Hi(R.W[k]) + ((Hi(L.W[k]) * a) >> 8)));
  } else if constexpr (Op == DXR_BLEND_ALPHASUB) {
    const unsigned a = Hi(L.W[DXR_WORD_A]);
    for (int k = 0; k < 4; ++k)
      if (Has(Mask, k))
        SetHi(D.W[k],
              ClampDown(static_cast<int>(Hi(R.W[k])) - static_cast<int>((Hi(L.W[k]) * a) >> 8)));
  } else if constexpr (Op == DXR_BLEND_ALPHA || Op == DXR_BLEND_INVALPHA) {
    // The weights are a and 255 - a, so the pair form never overflows a 16-bit lane.
    const unsigned a = Hi(L.W[DXR_WORD_A]);
    const unsigned wl = Op == DXR_BLEND_ALPHA ? a : 255 - a;
    const unsigned wr = 255 - wl;
    ByPairs(
        Mask, [&](int k) { D.W[k] = static_cast<WORD>(Hi(L.W[k]) * wl + Hi(R.W[k]) * wr); },
        [&](int k) {
          const int l = static_cast<int>(Hi(L.W[k])), r = static_cast<int>(Hi(R.W[k]));
          SetHi(D.W[k], static_cast<unsigned>(r + (((l - r) * static_cast<int>(wl)) >> 8)));
        });
  } else if constexpr (Op == DXR_BLEND_COLORLEFT_ALPHARIGHT) {
    if ((Mask & DXR_CHANNELS_RGB) == DXR_CHANNELS_RGB) {
      D = L;
    } else {
      // Only some colour channels wanted: those still come from the left.
      for (int k = 0; k < 3; ++k)
        if (Has(Mask, k)) D.W[k] = L.W[k];
    }
    if (Has(Mask, DXR_WORD_A)) SetHi(D.W[DXR_WORD_A], Hi(R.W[DXR_WORD_A]));
  } else if constexpr (Op == DXR_BLEND_MULCOLOR_ALPHALEFT) {
    for (int k = 0; k < 3; ++k)
      if (Has(Mask, k)) SetHi(D.W[k], (Hi(L.W[k]) * Hi(R.W[k])) >> 8);
    SetHi(D.W[DXR_WORD_A], Hi(L.W[DXR_WORD_A]));
  } else if constexpr (Op == DXR_BLEND_ADDCOLOR_ALPHARIGHT) {
    if constexpr (Words) {
      for (int k = 0; k < 4; ++k) D.W[k] = static_cast<WORD>(std::min(L.W[k] + R.W[k], 65535));
    } else {
      for (int k = 0; k < 3; ++k)
        if (Has(Mask, k)) SetHi(D.W[k], ClampUp(Hi(L.W[k]) + Hi(R.W[k])));
    }
    if (Has(Mask, DXR_WORD_A)) SetHi(D.W[DXR_WORD_A], Hi(R.W[DXR_WORD_A]));
  }
}

constexpr bool kHasWordForm[DXR_BLEND_LAST + 1] = {
    true,  true,  true,  true,  true,  true, true,  // 0 to 6
    false, false, false, false, false,              // 7 to 11
    true,  true,  false, true,  true,               // 12 to 16
};

template <DXRBlendOp Op, bool Words>
bool BlendStep(const DXRStep& S, DXRRunState&) {
  Compute<Op, Words>(*S.Result, *S.Left, *S.Right, S.Mask);
  return true;
}

using ComputeProc = void (*)(DXRChannelGroup&, const DXRChannelGroup&, const DXRChannelGroup&,
                             BYTE);

template <DXRBlendOp... Ops>
struct Tables {
  static constexpr ComputeProc Computes[2][sizeof...(Ops)] = {{&Compute<Ops, false>...},
                                                              {&Compute<Ops, true>...}};
  static constexpr DXRStepProc Steps[2][sizeof...(Ops)] = {{&BlendStep<Ops, false>...},
                                                           {&BlendStep<Ops, true>...}};
};
using OpTables = Tables<0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16>;

}  // namespace

bool DXRBlendOpHasWordForm(DXRBlendOp Op) { return Op <= DXR_BLEND_LAST && kHasWordForm[Op]; }

void DXRComputeBlendOp(DXRBlendOp Op, bool WordForm, DXRChannelGroup& D, const DXRChannelGroup& L,
                       const DXRChannelGroup& R, BYTE Mask) {
  if (Mask == 0 || Op > DXR_BLEND_LAST) return;
  OpTables::Computes[WordForm && kHasWordForm[Op]][Op](D, L, R, Mask);
}

bool DXREmitBlendOp(TDXRPlan& Plan, DXRBlendOp Op, DXRChannelGroup* Result,
                    const DXRChannelGroup* Left, const DXRChannelGroup* Right, BYTE Mask,
                    bool UseMMX) {
  if (Mask == 0 || Op > DXR_BLEND_LAST) return false;
  const bool words = UseMMX && kHasWordForm[Op];
  DXRStep& s = Plan.Steps.emplace_back();
  s.Proc = OpTables::Steps[words][Op];
  s.Result = Result;
  s.Left = Left ? Left : &DXRZeroGroup;
  s.Right = Right ? Right : &DXRZeroGroup;
  s.Op = Op;
  s.Mask = Mask;
  return words;
}
