// The exception classes of the platform layer. Every failure that reaches the
// user is one of these (or a class derived from Exception elsewhere), carrying
// one fixed message; the entry point decides how it is shown.
#pragma once

#include <exception>
#include <string>

namespace vornesk {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const std::string& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

class EStreamError : public Exception {
 public:
  using Exception::Exception;
};

class EFileStreamError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

// "Cannot create file "%s". %s": the absolute path, then the system's reason.
class EFCreateError : public EFileStreamError {
 public:
  using EFileStreamError::EFileStreamError;
  static EFCreateError ForPath(const std::string& path, int errorCode);
};

// "Stream write error": a write that stored fewer bytes than asked.
class EWriteError : public EStreamError {
 public:
  EWriteError() : EStreamError("Stream write error") {}
};

class EOutOfMemory : public Exception {
 public:
  EOutOfMemory() : Exception("Out of memory") {}
  using Exception::Exception;
};

// A raster or device-independent copy the system cannot provide.
class EOutOfResources : public EOutOfMemory {
 public:
  EOutOfResources() : EOutOfMemory("Out of system resources") {}
  using EOutOfMemory::EOutOfMemory;
};

// "Cannot assign a %s to a %s".
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

class EInvalidCast : public Exception {
 public:
  EInvalidCast() : Exception("Invalid class typecast") {}
};

// The system's text for an error code, stripped of trailing full stops,
// spaces and control characters.
std::string SysErrorMessage(int errorCode);

// The path made absolute against the current directory, with "." and ".."
// resolved lexically.
std::string ExpandFileName(const std::string& path);

}  // namespace vornesk
