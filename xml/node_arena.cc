// xml/node_arena.cc: the arena's blocks and the count of live nodes in each.
#include "xml/node_arena.h"

#include <atomic>
#include <new>

#include "xml/node.h"

namespace xmldoc {

namespace {

// The first block of a document is small, each next one twice the last up
// to kLargestBlockBytes: a tiny document takes little, a large one few
// blocks. Blocks this large are mapped pages of their own, and unmapping one
// interrupts every other core the process runs on (a TLB shootdown, some
// 0.1-0.3 ms each on a virtual machine): a 2 MB manifest in blocks of
// 128 KiB paid that 130 times as it was written out; the largest block the
// 16-bit slots can address pays it a quarter as often. Pages of a block that
// no node reached are never touched, so they cost no memory.
constexpr std::size_t kFirstBlockBytes = 4 * 1024;
constexpr std::size_t kLargestBlockBytes = 512 * 1024;
// A node larger than this gets a heap block: it would leave too much of an
// arena block unused.
constexpr std::size_t kLargestArenaNodeBytes = 16 * 1024;

// The count of live nodes heads each block, in the room of the first slot.
using LiveCount = std::size_t;

LiveCount& LiveNodes(char* block) { return *reinterpret_cast<LiveCount*>(block); }

// The count only grows while the parser fills the block, on the parser's
// thread; it shrinks as nodes die, which may happen on several threads at
// once when they destroy disjoint parts of one tree.
void Unreference(char* block) noexcept {
  if (std::atomic_ref<LiveCount>(LiveNodes(block)).fetch_sub(1, std::memory_order_acq_rel) == 1) {
    ::operator delete(block);
  }
}

}  // namespace

void NodeArena::Close() {
  if (block != nullptr) Unreference(block);
  block = nullptr;
  next = nullptr;
  limit = nullptr;
  nextBlockBytes = 0;
}

void NodeArena::Release(Node* node, std::uint16_t slot) noexcept {
  Unreference(reinterpret_cast<char*>(node) - std::size_t{slot} * kSlotBytes);
}

NodeArena::Room NodeArena::TakeElsewhere(std::size_t rounded) {
  static_assert(sizeof(LiveCount) <= kSlotBytes);
  // The last slot of the largest block must fit in a 16-bit slot number.
  static_assert(kLargestBlockBytes / kSlotBytes - 1 <= UINT16_MAX);
  if (rounded > kLargestArenaNodeBytes) return {::operator new(rounded), 0};
  const std::size_t bytes = nextBlockBytes == 0 ? kFirstBlockBytes : nextBlockBytes;
  char* const fresh = static_cast<char*>(::operator new(bytes));
  ::new (fresh) LiveCount(1);  // the arena's own hold
  Close();
  block = fresh;
  next = fresh + kSlotBytes;
  limit = fresh + bytes;
  nextBlockBytes = bytes < kLargestBlockBytes ? bytes * 2 : bytes;
  return Take(rounded);
}

void NodeArena::GiveBack(const Room& room) noexcept {
  if (room.slot == 0) {
    ::operator delete(room.at);
  } else {
    Unreference(static_cast<char*>(room.at) - std::size_t{room.slot} * kSlotBytes);
  }
}

void NodeArena::MarkPlaced(Node& node, std::uint16_t slot) noexcept { node.arenaSlot = slot; }

}  // namespace xmldoc
