#pragma once

#include <stdexcept>
#include <string>

namespace vendrake::engine {

// The kinds of failure the conversion can meet. Each is its own type so that
// callers catch exactly what they handle; all share one base.
enum class ErrorKind {
  kOverflow,
  kSubscript,
  kInvalidArgument,
  kFloatingPoint,
  kFile,
  kOutOfMemory
};

class Error : public std::runtime_error {
 public:
  Error(ErrorKind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
  ErrorKind Kind() const noexcept { return kind_; }

 private:
  ErrorKind kind_;
};

// A checked integer operation or narrowing left its range.
class OverflowError : public Error {
 public:
  explicit OverflowError(const std::string& message) : Error(ErrorKind::kOverflow, message) {}
};

// An index outside an array.
class SubscriptError : public Error {
 public:
  explicit SubscriptError(const std::string& message) : Error(ErrorKind::kSubscript, message) {}
};

// A text operation given a position that does not exist.
class InvalidArgumentError : public Error {
 public:
  explicit InvalidArgumentError(const std::string& message)
      : Error(ErrorKind::kInvalidArgument, message) {}
};

// A height multiplication raised invalid operation or overflow.
class FloatingPointError : public Error {
 public:
  explicit FloatingPointError(const std::string& message)
      : Error(ErrorKind::kFloatingPoint, message) {}
};

// What a failed file operation ran into, where the batch run acts on it.
enum class FileProblem {
  kOther,
  // The disk, a quota, or the descriptors a process may hold ran out: what
  // the outputs waiting for their names hold may be enough to free.
  kShortOfRoom,
  // A link whose target does not exist (yet).
  kLeadsNowhere,
  // A link that leads to something other than a normal file, such as a
  // folder, or to itself: not a file to scale, as if it were not listed.
  kLeadsToNoNormalFile,
  // A whole output that a stopped run left behind, set aside under a name of
  // its own for the user to look at: no model to scale.
  kSetAside,
  // A folder to open does not exist, or a folder on the way to it does not.
  kNoSuchFolder,
  // A folder to open is a file (on POSIX systems, a file on the way to it
  // too; Windows says of that that the path does not exist).
  kNotAFolder,
};

// Any failure of a file or folder operation.
class FileError : public Error {
 public:
  explicit FileError(const std::string& message, FileProblem problem = FileProblem::kOther)
      : Error(ErrorKind::kFile, message), problem_(problem) {}
  FileProblem Problem() const noexcept { return problem_; }

 private:
  FileProblem problem_;
};

// The system gave no more memory (std::bad_alloc) while a file was converted.
class OutOfMemoryError : public Error {
 public:
  explicit OutOfMemoryError(const std::string& message) : Error(ErrorKind::kOutOfMemory, message) {}
};

}  // namespace vendrake::engine
