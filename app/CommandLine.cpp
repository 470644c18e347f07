#include "app/CommandLine.h"

namespace vornesk {

TParams::TParams(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i)
    if (argv[i] != nullptr && argv[i][0] != '\0') params_.emplace_back(argv[i]);
}

TParams::TParams(std::vector<std::string> arguments) {
  for (auto& argument : arguments)
    if (!argument.empty()) params_.push_back(std::move(argument));
}

std::string TParams::ParamStr(int n) const {
  if (n < 1 || n > ParamCount()) return {};
  return params_[static_cast<std::size_t>(n - 1)];
}

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<std::int32_t> ParseNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;

  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }

  bool hex = false;
  if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    hex = true;
    i += 1;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }

  if (i >= text.size()) return std::nullopt;

  if (hex) {
    std::uint64_t value = 0;
    for (; i < text.size(); ++i) {
      const int digit = HexDigit(text[i]);
      if (digit < 0) return std::nullopt;
      value = value * 16 + static_cast<unsigned>(digit);
      if (value > 0xFFFFFFFFu) return std::nullopt;
    }
    // Two's complement, then the sign; negating INT32_MIN stays INT32_MIN.
    const auto bits = static_cast<std::uint32_t>(value);
    const std::uint32_t result = negative ? 0u - bits : bits;
    return static_cast<std::int32_t>(result);
  }

  std::int64_t value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > std::int64_t{2147483648}) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > 2147483647 || value < -std::int64_t{2147483648}) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

std::int32_t StrToIntDef(std::string_view text, std::int32_t fallback) {
  return ParseNumber(text).value_or(fallback);
}

std::string ExtractFileExt(std::string_view path) {
  const std::size_t last = path.find_last_of(".\\:");
  if (last == std::string_view::npos || path[last] != '.') return {};
  return std::string(path.substr(last));
}

std::string LowerCaseAscii(std::string_view text) {
  std::string result(text);
  for (char& c : result)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return result;
}

std::string OutputExtension(std::string_view path) {
  return LowerCaseAscii(ExtractFileExt(path));
}

}  // namespace vornesk
