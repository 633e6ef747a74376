// Global memory blocks: the currency of the clipboard. A handle names a block whose bytes are
// reached through GlobalLock; every call checks that the handle is one it made and that is not
// freed yet.
#pragma once

#include <cstddef>

#include "platform/win/WinTypes.h"

using HGLOBAL = HANDLE;

constexpr UINT GMEM_FIXED = 0x0000;
constexpr UINT GMEM_MOVEABLE = 0x0002;
constexpr UINT GMEM_ZEROINIT = 0x0040;
constexpr UINT GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;

// nullptr when the memory cannot be had. Blocks are always zero-filled here.
HGLOBAL GlobalAlloc(UINT flags, std::size_t bytes);
// The block's bytes, or nullptr for a bad handle.
void* GlobalLock(HGLOBAL block);
BOOL GlobalUnlock(HGLOBAL block);
// 0 for a bad handle.
std::size_t GlobalSize(HGLOBAL block);
// nullptr on success, the handle back when it was not a live block.
HGLOBAL GlobalFree(HGLOBAL block);
