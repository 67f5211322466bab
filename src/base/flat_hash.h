// Open-addressing hash tables for small, trivially copyable keys: one array of slots whose
// length is a power of two, linear probing, and no allocation per insert.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

namespace srctally {

/// Mixes the bits of x so that every output bit depends on every input bit: keys that
/// differ only in their high bits still spread over the low bits a table indexes by.
constexpr std::uint64_t MixBits64(std::uint64_t x) {
  x ^= x >> 33;
  x *= 0xFF51AFD7ED558CCDull;
  x ^= x >> 33;
  x *= 0xC4CEB9FE1A85EC53ull;
  x ^= x >> 33;
  return x;
}

/// A map from Key to Value with linear probing in a power-of-two table, for keys compared
/// with == and hashed by Hash, whose low bits must be well mixed (MixBits64). Keys cannot
/// be removed, only all forgotten at once. The table doubles when more than 5/8 of it
/// would be taken, so inserting allocates only when it grows.
template <class Key, class Value, class Hash>
class FlatHashMap {
  static_assert(std::is_trivially_copyable_v<Key> && std::is_trivially_copyable_v<Value>);

 public:
  FlatHashMap() = default;
  FlatHashMap(const FlatHashMap&) = delete;
  FlatHashMap& operator=(const FlatHashMap&) = delete;

  std::size_t size() const { return size_; }
  /// The number of slots; 0 until the first insert.
  std::size_t slotCount() const { return slotCount_; }

  /// The value stored for key, or nullptr when key is absent. The pointer holds until the
  /// next insert or Clear.
  const Value* Find(const Key& key) const {
    if (size_ == 0) return nullptr;
    const std::size_t index = SlotOf(key);
    return used_[index] ? &slots_[index].value : nullptr;
  }
  Value* Find(const Key& key) {
    return const_cast<Value*>(static_cast<const FlatHashMap&>(*this).Find(key));
  }

  /// Adds key with value unless key is present, whose value then stays as it is. Answers the
  /// key's value (valid until the next insert or Clear) and whether key was added. Throws
  /// std::bad_alloc when the table cannot grow, and is then as it was.
  std::pair<Value*, bool> TryEmplace(const Key& key, const Value& value) {
    if ((size_ + 1) * 8 > slotCount_ * 5) Grow();
    const std::size_t index = SlotOf(key);
    if (used_[index]) return {&slots_[index].value, false};
    used_[index] = true;
    slots_[index].key = key;
    slots_[index].value = value;
    ++size_;
    return {&slots_[index].value, true};
  }

  /// Forgets every key; the slots stay for the next inserts.
  void Clear() {
    if (slotCount_ != 0) std::memset(used_.get(), 0, slotCount_);
    size_ = 0;
  }

 private:
  struct Slot {
    Key key;
    [[no_unique_address]] Value value;
  };
  static constexpr std::size_t kFirstSlotCount = 64;

  // The slot that holds key, or the free slot where key would go; the table has one.
  std::size_t SlotOf(const Key& key) const {
    const std::size_t mask = slotCount_ - 1;
    std::size_t index = static_cast<std::size_t>(hash_(key)) & mask;
    while (used_[index] && !(slots_[index].key == key)) index = (index + 1) & mask;
    return index;
  }

  void Grow() {
    const std::size_t count = slotCount_ == 0 ? kFirstSlotCount : 2 * slotCount_;
    if (count < slotCount_ || count > SIZE_MAX / sizeof(Slot)) throw std::bad_alloc();
    // Both arrays are had before anything changes, so a failure leaves the table whole.
    std::unique_ptr<Slot[]> slots = std::make_unique_for_overwrite<Slot[]>(count);
    std::unique_ptr<bool[]> used = std::make_unique<bool[]>(count);
    std::swap(slots, slots_);
    std::swap(used, used_);
    const std::size_t oldCount = slotCount_;
    slotCount_ = count;
    for (std::size_t k = 0; k < oldCount; ++k) {
      if (!used[k]) continue;
      const std::size_t index = SlotOf(slots[k].key);
      used_[index] = true;
      slots_[index] = slots[k];
    }
  }

  std::unique_ptr<Slot[]> slots_;
  std::unique_ptr<bool[]> used_;  // whether each slot holds a key
  std::size_t slotCount_ = 0;     // 0 or a power of two
  std::size_t size_ = 0;
  [[no_unique_address]] Hash hash_;
};

/// A set of keys over FlatHashMap: the same probing and growth, nothing stored beside a key.
template <class Key, class Hash>
class FlatHashSet {
 public:
  std::size_t size() const { return map_.size(); }
  std::size_t slotCount() const { return map_.slotCount(); }
  bool Contains(const Key& key) const { return map_.Find(key) != nullptr; }
  /// Adds key; answers false when it was there already. Throws std::bad_alloc when the
  /// table cannot grow, and is then as it was.
  bool Insert(const Key& key) { return map_.TryEmplace(key, Nothing{}).second; }
  void Clear() { map_.Clear(); }

 private:
  struct Nothing {};
  FlatHashMap<Key, Nothing, Hash> map_;
};

}  // namespace srctally
