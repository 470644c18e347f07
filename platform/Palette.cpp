#include "platform/Palette.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace vornesk {

PaletteHandle CreatePalette(const TPaletteEntry* entries, int count) {
  count = std::clamp(count, 0, TPalette::kMaxEntries);
  return std::make_unique<TPalette>(std::vector<TPaletteEntry>(entries, entries + count));
}

PaletteHandle CreateHalftonePalette() {
  std::vector<TPaletteEntry> entries;
  entries.reserve(TPalette::kMaxEntries);
  constexpr std::uint8_t kLevels[6] = {0, 51, 102, 153, 204, 255};
  for (auto red : kLevels)
    for (auto green : kLevels)
      for (auto blue : kLevels) entries.push_back({red, green, blue, 0});
  for (int i = 1; entries.size() < TPalette::kMaxEntries; ++i) {
    const auto grey = static_cast<std::uint8_t>(i * 6);
    entries.push_back({grey, grey, grey, 0});
  }
  return std::make_unique<TPalette>(std::move(entries));
}

bool ResizePalette(TPalette& palette, int count) {
  if (count < 1 || count > TPalette::kMaxEntries) return false;
  palette.Entries().resize(static_cast<std::size_t>(count));
  return true;
}

int GetPaletteEntries(const TPalette& palette, int start, int count, TPaletteEntry* out) {
  if (start < 0 || count <= 0 || start >= palette.EntryCount()) return 0;
  const int n = std::min(count, palette.EntryCount() - start);
  std::copy_n(palette.Entries().begin() + start, n, out);
  return n;
}

int SetPaletteEntries(TPalette& palette, int start, int count, const TPaletteEntry* entries) {
  if (start < 0 || count <= 0 || start >= palette.EntryCount()) return 0;
  const int n = std::min(count, palette.EntryCount() - start);
  std::copy_n(entries, n, palette.Entries().begin() + start);
  return n;
}

std::int32_t MulDiv(std::int32_t a, std::int32_t b, std::int32_t c) {
  if (c == 0) return -1;
  const std::int64_t product = static_cast<std::int64_t>(a) * b;
  std::int64_t quotient = product / c;
  const std::int64_t remainder = product % c;
  if (2 * std::llabs(remainder) >= std::llabs(c)) quotient += ((product < 0) != (c < 0)) ? -1 : 1;
  if (quotient > std::numeric_limits<std::int32_t>::max() ||
      quotient < std::numeric_limits<std::int32_t>::min())
    return -1;
  return static_cast<std::int32_t>(quotient);
}

}  // namespace vornesk
