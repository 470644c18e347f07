// Logical palettes: up to 256 red, green, blue entries. An owned palette is a
// std::unique_ptr<TPalette>; whoever holds the pointer releases it.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace vornesk {

struct TPaletteEntry {
  std::uint8_t peRed = 0;
  std::uint8_t peGreen = 0;
  std::uint8_t peBlue = 0;
  std::uint8_t peFlags = 0;
};

class TPalette {
 public:
  static constexpr int kMaxEntries = 256;
  explicit TPalette(std::vector<TPaletteEntry> entries) : entries_(std::move(entries)) {}
  int EntryCount() const { return static_cast<int>(entries_.size()); }
  const std::vector<TPaletteEntry>& Entries() const { return entries_; }
  std::vector<TPaletteEntry>& Entries() { return entries_; }

 private:
  std::vector<TPaletteEntry> entries_;
};

using PaletteHandle = std::unique_ptr<TPalette>;

// At most 256 entries are taken.
PaletteHandle CreatePalette(const TPaletteEntry* entries, int count);
// A fixed 256-colour palette (a 6 x 6 x 6 colour cube, a grey ramp and black).
PaletteHandle CreateHalftonePalette();
// New entries are black; the count is clamped to 1..256. False when the
// request is out of range.
bool ResizePalette(TPalette& palette, int count);
// Copies entries start .. start + count - 1 that exist; returns how many.
int GetPaletteEntries(const TPalette& palette, int start, int count, TPaletteEntry* out);
int SetPaletteEntries(TPalette& palette, int start, int count, const TPaletteEntry* entries);

// a * b / c rounded to the nearest integer (halves away from zero); -1 when c
// is 0 or the result does not fit 32 bits.
std::int32_t MulDiv(std::int32_t a, std::int32_t b, std::int32_t c);

}  // namespace vornesk
