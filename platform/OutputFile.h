// The output file of every writer. Opening it has the effect of "create
// always" for the caller: the file at the path is replaced as a whole. The
// bytes go to a temporary file in the same folder, which Commit() renames onto
// the path once everything is written and closed; a writer that fails never
// leaves a half-written image, and an older file at the path survives the
// failure. A path that exists but is not a regular file (/dev/null, a pipe) is
// written in place, since it cannot be replaced by a rename.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Stream.h"

namespace vornesk {

class TOutputFile : public TStream {
 public:
  // Raises EFCreateError naming the path when the file cannot be created.
  explicit TOutputFile(const std::string& path);
  // Without Commit() the temporary file is removed.
  ~TOutputFile() override;

  TOutputFile(const TOutputFile&) = delete;
  TOutputFile& operator=(const TOutputFile&) = delete;

  // Buffered; raises EWriteError when the system stores fewer bytes.
  void WriteBuffer(const void* data, std::size_t count) override;

  // Writes out the buffer, closes the file and puts it at the path. Raises
  // EWriteError on failure, after which the path is as it was.
  void Commit();

  const std::string& Path() const { return path_; }

 private:
  void Flush();
  void WriteAll(const std::uint8_t* data, std::size_t count);
  void Discard() noexcept;

  std::string path_;
  std::string target_;     // what the rename replaces (symbolic links resolved)
  std::string temporary_;  // empty when writing in place
  int fd_ = -1;
  bool committed_ = false;
  std::vector<std::uint8_t> buffer_;
};

}  // namespace vornesk
