#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vendrake::engine {

// The file operations the batch run needs. Every implementation keeps the
// promises written here; tests/engine/file_system_contract_test.cpp holds each
// one to them.
//
// Folders are named by Windows-syntax path texts: "\" separates components,
// runs of separators count as one, and a drive prefix such as C: may lead.
// Files are named inside a folder by a plain name, which holds no separator.
// Every operation that fails throws FileError, whose message names the file
// or folder and the platform's reason.
//
// The folders a run reads and writes may be shared with other people, so
// nothing found in them is trusted: a name may lead to a link, a link may
// lead anywhere, and the folder itself may be swapped for another while the
// run goes on.

// Which file a name leads to, whatever the name: two names of one file, or a
// link and its target, have the same identity. Where a volume gives no file
// ID (it reports 0), no unique one (all ones), or one it cannot keep (some
// network shares reuse an ID once a handle closes), the identity is unknown:
// an implementation reports it as all zeros, and it matches no file, not even
// its own.
struct FileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t file = 0;
  std::uint64_t file_high = 0;  // the upper half where file IDs have 128 bits
  bool operator==(const FileIdentity&) const = default;

  bool Known() const {
    constexpr std::uint64_t kAllOnes = ~std::uint64_t{0};
    return !(file == 0 && file_high == 0) && !(file == kAllOnes && file_high == kAllOnes);
  }
};

struct FileIdentityHash {
  std::size_t operator()(const FileIdentity& identity) const noexcept {
    return std::hash<std::uint64_t>{}((identity.file ^ identity.file_high) * 0x9E3779B97F4A7C15ULL ^
                                      identity.volume);
  }
};

// Permission bits in the POSIX sense: read, write and execute for owner,
// group and others (0777 at most). Platforms without them report and take
// kDefaultPermissions.
using Permissions = std::uint32_t;
inline constexpr Permissions kDefaultPermissions = 0666;

// The names of one folder's normal files: not folders, not hidden, not system
// files, and not the staging files of output in progress. A link that leads
// to no file is listed too, so that the run can say why it passed it over.
// Where the platform can, every link is listed, whatever it leads to now: an
// output the run names meanwhile may change that, and the run looks when it
// opens the name.
// Read one at a time in the platform's order, never collected.
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
  // Which file this is, however it was reached.
  virtual FileIdentity Identity() = 0;
  // Who may use the file; a new output made from it takes these.
  virtual Permissions PermissionBits() = 0;
};

// The new contents of one output file, staged where no listing sees them.
// They take the output's name only on Commit, so a failure at any point, or a
// process that stops for good, leaves whatever was at the output name
// exactly as it was. Destroying an uncommitted file removes what was staged.
class OutputFile {
 public:
  virtual ~OutputFile() = default;
  // Appends `bytes` to the staged contents; where the system gains by it, it
  // starts them on their way to the disk, without waiting for them.
  virtual void Write(std::span<const std::uint8_t> bytes) = 0;
  // Gives the staged contents the output's name and returns their identity,
  // taken once they have it (on some volumes a rename changes a file's ID).
  // Whatever had that name is replaced, never followed or written into:
  // - an existing file that the running user could not write in place (its
  //   permissions or attributes make it read-only, or they give this user no
  //   write access) stays as it is, and Commit fails;
  // - an existing file keeps its permission bits, and only those (never
  //   set-user-ID, set-group-ID or sticky bits), or where files carry
  //   attributes instead, its attributes;
  // - a link at the name is replaced by the file, and its target is untouched;
  // - a new output is never hidden. It gets the source's permission bits
  //   given to Folder::OpenForReplacing, plus write permission for its owner,
  //   limited by the process's defaults (the umask), so it is never more
  //   readable than its source.
  // Whatever had the name, the staged contents are on the disk before they
  // take it, so that after a crash or a power loss a new output is absent or
  // whole, and a replaced one is the old file or the new one, whole: either
  // Folder::FlushStaged brought them there since they were written, or Commit
  // flushes them itself, at the cost of a flush of the disk for this output
  // alone. When FlushStaged found that they could not be written, Commit
  // fails with that reason.
  virtual FileIdentity Commit() = 0;
};

class Folder;

// Where a link leads: the folder that holds its target, opened, and the
// target's name in it.
struct LinkTarget {
  std::unique_ptr<Folder> folder;
  std::u16string name;
};

// A folder opened once by its path text. Every operation works in that very
// folder for as long as the object lives, even if its path text comes to name
// another folder (the folder is moved away, or replaced by a link to
// somewhere else) in the meantime. A link given as the path text when the
// folder is opened is followed.
class Folder {
 public:
  virtual ~Folder() = default;

  // Starts a listing of the folder's normal files.
  virtual std::unique_ptr<FolderListing> ListNormalFiles() = 0;
  // Opens the normal file `name` for reading; a link is followed. A link
  // that leads to no file fails with FileProblem::kLeadsNowhere; one that
  // leads to something other than a normal file, with
  // FileProblem::kLeadsToNoNormalFile; a file that
  // the staging clean-up set aside for the user, with FileProblem::kSetAside;
  // running out of descriptors, with FileProblem::kShortOfRoom.
  virtual std::unique_ptr<InputFile> OpenForReading(std::u16string_view name) = 0;
  // Which file has the name `name` in the folder, a link itself rather than
  // its target where the platform can tell them apart; unknown when nothing
  // has the name or it cannot be looked at. Throws nothing.
  virtual FileIdentity IdentityAt(std::u16string_view name) {
    // Where nothing cheaper is at hand, by opening the file, link followed.
    try {
      return OpenForReading(name)->Identity();
    } catch (const std::exception&) {
      return {};
    }
  }
  // Where the name `name` leads, one step, when it is a link: what a run that
  // wrote nothing needs to tell which names lead to the names its outputs
  // would have taken. Nothing when it is no link, or where the platform cannot
  // say. Throws nothing but std::bad_alloc.
  virtual std::optional<LinkTarget> FollowLink(std::u16string_view /*name*/) {
    return std::nullopt;
  }
  // Stages new contents for the file `name`, which need not exist yet. A new
  // output takes `source_permissions` (see OutputFile::Commit). Running short
  // of room on the disk or of descriptors, here or in Write, fails with
  // FileProblem::kShortOfRoom.
  virtual std::unique_ptr<OutputFile> OpenForReplacing(std::u16string_view name,
                                                       Permissions source_permissions) = 0;
  // Which folder this is, however it was named. Where the volume gives no
  // file ID, a platform may tell its folders apart by where the system says
  // they are instead: such an identity is compared with folders' alone.
  virtual FileIdentity Identity() = 0;
  // Whether the folder holds no entry at all, the staging files of outputs
  // in progress aside: then nothing in it can be what an output replaces, but
  // for what this run writes. false where that cannot be told. Throws nothing.
  virtual bool IsEmpty() { return false; }
  // Removes the staging files that outputs of runs which stopped for good
  // (killed outright, or cut off by a power loss) left in this folder, and
  // returns how many it removed. The staging file of an output that is still
  // being written, by this process or another, is never touched.
  virtual std::size_t RemoveAbandonedStaging() = 0;

  // Brings to the disk, together, the contents of every output staged in
  // this folder and not yet committed, and every name that outputs of this
  // folder have taken so far, with as few flushes of the disk as the system
  // allows: one, where it can. Afterwards a crash leaves those contents and
  // names as they are now. An output whose contents could not be written
  // fails at its Commit with the reason, and no other fails with it. Throws
  // FileError when a name already given may not have reached the disk: the
  // flush failed, or the disk could not be asked at all. Nothing is taken
  // for flushed on the word of a call that reports no failure.
  virtual void FlushStaged() = 0;
  // How many outputs may be staged in this folder at once without running
  // short of what the system allows a process to hold open, counting what the
  // process holds open already; at least 1.
  virtual std::size_t StagingCapacity() = 0;
};

// Threads: a folder's OpenForReading and OpenForReplacing, and the files they
// return, may be used from several threads at once, beside the folder's other
// operations, each file from one thread at a time.
class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Creates one folder level; fails if it exists or its parent does not.
  virtual void CreateFolder(std::u16string_view folder) = 0;
  // Opens the existing folder named by `folder`.
  virtual std::unique_ptr<Folder> OpenFolder(std::u16string_view folder) = 0;
  // Whether a file is hidden by its name alone, as names starting with "."
  // are on POSIX systems; elsewhere hiding is an attribute and this is false.
  virtual bool HidesByName(std::u16string_view name) const = 0;
  // A text that is the same for two names exactly when the platform's
  // volumes take them for the same name: the name itself where names match
  // exactly, a case-folded form where they match regardless of case.
  virtual std::u16string NameKey(std::u16string_view name) const = 0;
};

}  // namespace vendrake::engine
