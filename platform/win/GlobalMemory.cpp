#include "platform/win/GlobalMemory.h"

#include <new>
#include <unordered_map>
#include <vector>

namespace {

struct Block {
  std::vector<unsigned char> Bytes;
  int Locks = 0;
};

// Outlives every static object, so blocks freed during program exit are still found.
std::unordered_map<HGLOBAL, Block*>& Blocks() {
  static auto* blocks = new std::unordered_map<HGLOBAL, Block*>;
  return *blocks;
}

Block* Find(HGLOBAL h) {
  auto it = Blocks().find(h);
  return it == Blocks().end() ? nullptr : it->second;
}

}  // namespace

HGLOBAL GlobalAlloc(UINT, std::size_t bytes) {
  Block* b = new (std::nothrow) Block;
  if (!b) return nullptr;
  try {
    b->Bytes.assign(bytes, 0);
  } catch (const std::bad_alloc&) {
    delete b;
    return nullptr;
  }
  Blocks()[b] = b;
  return b;
}

void* GlobalLock(HGLOBAL block) {
  Block* b = Find(block);
  if (!b) return nullptr;
  ++b->Locks;
  // A zero-byte block still has an address to hand out.
  return b->Bytes.empty() ? static_cast<void*>(b) : b->Bytes.data();
}

BOOL GlobalUnlock(HGLOBAL block) {
  Block* b = Find(block);
  if (!b || b->Locks == 0) return FALSE_;
  --b->Locks;
  return b->Locks > 0 ? TRUE_ : FALSE_;
}

std::size_t GlobalSize(HGLOBAL block) {
  Block* b = Find(block);
  return b ? b->Bytes.size() : 0;
}

HGLOBAL GlobalFree(HGLOBAL block) {
  Block* b = Find(block);
  if (!b) return block;
  Blocks().erase(block);
  delete b;
  return nullptr;
}
