// Precompiled kernels for the routines the blit layer and the surface operations compile: a
// texture read of a known format, optionally blended with the destination pixel by one of the
// operations those callers build, stored into a destination of a known format. When a compile
// produces such a plan, a template instance for its formats, operation, colour key and stepping
// draws each run instead of the per-pixel plan; the plan stays the reference and runs whatever
// no kernel matches. A kernel writes the same bytes the plan would and leaves the machine in the
// same state (stage coordinates, temporaries).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/win/WinTypes.h"

class TDXRMachine;
struct DXRChannelGroup;
struct DXRNode;
struct DXRTextureStage;
struct DXRKernel;

// The pixel formats kernels are built for.
enum class DXRKernelFormat : BYTE {
  XRGB8888,
  ARGB8888,
  RGB565,
  XRGB1555,
  ARGB1555,
  RGB888,    // 24-bit
  Indexed8,  // a palette index, decoded through a table made at compile
  Count
};

// What a kernel computes per pixel, on the 8-bit channel values.
enum class DXRKernelOp : BYTE {
  Raw,       // the texel stored as it is (same formats)
  Convert,   // the texel decoded and packed into the destination's format
  Add,       // source + destination, saturated
  RevSub,    // destination - source, at least 0
  AlphaAdd,  // destination + source scaled by its alpha, saturated
  AlphaSub,  // destination - source scaled by its alpha, at least 0
  Alpha,     // source over destination by the source's alpha
  Count
};

enum class DXRKernelStepping : BYTE {
  Contiguous,  // one source column per pixel along a row
  Scaled,      // columns by a fixed 16.16 step along a row, through a column table
  Rotated,     // both coordinates stepped per pixel
  Count
};

// The runs a row procedure draws. Contiguous and scaled: Rows runs, DestPitch bytes apart,
// the first reading source row V >> 16 and each next one RowStepV further (16.16); runs whose
// source row is outside the picture draw nothing. Contiguous: Src is the first texel as if in
// row 0, and Count pixels are all inside the source. Scaled: Src is row 0 and Columns[i] the
// column of pixel i or -1 outside. Rotated: one run; U and V step by DU and DV from the first
// pixel, tested against the size.
struct DXRKernelRow {
  BYTE* Dest = nullptr;
  const BYTE* Src = nullptr;
  const std::int32_t* Columns = nullptr;
  int Count = 0;
  DWORD U = 0, V = 0;
  DWORD DU = 0, DV = 0;
  int Rows = 1;
  std::ptrdiff_t DestPitch = 0;
  DWORD RowStepV = 0;
};

using DXRKernelRowProc = void (*)(const DXRKernel& K, const DXRKernelRow& Row);

// What runs make and keep for the runs after them, not part of the compiled kernel: copying a
// kernel copies none of it and leaves the copy's column table to be made again.
struct DXRKernelScratch {
  // An indexed source's palette with the defaults, in the kernels' layout, made at every call.
  DWORD Palette[256] = {};
  // The column table of the scaled rows, kept between runs of one drawing call.
  std::vector<std::int32_t> Columns;
  DWORD ColumnsU = 0;
  DWORD ColumnsStep = 0;
  int ColumnsCount = -1;

  DXRKernelScratch() = default;
  DXRKernelScratch(const DXRKernelScratch&) {}
  DXRKernelScratch& operator=(const DXRKernelScratch&) {
    ColumnsCount = -1;
    return *this;
  }
};

struct DXRKernel {
  bool Chosen = false;
  DXRKernelFormat SrcFormat = DXRKernelFormat::Count, DestFormat = DXRKernelFormat::Count;
  DXRKernelOp Op = DXRKernelOp::Count;
  bool Key = false;
  bool SIMD = false;  // the contiguous rows use the vector instructions
  bool Wide = false;  // and move 32 bytes at a time (unkeyed raw 32-bit copies)
  DXRKernelRowProc Rows[static_cast<int>(DXRKernelStepping::Count)] = {};

  // Bound when the routine is compiled.
  DXRTextureStage* Stage = nullptr;
  const BYTE* SrcBits = nullptr;
  std::ptrdiff_t SrcPitch = 0;
  DWORD SrcWidth = 0, SrcHeight = 0, SrcBytes = 0, DestBytes = 0;
  DWORD KeyMask = 0, ColorKey = 0;
  // The channels the source lacks, as 8-bit values in the kernels' A-R-G-B layout (the
  // layout of a 32-bit pixel with alpha: blue in the low byte).
  DWORD Defaults = 0;
  // An indexed source: its palette (its table is in the scratch).
  const BYTE (*SrcPalette)[4] = nullptr;
  bool FromStage = true;  // the steps are read from the stage at every run
  int StepU = 0, StepV = 0;
  bool Replay = false;  // the plan's steps leave values in temporaries that a run must leave too
  // The temporaries whose fractions (low bytes, of the channels of FractionMask) had to be zero
  // for the kernel to be chosen; none where the choice did not depend on them.
  const DXRChannelGroup* Fractions[2] = {nullptr, nullptr};
  BYTE FractionMask = 0;

  // Between DXRBeginKernelRuns and DXREndKernelRuns, the last pixel drawn so far: its source
  // coordinates and the destination value it blended with, replayed through the plan once.
  bool Batch = false;
  bool Pending = false;
  DWORD PendingU = 0, PendingV = 0;
  BYTE PendingDest[4] = {};

  DXRKernelScratch Scratch;

  void Clear();
};

// Chooses a kernel for the machine's plan freshly emitted from the tree under Root, or none.
void DXRChooseKernel(TDXRMachine& M, DXRNode* Root);
// Whether a compile of the same tree now would choose the kernel the machine's plan has: the
// temporaries the choice depended on still have zero fractions.
bool DXRKernelStillChosen(const TDXRMachine& M);
// Draws Count pixels from (X, Y) with the chosen kernel; false when the plan must run instead.
bool DXRRunKernel(TDXRMachine& M, int Count);
// Draws Rows runs of Count pixels, from (X, Y) downwards, the stage starting every run at
// (U, V + row * RowStepV), and leaves the machine as that many runs would; false (nothing
// drawn) when no kernel is chosen or the plan must run instead.
bool DXRRunKernelRows(TDXRMachine& M, int X, int Y, int Rows, int Count, int U, int V,
                      int RowStepV);

// Brackets a drawing call's runs: in between, the temporaries are brought to what the runs
// leave once, at the end (or before a run the plan draws), instead of after every run. The
// palette of an indexed source is read once, at the start. The end must come while the
// surfaces are still locked; a compile or reset before it forgets the pending pixel.
void DXRBeginKernelRuns(TDXRMachine& M);
void DXREndKernelRuns(TDXRMachine& M);

// Switches for tests: with kernels off, compiles choose none (the plan runs every pixel); with
// vectors off, contiguous rows use the portable loops. Both are on from the start.
void DXRSetKernelsEnabled(bool On);
bool DXRKernelsEnabled();
void DXRSetKernelVectorsEnabled(bool On);
bool DXRKernelVectorsEnabled();
// The number of runs kernels of a stepping have drawn since the program started, and of those
// the contiguous ones drawn by the wide rows.
std::uint64_t DXRKernelRunCount(DXRKernelStepping Stepping);
std::uint64_t DXRKernelWideRunCount();

// The row procedure of one instance; null where none is built. SIMD asks for the vector rows,
// built for the 8-8-8 formats.
DXRKernelRowProc DXRKernelContiguousRow(DXRKernelFormat Src, DXRKernelOp Op, DXRKernelFormat Dest,
                                        bool Key, bool SIMD);
DXRKernelRowProc DXRKernelScaledRow(DXRKernelFormat Src, DXRKernelOp Op, DXRKernelFormat Dest,
                                    bool Key, bool SIMD);
DXRKernelRowProc DXRKernelRotatedRow(DXRKernelFormat Src, DXRKernelOp Op, DXRKernelFormat Dest,
                                     bool Key, bool SIMD);
// Whether the processor has the 32-byte moves, and the contiguous row of unkeyed raw copies
// between two equal 8-8-8 formats that uses them; null where it has not or the formats differ.
bool DXRKernelHasWideRows();
DXRKernelRowProc DXRKernelWideRawRow(DXRKernelFormat Src, DXRKernelFormat Dest);
