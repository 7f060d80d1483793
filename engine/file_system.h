#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace vendrake::engine {

// The file operations the batch run needs, on Windows-syntax path texts: "\"
// separates components, runs of separators count as one, and a drive prefix
// such as C: may lead. Every operation that can fail throws FileError.

// The names (without folder) of one folder's normal files: not folders, not
// hidden, not system files. Read one at a time in the platform's order.
class FolderListing {
 public:
  virtual ~FolderListing() = default;
  // The next name, or the empty name when there are no more.
  virtual std::u16string Next() = 0;
};

// A file open for reading; closed when destroyed.
class InputFile {
 public:
  virtual ~InputFile() = default;
  virtual std::uint64_t Length() = 0;
  // Fills `bytes` from the start of the file; fails if the file is shorter.
  virtual void Read(std::span<std::uint8_t> bytes) = 0;
};

// The new contents of one output file. They are staged in a hidden temporary
// file beside the output and take the output's place only on Commit, so a
// failure at any point leaves whatever was at the output name untouched.
// Destroying an uncommitted file removes the temporary file.
class OutputFile {
 public:
  virtual ~OutputFile() = default;
  // Appends `bytes` to the staged contents.
  virtual void Write(std::span<const std::uint8_t> bytes) = 0;
  // Replaces the output (a file or a link, never followed) with the staged contents.
  virtual void Commit() = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Starts a listing of the normal files in `folder`.
  virtual std::unique_ptr<FolderListing> ListNormalFiles(std::u16string_view folder) = 0;
  // Creates one folder level; fails if it exists or its parent does not.
  virtual void CreateFolder(std::u16string_view folder) = 0;
  // Opens a normal file for reading.
  virtual std::unique_ptr<InputFile> OpenForReading(std::u16string_view path) = 0;
  // Stages new contents for the file at `path`, which need not exist yet.
  virtual std::unique_ptr<OutputFile> OpenForReplacing(std::u16string_view path) = 0;
  // Whether both texts name the same existing folder; false when either is missing.
  virtual bool IsSameFolder(std::u16string_view first, std::u16string_view second) = 0;
};

}  // namespace vendrake::engine
