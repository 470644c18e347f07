#include "platform/Exceptions.h"

#include <cstring>
#include <filesystem>
#include <system_error>

namespace vornesk {

std::string SysErrorMessage(int errorCode) {
  std::string text = std::strerror(errorCode);
  while (!text.empty()) {
    const auto last = static_cast<unsigned char>(text.back());
    if (last != '.' && last > 32) break;
    text.pop_back();
  }
  return text;
}

std::string ExpandFileName(const std::string& path) {
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(path, error);
  if (error) absolute = std::filesystem::path(path);
  return absolute.lexically_normal().string();
}

EFCreateError EFCreateError::ForPath(const std::string& path, int errorCode) {
  return EFCreateError("Cannot create file \"" + ExpandFileName(path) + "\". " +
                       SysErrorMessage(errorCode));
}

}  // namespace vornesk
