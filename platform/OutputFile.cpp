#include "platform/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/Exceptions.h"

namespace vornesk {

namespace {

constexpr std::size_t kBufferSize = 1 << 16;
// A dot before the name and a unique suffix after it.
constexpr std::size_t kTemporaryNameExtra = 8;

// How much of a file's name its temporary name can keep in `folder`.
std::size_t TemporaryStemLimit(const std::filesystem::path& folder) {
  long nameMax = pathconf(folder.c_str(), _PC_NAME_MAX);
  if (nameMax <= 0) nameMax = NAME_MAX;
  const auto limit = static_cast<std::size_t>(nameMax);
  return limit > kTemporaryNameExtra ? limit - kTemporaryNameExtra : 1;
}

mode_t CurrentUmask() {
  const mode_t mask = umask(0);
  umask(mask);
  return mask;
}

}  // namespace

TOutputFile::TOutputFile(const std::string& path) : path_(path), target_(path) {
  if (path.empty()) throw EFCreateError::ForPath(path, ENOENT);

  struct stat info {};
  const bool exists = stat(path.c_str(), &info) == 0;
  if (exists && !S_ISREG(info.st_mode)) {
    fd_ = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd_ < 0) throw EFCreateError::ForPath(path, errno);
    buffer_.reserve(kBufferSize);
    return;
  }

  mode_t mode = 0666 & ~CurrentUmask();
  if (exists) {
    // Replacing a file we could not open for writing would bypass its
    // permissions; refuse as opening it would.
    if (access(path.c_str(), W_OK) != 0) throw EFCreateError::ForPath(path, errno);
    mode = info.st_mode & 07777;
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) != nullptr) target_ = resolved;
  }

  const std::filesystem::path target(target_);
  std::filesystem::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  // A name near the folder's limit is shortened in the temporary name, so
  // that any name that can be created can be written through a temporary
  // file.
  std::string name = ".";
  name += target.filename().string().substr(0, TemporaryStemLimit(folder));
  name += ".XXXXXX";
  std::string pattern = (folder / name).string();
  fd_ = mkostemp(pattern.data(), O_CLOEXEC);
  if (fd_ < 0 && exists && (errno == EACCES || errno == EPERM)) {
    // A writable file in a folder we may not add to cannot be replaced, only
    // overwritten; that is still what the caller asked for.
    fd_ = open(target_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd_ < 0) throw EFCreateError::ForPath(path, errno);
    buffer_.reserve(kBufferSize);
    return;
  }
  if (fd_ < 0) throw EFCreateError::ForPath(path, errno);
  temporary_ = pattern;
  fchmod(fd_, mode);
  buffer_.reserve(kBufferSize);
}

TOutputFile::~TOutputFile() {
  if (!committed_) Discard();
}

void TOutputFile::Discard() noexcept {
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
  if (!temporary_.empty()) {
    unlink(temporary_.c_str());
    temporary_.clear();
  }
}

void TOutputFile::WriteAll(const std::uint8_t* data, std::size_t count) {
  while (count > 0) {
    const ssize_t written = write(fd_, data, count);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) throw EWriteError();
    data += written;
    count -= static_cast<std::size_t>(written);
  }
}

void TOutputFile::Flush() {
  if (buffer_.empty()) return;
  WriteAll(buffer_.data(), buffer_.size());
  buffer_.clear();
}

void TOutputFile::WriteBuffer(const void* data, std::size_t count) {
  if (fd_ < 0) throw EWriteError();
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  if (buffer_.size() + count <= kBufferSize) {
    buffer_.insert(buffer_.end(), bytes, bytes + count);
    return;
  }
  Flush();
  if (count >= kBufferSize) {
    WriteAll(bytes, count);
  } else {
    buffer_.insert(buffer_.end(), bytes, bytes + count);
  }
}

void TOutputFile::Commit() {
  if (committed_) return;
  Flush();
  const int fd = fd_;
  fd_ = -1;
  if (close(fd) != 0) {
    Discard();
    throw EWriteError();
  }
  if (!temporary_.empty()) {
    if (rename(temporary_.c_str(), target_.c_str()) != 0) {
      Discard();
      throw EWriteError();
    }
    temporary_.clear();
  }
  committed_ = true;
}

}  // namespace vornesk
