// The scans of ScanMasks: plain C++, SSE2 and AVX2. Each turns 64 characters into one word
// of each mask. A 16-bit unit is narrowed to a byte with unsigned saturation first (a unit
// above 0xFF becomes 0xFF, or 0 when its top bit is set), which keeps a line feed and the
// specials what they are and makes every other unit a byte that is neither.
#include "counting/scan_masks.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/wide_space.h"

#if defined(__SSE2__)
#define SRCTALLY_SCAN_SSE2 1
#include <emmintrin.h>
#endif

// AVX2 code is compiled for its functions alone (a target attribute), so the program needs
// no AVX2 build flag and runs on processors without it; the path is chosen at run time.
#if defined(__GNUC__) && defined(__x86_64__)
#define SRCTALLY_SCAN_AVX2 1
#define SRCTALLY_TARGET_AVX2 __attribute__((target("avx2")))
#include <immintrin.h>
#endif

namespace srctally {
namespace {

using Byte = unsigned char;

template <ScanUnit kUnit>
constexpr std::size_t kUnitBytes = kUnit == ScanUnit::kByte ? 1 : 2;

constexpr std::array<std::uint8_t, 256> MakeSpecialTable() {
  std::array<std::uint8_t, 256> table{};
  for (const char ch : {'"', '/', '*', '\\'}) table[static_cast<Byte>(ch)] = 1;
  return table;
}
constexpr std::array<std::uint8_t, 256> kSpecial = MakeSpecialTable();

// The white space below 0x80 as runs of consecutive characters, which a vector compares a
// run at a time: usually two runs (tab to carriage return, and the space).
struct BlankRuns {
  static constexpr unsigned kMax = 4;
  unsigned count = 0;
  bool exact = true;
  Byte first[kMax] = {};
  Byte span[kMax] = {};  // last - first
  bool table[256] = {};  // the same characters, for the plain scan
};

const BlankRuns& AsciiBlanks() {
  static const BlankRuns runs = [] {
    BlankRuns made;
    const std::uint64_t* const spaces = platform::WideSpaceBits();
    for (unsigned ch = 0; ch < 0x80;) {
      if (((spaces[ch / 64] >> (ch % 64)) & 1) == 0) {
        ++ch;
        continue;
      }
      unsigned last = ch;
      while (last + 1 < 0x80 && ((spaces[(last + 1) / 64] >> ((last + 1) % 64)) & 1) != 0) ++last;
      if (made.count == BlankRuns::kMax) {
        made.exact = false;
      } else {
        made.first[made.count] = static_cast<Byte>(ch);
        made.span[made.count] = static_cast<Byte>(last - ch);
        ++made.count;
        for (unsigned blank = ch; blank <= last; ++blank) made.table[blank] = true;
      }
      ch = last + 1;
    }
    return made;
  }();
  return runs;
}

inline void Store(ScanMasks& masks, std::size_t word, std::uint64_t lineFeeds,
                  std::uint64_t specials, std::uint64_t high, std::uint64_t blanks) {
  masks.lineFeeds[word] = lineFeeds;
  masks.specials[word] = specials;
  masks.high[word] = high;
  masks.blanks[word] = blanks;
}

// ---- Plain C++ ----

template <ScanUnit kUnit>
inline unsigned CharAt(const Byte* data, std::size_t i) {
  if constexpr (kUnit == ScanUnit::kByte) {
    return data[i];
  } else {
    const unsigned unit = data[2 * i] | (data[2 * i + 1] << 8);
    return unit > 0xFF ? 0xFF : unit;
  }
}

template <ScanUnit kUnit>
void ScanPlain(const Byte* data, std::size_t count, ScanMasks& masks) {
  const BlankRuns& blankRuns = AsciiBlanks();
  for (std::size_t word = 0; word * 64 < count; ++word) {
    const std::size_t n = std::min<std::size_t>(64, count - word * 64);
    std::uint64_t lineFeeds = 0, specials = 0, high = 0, blanks = 0;
    for (std::size_t bit = 0; bit < n; ++bit) {
      const unsigned ch = CharAt<kUnit>(data, word * 64 + bit);
      lineFeeds |= std::uint64_t{ch == '\n'} << bit;
      specials |= std::uint64_t{kSpecial[ch]} << bit;
      high |= std::uint64_t{ch >> 7} << bit;
      blanks |= std::uint64_t{blankRuns.table[ch]} << bit;
    }
    Store(masks, word, lineFeeds, specials, high, blanks);
  }
}

// Runs word(bytes, index) over every whole word of the count characters at data, then over
// a zeroed copy of the rest (a zero byte is neither a line feed nor special).
template <ScanUnit kUnit, class Word>
inline void ForEachWord(const Byte* data, std::size_t count, Word word) {
  constexpr std::size_t wordBytes = 64 * kUnitBytes<kUnit>;
  std::size_t index = 0;
  for (; (index + 1) * 64 <= count; ++index) word(data + index * wordBytes, index);
  const std::size_t rest = count - index * 64;
  if (rest != 0) {
    Byte tail[wordBytes] = {};
    std::memcpy(tail, data + index * wordBytes, rest * kUnitBytes<kUnit>);
    word(tail, index);
  }
}

// ---- SSE2 ----

#if defined(SRCTALLY_SCAN_SSE2)
template <ScanUnit kUnit>
inline __m128i Sse2Chars(const Byte* p) {  // 16 characters as 16 bytes
  const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  if constexpr (kUnit == ScanUnit::kByte) {
    return first;
  } else {
    return _mm_packus_epi16(first, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)));
  }
}

template <ScanUnit kUnit>
void ScanSse2(const Byte* data, std::size_t count, ScanMasks& masks) {
  const __m128i lineFeed = _mm_set1_epi8('\n');
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i slash = _mm_set1_epi8('/');
  const __m128i star = _mm_set1_epi8('*');
  const __m128i backslash = _mm_set1_epi8('\\');
  const BlankRuns& blankRuns = AsciiBlanks();
  __m128i blankFirst[BlankRuns::kMax], blankSpan[BlankRuns::kMax];
  for (unsigned run = 0; run < blankRuns.count; ++run) {
    blankFirst[run] = _mm_set1_epi8(static_cast<char>(blankRuns.first[run]));
    blankSpan[run] = _mm_set1_epi8(static_cast<char>(blankRuns.span[run]));
  }
  ForEachWord<kUnit>(data, count, [&](const Byte* p, std::size_t index) {
    std::uint64_t lineFeeds = 0, specials = 0, high = 0, blanks = 0;
    for (unsigned part = 0; part < 4; ++part) {
      const __m128i chars = Sse2Chars<kUnit>(p + part * 16 * kUnitBytes<kUnit>);
      const __m128i special =
          _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(chars, quote), _mm_cmpeq_epi8(chars, slash)),
                       _mm_or_si128(_mm_cmpeq_epi8(chars, star), _mm_cmpeq_epi8(chars, backslash)));
      const auto bits = [](__m128i v) { return std::uint64_t{unsigned(_mm_movemask_epi8(v))}; };
      // In a run when chars - first, taken unsigned, is at most span.
      __m128i blank = _mm_setzero_si128();
      for (unsigned run = 0; run < blankRuns.count; ++run) {
        const __m128i offset = _mm_sub_epi8(chars, blankFirst[run]);
        blank = _mm_or_si128(blank, _mm_cmpeq_epi8(_mm_min_epu8(offset, blankSpan[run]), offset));
      }
      lineFeeds |= bits(_mm_cmpeq_epi8(chars, lineFeed)) << (part * 16);
      specials |= bits(special) << (part * 16);
      high |= bits(chars) << (part * 16);
      blanks |= bits(blank) << (part * 16);
    }
    Store(masks, index, lineFeeds, specials, high, blanks);
  });
}
#endif

// ---- AVX2 ----

#if defined(SRCTALLY_SCAN_AVX2)
// 32 bits of one 32-byte comparison.
SRCTALLY_TARGET_AVX2 inline std::uint64_t Avx2Bits(__m256i v) {
  return std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(v))};
}

// One word: 64 characters at p.
struct Avx2Blanks {
  unsigned count;
  __m256i first[BlankRuns::kMax];
  __m256i span[BlankRuns::kMax];
};

template <ScanUnit kUnit>
SRCTALLY_TARGET_AVX2 inline void Avx2Word(const Byte* p, const Avx2Blanks& blankRuns,
                                          ScanMasks& masks, std::size_t index) {
  const __m256i lineFeed = _mm256_set1_epi8('\n');
  const __m256i quote = _mm256_set1_epi8('"');
  const __m256i slash = _mm256_set1_epi8('/');
  const __m256i star = _mm256_set1_epi8('*');
  const __m256i backslash = _mm256_set1_epi8('\\');
  std::uint64_t lineFeeds = 0, specials = 0, high = 0, blanks = 0;
  for (unsigned part = 0; part < 2; ++part) {
    const Byte* const at = p + part * 32 * kUnitBytes<kUnit>;
    __m256i chars = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
    if constexpr (kUnit == ScanUnit::kUtf16) {
      // The pack works within 128-bit lanes; the permute puts the 32 bytes back in order.
      chars =
          _mm256_packus_epi16(chars, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 32)));
      chars = _mm256_permute4x64_epi64(chars, 0xD8);
    }
    const __m256i special = _mm256_or_si256(
        _mm256_or_si256(_mm256_cmpeq_epi8(chars, quote), _mm256_cmpeq_epi8(chars, slash)),
        _mm256_or_si256(_mm256_cmpeq_epi8(chars, star), _mm256_cmpeq_epi8(chars, backslash)));
    __m256i blank = _mm256_setzero_si256();
    for (unsigned run = 0; run < blankRuns.count; ++run) {
      const __m256i offset = _mm256_sub_epi8(chars, blankRuns.first[run]);
      blank = _mm256_or_si256(
          blank, _mm256_cmpeq_epi8(_mm256_min_epu8(offset, blankRuns.span[run]), offset));
    }
    lineFeeds |= Avx2Bits(_mm256_cmpeq_epi8(chars, lineFeed)) << (part * 32);
    specials |= Avx2Bits(special) << (part * 32);
    high |= Avx2Bits(chars) << (part * 32);
    blanks |= Avx2Bits(blank) << (part * 32);
  }
  Store(masks, index, lineFeeds, specials, high, blanks);
}

template <ScanUnit kUnit>
SRCTALLY_TARGET_AVX2 void ScanAvx2(const Byte* data, std::size_t count, ScanMasks& masks) {
  constexpr std::size_t wordBytes = 64 * kUnitBytes<kUnit>;
  const BlankRuns& runs = AsciiBlanks();
  Avx2Blanks blankRuns;
  blankRuns.count = runs.count;
  for (unsigned run = 0; run < runs.count; ++run) {
    blankRuns.first[run] = _mm256_set1_epi8(static_cast<char>(runs.first[run]));
    blankRuns.span[run] = _mm256_set1_epi8(static_cast<char>(runs.span[run]));
  }
  std::size_t index = 0;
  for (; (index + 1) * 64 <= count; ++index)
    Avx2Word<kUnit>(data + index * wordBytes, blankRuns, masks, index);
  const std::size_t rest = count - index * 64;
  if (rest != 0) {
    Byte tail[wordBytes] = {};
    std::memcpy(tail, data + index * wordBytes, rest * kUnitBytes<kUnit>);
    Avx2Word<kUnit>(tail, blankRuns, masks, index);
  }
}

bool HasAvx2() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return has;
}
#endif

}  // namespace

ScanFunction GetScanFunction(ScanPath path, ScanUnit unit) {
  const bool bytes = unit == ScanUnit::kByte;
  switch (path) {
    case ScanPath::kPlain:
      return bytes ? ScanPlain<ScanUnit::kByte> : ScanPlain<ScanUnit::kUtf16>;
    case ScanPath::kSse2:
#if defined(SRCTALLY_SCAN_SSE2)
      return bytes ? ScanSse2<ScanUnit::kByte> : ScanSse2<ScanUnit::kUtf16>;
#else
      break;
#endif
    case ScanPath::kAvx2:
#if defined(SRCTALLY_SCAN_AVX2)
      if (!HasAvx2()) break;
      return bytes ? ScanAvx2<ScanUnit::kByte> : ScanAvx2<ScanUnit::kUtf16>;
#else
      break;
#endif
  }
  return nullptr;
}

bool ScanBlanksExact() { return AsciiBlanks().exact; }

ScanPath FastestScanPath() {
  static const ScanPath fastest = [] {
    for (const ScanPath path : {ScanPath::kAvx2, ScanPath::kSse2}) {
      if (GetScanFunction(path, ScanUnit::kByte) != nullptr) return path;
    }
    return ScanPath::kPlain;
  }();
  return fastest;
}

}  // namespace srctally
