// Marks the line feeds and the special characters of a slice of text in one pass, a vector
// at a time: the one place that knows the processor's vector instructions.
#pragma once

#include <cstddef>
#include <cstdint>

namespace srctally {

/// Bits for up to kChars characters of a text: bit i % 64 of word i / 64 stands for the
/// character at index i. Bits past the characters scanned are 0 up to the end of their word;
/// later words are not written. Each mask has one word more than kChars needs, so that 64
/// bits from any scanned character on can be read (what lies past the scan means nothing).
struct ScanMasks {
  static constexpr std::size_t kChars = 4096;
  static constexpr std::size_t kWords = kChars / 64;
  std::uint64_t lineFeeds[kWords + 1];  // LF
  std::uint64_t specials[kWords + 1];   // " / * and backslash: may change a comment or string
  std::uint64_t high[kWords + 1];       // bytes from 0x80 up (byte scans only)
  std::uint64_t blanks[kWords + 1];     // characters below 0x80 that are white space
};

/// Whether the blanks of ScanMasks are every white-space character below 0x80
/// (platform::WideSpaceBits). They are unless that set is split into more runs of
/// consecutive characters than a scan compares against; then blanks marks only some of them.
bool ScanBlanksExact();

/// What a character of the scanned text is: a byte, or a 16-bit little-endian unit (a unit
/// above 0xFF is never a line feed or special).
enum class ScanUnit : std::uint8_t { kByte, kUtf16 };

/// The ways of scanning: plain C++ everywhere, SSE2 (16 bytes a step) where the build targets
/// it, AVX2 (32 bytes a step) on x86-64 processors that have it.
enum class ScanPath : std::uint8_t { kPlain, kSse2, kAvx2 };

/// Fills masks for the count characters (count <= ScanMasks::kChars) at data. Reads nothing
/// past them.
using ScanFunction = void (*)(const unsigned char* data, std::size_t count, ScanMasks& masks);

/// The scan of path for unit, or nullptr when this build or this processor cannot run it.
ScanFunction GetScanFunction(ScanPath path, ScanUnit unit);

/// The fastest path this processor runs, decided once.
ScanPath FastestScanPath();

}  // namespace srctally
