// xml/node_arena.cc: the arena's blocks and the count of live nodes in each.
#include "xml/node_arena.h"

#include <new>

#include "xml/node.h"

namespace xmldoc {

namespace {

// Nodes are 8-byte aligned; a node finds its block from its offset in
// these units, which a 16-bit slot holds for blocks up to 512 KiB.
constexpr std::size_t kSlotBytes = 8;
// The first block of a document is small, each next one twice the last up
// to kLargestBlockBytes: a tiny document takes little, a large one few
// blocks.
constexpr std::size_t kFirstBlockBytes = 4 * 1024;
constexpr std::size_t kLargestBlockBytes = 128 * 1024;
// A node larger than this gets a heap block: it would leave too much of an
// arena block unused.
constexpr std::size_t kLargestArenaNodeBytes = kLargestBlockBytes / 8;

// The count of live nodes heads each block, in the room of the first slot.
using LiveCount = std::size_t;
static_assert(sizeof(LiveCount) <= kSlotBytes);
static_assert(kLargestBlockBytes / kSlotBytes <= UINT16_MAX);

LiveCount& LiveNodes(char* block) { return *reinterpret_cast<LiveCount*>(block); }

void Unreference(char* block) noexcept {
  if (--LiveNodes(block) == 0) ::operator delete(block);
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

NodeArena::Room NodeArena::Take(std::size_t size) {
  const std::size_t rounded = (size + kSlotBytes - 1) / kSlotBytes * kSlotBytes;
  if (rounded > kLargestArenaNodeBytes) return {::operator new(size), 0};
  if (static_cast<std::size_t>(limit - next) < rounded) {
    const std::size_t bytes = nextBlockBytes == 0 ? kFirstBlockBytes : nextBlockBytes;
    char* const fresh = static_cast<char*>(::operator new(bytes));
    ::new (fresh) LiveCount(1);  // the arena's own hold
    Close();
    block = fresh;
    next = fresh + kSlotBytes;
    limit = fresh + bytes;
    nextBlockBytes = bytes < kLargestBlockBytes ? bytes * 2 : bytes;
  }
  const Room room{next, static_cast<std::uint16_t>((next - block) / kSlotBytes)};
  next += rounded;
  ++LiveNodes(block);
  return room;
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
