// Lookup of values in a version block, bounded by the block and each enclosing node.
#include "runtime/version_block.h"

#include <algorithm>

namespace srctally {
namespace {

constexpr std::size_t kHeaderBytes = 6;

constexpr std::size_t Align4(std::size_t offset) { return (offset + 3) & ~std::size_t{3}; }

std::uint16_t Read16(std::span<const std::uint8_t> block, std::size_t offset) {
  return static_cast<std::uint16_t>(block[offset] | (block[offset + 1] << 8));
}

struct Node {
  std::size_t end = 0;
  std::size_t keyOffset = 0;
  std::size_t keyLength = 0;  // in UTF-16 units, without the NUL
  std::size_t childrenOffset = 0;
  VersionValue value;
};

// Reads the node at start, which must lie within [start, limit).
bool ReadNode(std::span<const std::uint8_t> block, std::size_t start, std::size_t limit,
              Node& node) {
  if (start + kHeaderBytes > limit) return false;
  const std::size_t length = Read16(block, start);
  if (length < kHeaderBytes || start + length > limit) return false;
  node.end = start + length;
  node.keyOffset = start + kHeaderBytes;
  std::size_t pos = node.keyOffset;
  while (pos + 2 <= node.end && Read16(block, pos) != 0) pos += 2;
  if (pos + 2 > node.end) return false;  // no NUL inside the node
  node.keyLength = (pos - node.keyOffset) / 2;

  const std::uint16_t valueLength = Read16(block, start + 2);
  const bool text = Read16(block, start + 4) == version::kTypeText;
  const std::size_t offset = std::min(Align4(pos + 2), node.end);
  const std::size_t declared = text ? std::size_t{valueLength} * 2 : valueLength;
  node.value.offset = offset;
  node.value.bytes = std::min(declared, node.end - offset);
  node.value.length = static_cast<std::uint32_t>(text ? node.value.bytes / 2 : node.value.bytes);
  node.childrenOffset = Align4(offset + node.value.bytes);
  return true;
}

bool KeyEquals(std::span<const std::uint8_t> block, const Node& node, WStringView key) {
  if (node.keyLength != key.size()) return false;
  for (std::size_t i = 0; i < key.size(); ++i) {
    const auto ch = static_cast<char16_t>(Read16(block, node.keyOffset + 2 * i));
    if (AsciiToLower(ch) != AsciiToLower(key[i])) return false;
  }
  return true;
}

bool FindChild(std::span<const std::uint8_t> block, const Node& parent, WStringView key,
               Node& child) {
  std::size_t pos = parent.childrenOffset;
  while (pos + kHeaderBytes <= parent.end) {
    if (!ReadNode(block, pos, parent.end, child)) return false;
    if (KeyEquals(block, child, key)) return true;
    pos = Align4(child.end);
  }
  return false;
}

}  // namespace

bool FindVersionValue(std::span<const std::uint8_t> block, WStringView path, VersionValue& value) {
  Node node;
  if (!ReadNode(block, 0, block.size(), node)) return false;
  std::size_t pos = 0;
  while (pos < path.size()) {
    const std::size_t next = std::min(path.find(u'\\', pos), path.size());
    if (next > pos) {
      Node child;
      if (!FindChild(block, node, path.substr(pos, next - pos), child)) return false;
      node = child;
    }
    pos = next + 1;
  }
  value = node.value;
  return true;
}

}  // namespace srctally
