// The open-addressing tables: growth, probing past collisions and the table's end, values
// changed in place, absent keys, and the spread of the identity hash over the low bits.
#include "base/flat_hash.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>

#include "platform/disk.h"

namespace srctally {
namespace {

using platform::FolderIdentity;
using platform::FolderIdentityHash;

// Every key in the same slot: the last one, so probing has to wrap round to the first.
struct LastSlotHash {
  std::size_t operator()(const FolderIdentity&) const { return ~std::size_t{0}; }
};

// Keys that differ only above the low 16 bits fall into one slot of any table this size.
struct LowBitsHash {
  std::size_t operator()(const FolderIdentity& identity) const {
    return static_cast<std::size_t>(identity.index & 0xFFFF);
  }
};

bool IsPowerOfTwo(std::size_t n) { return n != 0 && (n & (n - 1)) == 0; }

TEST(FlatHashTest, GrowsThroughManyDoublingsAndKeepsEveryKey) {
  FlatHashSet<FolderIdentity, FolderIdentityHash> set;
  EXPECT_EQ(set.slotCount(), 0u);
  constexpr std::uint64_t kKeys = 100000;  // 64 slots doubled twelve times
  std::size_t lastSlots = 0;
  int doublings = 0;
  for (std::uint64_t k = 0; k < kKeys; ++k) {
    ASSERT_TRUE(set.Insert({7, k}));
    if (set.slotCount() != lastSlots) {
      EXPECT_TRUE(lastSlots == 0 || set.slotCount() == 2 * lastSlots) << set.slotCount();
      lastSlots = set.slotCount();
      ++doublings;
    }
    ASSERT_LE(set.size() * 8, set.slotCount() * 5) << k;  // at most 5/8 taken
  }
  EXPECT_EQ(set.size(), kKeys);
  EXPECT_TRUE(IsPowerOfTwo(set.slotCount()));
  EXPECT_GE(doublings, 12);
  for (std::uint64_t k = 0; k < kKeys; ++k) {
    ASSERT_TRUE(set.Contains({7, k})) << k;
    ASSERT_FALSE(set.Insert({7, k})) << k;
    ASSERT_FALSE(set.Contains({8, k})) << k;  // same index, another volume
  }
  EXPECT_EQ(set.size(), kKeys);
}

TEST(FlatHashTest, KeysThatCollideAreAllKept) {
  FlatHashSet<FolderIdentity, LastSlotHash> wrapping;
  FlatHashSet<FolderIdentity, LowBitsHash> lowBits;
  for (std::uint64_t k = 0; k < 500; ++k) {
    EXPECT_TRUE(wrapping.Insert({1, k}));
    EXPECT_TRUE(lowBits.Insert({1, k << 16}));
  }
  for (std::uint64_t k = 0; k < 500; ++k) {
    EXPECT_FALSE(wrapping.Insert({1, k})) << k;
    EXPECT_FALSE(lowBits.Insert({1, k << 16})) << k;
    EXPECT_TRUE(lowBits.Contains({1, k << 16})) << k;
  }
  EXPECT_FALSE(wrapping.Contains({1, 500}));
  EXPECT_FALSE(wrapping.Contains({2, 0}));
  EXPECT_FALSE(lowBits.Contains({1, 1}));
  EXPECT_EQ(wrapping.size(), 500u);
  EXPECT_EQ(lowBits.size(), 500u);
}

TEST(FlatHashTest, ValuesChangeInPlaceAndStayOnAnotherInsert) {
  // As the walk keeps its folders: true while one is an ancestor, false once walked.
  FlatHashMap<FolderIdentity, bool, FolderIdentityHash> walked;
  EXPECT_EQ(walked.Find({1, 1}), nullptr);  // no slots yet
  auto [value, added] = walked.TryEmplace({1, 1}, true);
  ASSERT_TRUE(added);
  EXPECT_TRUE(*value);
  *walked.Find({1, 1}) = false;
  const auto [again, addedAgain] = walked.TryEmplace({1, 1}, true);
  EXPECT_FALSE(addedAgain);
  EXPECT_FALSE(*again);  // the value stays as it was set
  for (std::uint64_t k = 2; k < 1000; ++k) walked.TryEmplace({1, k}, k % 2 == 0);
  ASSERT_NE(walked.Find({1, 1}), nullptr);
  EXPECT_FALSE(*walked.Find({1, 1}));  // moved by the growth with its value
  EXPECT_TRUE(*walked.Find({1, 998}));
  EXPECT_FALSE(*walked.Find({1, 999}));
  EXPECT_EQ(walked.Find({1, 1000}), nullptr);
  EXPECT_EQ(walked.Find({0, 0}), nullptr);
  const auto& constant = walked;
  EXPECT_EQ(constant.Find({2, 1}), nullptr);
}

TEST(FlatHashTest, ClearForgetsTheKeysAndKeepsTheSlots) {
  FlatHashMap<FolderIdentity, bool, FolderIdentityHash> map;
  for (std::uint64_t k = 0; k < 300; ++k) map.TryEmplace({3, k}, true);
  const std::size_t slots = map.slotCount();
  map.Clear();
  EXPECT_EQ(map.size(), 0u);
  EXPECT_EQ(map.slotCount(), slots);
  for (std::uint64_t k = 0; k < 300; ++k) ASSERT_EQ(map.Find({3, k}), nullptr) << k;
  EXPECT_TRUE(map.TryEmplace({3, 5}, false).second);
  EXPECT_EQ(map.size(), 1u);
  FlatHashSet<FolderIdentity, FolderIdentityHash> empty;
  empty.Clear();  // before any slot exists
  EXPECT_FALSE(empty.Contains({0, 0}));
}

TEST(FlatHashTest, IdentityHashSpreadsHighBitsOverTheLowOnes) {
  // Inode numbers or volumes that differ only in high bits must not share the low bits a
  // table of 1024 slots uses, or every insert would probe a long run.
  constexpr std::size_t kSlots = 1024;
  const FolderIdentityHash hash;
  std::set<std::size_t> highIndex;
  std::set<std::size_t> highVolume;
  std::set<std::size_t> volumeOnly;
  for (std::uint64_t k = 0; k < kSlots; ++k) {
    highIndex.insert(hash({1, k << 40}) & (kSlots - 1));
    highVolume.insert(hash({k << 48, 5}) & (kSlots - 1));
    volumeOnly.insert(hash({k, 5}) & (kSlots - 1));
  }
  // Random keys would take about 63% of the slots.
  EXPECT_GT(highIndex.size(), kSlots / 2);
  EXPECT_GT(highVolume.size(), kSlots / 2);
  EXPECT_GT(volumeOnly.size(), kSlots / 2);
}

}  // namespace
}  // namespace srctally
