// xml/node_arena.h: NodeArena, the blocks in which the parser places the
// nodes of the trees it builds.
//
// A parsed manifest is hundreds of thousands of small nodes. Each on a heap
// block of its own costs an allocation, a free, a header and rounding; that
// was a third of the parse. The arena places them one after another in
// large blocks instead. Nothing changes for the tree's users: every node is
// still owned and destroyed one by one (Node's operator delete hands an
// arena node back to its block), so nodes may be removed from a parsed tree
// or outlive its document as before. A block is freed when its last node is
// destroyed and the arena has moved on to another; the memory of a node
// removed early returns with the rest of its block.
//
// An arena belongs to one parser and its thread; the nodes it placed may be
// destroyed on any thread, as any node.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>

namespace xmldoc {

class Node;

class NodeArena {
 public:
  NodeArena() = default;
  NodeArena(const NodeArena&) = delete;
  NodeArena& operator=(const NodeArena&) = delete;
  ~NodeArena() { Close(); }

  // Makes a node of `size` bytes (at least sizeof(T); the rest is bytes the
  // node keeps right behind itself): `build(at)` constructs it at `at` and
  // returns it. Nodes too large for a block get a heap block of their own.
  // If `build` throws, the room is given back and the exception passes on.
  template <typename T, typename Build>
  std::unique_ptr<T> Make(std::size_t size, Build build) {
    const Room room = Take(size);
    T* node = nullptr;
    try {
      node = build(room.at);
    } catch (...) {
      GiveBack(room);
      throw;
    }
    MarkPlaced(*node, room.slot);
    return std::unique_ptr<T>(node);
  }

  // Constructs a T from `args` in the arena.
  template <typename T, typename... Args>
  std::unique_ptr<T> New(Args&&... args) {
    return Make<T>(sizeof(T), [&](void* at) { return ::new (at) T(std::forward<Args>(args)...); });
  }

  // Lets go of the block being filled: it is freed once its nodes are gone.
  // The next node starts a new, small block again.
  void Close();

  // Called by Node's operator delete once an arena node is destroyed.
  static void Release(Node* node, std::uint16_t slot) noexcept;

 private:
  struct Room {
    void* at;
    // Where `at` lies in its block, in units of kSlotBytes; 0: a heap block.
    std::uint16_t slot;
  };

  // Nodes are 8-byte aligned; a node finds its block from its offset in
  // these units, which a 16-bit slot holds for blocks up to 512 KiB.
  static constexpr std::size_t kSlotBytes = 8;

  Room Take(std::size_t size) {
    const std::size_t rounded = (size + kSlotBytes - 1) & ~(kSlotBytes - 1);
    if (rounded > static_cast<std::size_t>(limit - next)) return TakeElsewhere(rounded);
    const Room room{
        next, static_cast<std::uint16_t>(static_cast<std::size_t>(next - block) / kSlotBytes)};
    next += rounded;
    ++*reinterpret_cast<std::size_t*>(block);
    return room;
  }
  // Take when the block being filled has no room left: a new block, or a
  // heap block of its own for a large node.
  Room TakeElsewhere(std::size_t rounded);
  void GiveBack(const Room& room) noexcept;
  static void MarkPlaced(Node& node, std::uint16_t slot) noexcept;

  // The block being filled (its first slot counts its live nodes, plus one
  // for the arena while it fills it), the next free byte, and its end.
  char* block = nullptr;
  char* next = nullptr;
  char* limit = nullptr;
  // The size of the next block: small documents take small blocks.
  std::size_t nextBlockBytes = 0;
};

}  // namespace xmldoc
