// The command-line contract: parameter access, the number rule for the width
// and height, and the output path's extension.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vornesk {

constexpr std::int32_t kDefaultWidth = 1024;
constexpr std::int32_t kDefaultHeight = 768;
constexpr const char* kDefaultOutputPath = "out.png";

// The parameters as the program was given them. Empty arguments are dropped:
// the Windows command-line split skips them, and scripts that pass "" for an
// unused position rely on that.
class TParams {
 public:
  TParams() = default;
  TParams(int argc, const char* const* argv);
  explicit TParams(std::vector<std::string> arguments);  // without the program path

  int ParamCount() const { return static_cast<int>(params_.size()); }
  // Parameter n, counted from 1; empty when there are fewer than n.
  std::string ParamStr(int n) const;

 private:
  std::vector<std::string> params_;
};

// The number rule for the width and height: optional spaces, an optional
// sign, then decimal digits or a hexadecimal part ("$", "x", "X", "0x", "0X"
// and digits), and nothing after. Decimal values must fit a signed 32-bit
// integer; hexadecimal ones may use all 32 bits, read as two's complement.
std::optional<std::int32_t> ParseNumber(std::string_view text);

// ParseNumber, or `fallback` when the text is not a number.
std::int32_t StrToIntDef(std::string_view text, std::int32_t fallback);

// The text from the last "." to the end, when no "\" or ":" follows that
// "."; otherwise empty. "/" is an ordinary character here.
std::string ExtractFileExt(std::string_view path);

// A to Z become a to z; every other byte is left as it is.
std::string LowerCaseAscii(std::string_view text);

// The lower-cased extension that chooses the writer.
std::string OutputExtension(std::string_view path);

}  // namespace vornesk
