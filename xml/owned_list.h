// xml/owned_list.h: OwnedList, the list in which a container keeps its
// children and an element its attributes.
//
// It reads like a std::vector<std::unique_ptr<T>> (iteration yields
// const std::unique_ptr<T>&; size, empty, operator[], back) and owns its
// nodes the same way, but it has room for one node inside itself: most
// attributes hold one Text and most leaf elements one child or none, and
// a parsed manifest is mostly such nodes, so for them the list costs no
// allocation of its own. It is also smaller than a vector (16 bytes, with
// the count and capacity in 32 bits), which every container pays.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>

namespace xmldoc {

template <typename T>
class OwnedList {
 public:
  using value_type = std::unique_ptr<T>;
  using iterator = std::unique_ptr<T>*;
  using const_iterator = const std::unique_ptr<T>*;

  OwnedList() noexcept : single() {}
  OwnedList(const OwnedList&) = delete;
  OwnedList& operator=(const OwnedList&) = delete;
  OwnedList(OwnedList&& other) noexcept : single() { TakeFrom(other); }
  OwnedList& operator=(OwnedList&& other) noexcept {
    if (this != &other) {
      Release();
      TakeFrom(other);
    }
    return *this;
  }
  ~OwnedList() { Release(); }

  iterator begin() noexcept { return Items(); }
  iterator end() noexcept { return Items() + count; }
  const_iterator begin() const noexcept { return Items(); }
  const_iterator end() const noexcept { return Items() + count; }

  std::size_t size() const noexcept { return count; }
  bool empty() const noexcept { return count == 0; }
  std::unique_ptr<T>& operator[](std::size_t index) noexcept { return Items()[index]; }
  const std::unique_ptr<T>& operator[](std::size_t index) const noexcept { return Items()[index]; }
  std::unique_ptr<T>& back() noexcept { return Items()[count - 1]; }
  const std::unique_ptr<T>& back() const noexcept { return Items()[count - 1]; }

  // Makes room for `wanted` nodes in all; one allocation of exactly that
  // many when they do not fit.
  void reserve(std::size_t wanted) {
    if (wanted > capacity) Grow(wanted);
  }
  void push_back(std::unique_ptr<T> node) {
    if (count == capacity) Grow(capacity * std::size_t{2});
    Items()[count++] = std::move(node);
  }
  void pop_back() noexcept { Items()[--count].reset(); }
  // Puts `node` at position `at` (at most size()); the nodes from there on
  // move one place back.
  void insert(std::size_t at, std::unique_ptr<T> node) {
    push_back(std::move(node));
    for (std::size_t i = count - 1; i > at; --i) Items()[i].swap(Items()[i - 1]);
  }
  // Destroys the nodes; the room stays.
  void clear() noexcept {
    while (count > 0) pop_back();
  }
  // Destroys the node at `at` and closes the gap; the position after it.
  iterator erase(iterator at) noexcept {
    for (iterator next = at + 1; next != end(); ++next) *(next - 1) = std::move(*next);
    pop_back();
    return at;
  }

 private:
  bool IsInline() const noexcept { return capacity == 1; }
  std::unique_ptr<T>* Items() noexcept { return IsInline() ? &single : heap; }
  const std::unique_ptr<T>* Items() const noexcept { return IsInline() ? &single : heap; }

  void Grow(std::size_t wanted) {
    if (wanted > UINT32_MAX) throw std::bad_alloc();
    auto* moved = new std::unique_ptr<T>[wanted];
    std::unique_ptr<T>* old = Items();
    for (std::uint32_t i = 0; i < count; ++i) moved[i] = std::move(old[i]);
    if (IsInline()) {
      single.~unique_ptr<T>();
    } else {
      delete[] heap;
    }
    heap = moved;
    capacity = static_cast<std::uint32_t>(wanted);
  }

  void Release() noexcept {
    clear();
    if (IsInline()) {
      single.~unique_ptr<T>();
    } else {
      delete[] heap;
    }
    ::new (&single) std::unique_ptr<T>();
    capacity = 1;
  }

  // Leaves `other` empty with its inline room; this list must be empty and
  // inline.
  void TakeFrom(OwnedList& other) noexcept {
    if (other.IsInline()) {
      single = std::move(other.single);
    } else {
      single.~unique_ptr<T>();
      heap = other.heap;
      capacity = other.capacity;
      ::new (&other.single) std::unique_ptr<T>();
      other.capacity = 1;
    }
    count = other.count;
    other.count = 0;
  }

  union {
    std::unique_ptr<T> single;  // the one node while capacity is 1
    std::unique_ptr<T>* heap;   // otherwise
  };
  std::uint32_t count = 0;
  std::uint32_t capacity = 1;
};

}  // namespace xmldoc
