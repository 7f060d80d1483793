#include "engine/win32/win32_staging.h"

#include <random>
#include <span>
#include <utility>

#include "engine/errors.h"
#include "engine/text_encoding.h"
#include "engine/win32/win32_entries.h"
#include "engine/win32/win32_system_calls.h"

namespace vendrake::engine::win32 {
namespace {

constexpr std::u16string_view kStagingPrefix = u".vendrake-";
constexpr std::u16string_view kStagingSuffix = u".tmp";
constexpr int kStagingNameAttempts = 64;
// What Windows gives a new file; never HIDDEN, which the staging file has.
constexpr DWORD kNewOutputAttributes = FILE_ATTRIBUTE_ARCHIVE;
// The attributes of a replaced file that its replacement takes over. Not
// READONLY, as a read-only file is never replaced.
constexpr DWORD kCarriedAttributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN |
                                     FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
constexpr DWORD kMostPerWrite = 1U << 30;

std::u16string NextStagingName() {
  thread_local std::mt19937_64 random{std::random_device{}()};
  const std::string digits = std::to_string(random());
  return std::u16string(kStagingPrefix) + std::u16string(digits.begin(), digits.end()) +
         std::u16string(kStagingSuffix);
}

// Holds the staged contents until Commit gives them the output's name. The
// staging file is open without delete sharing until then, which is how
// another run's clean-up tells it from an abandoned one.
class StagedOutput : public OutputFile {
 public:
  StagedOutput(std::shared_ptr<HeldFolder> folder, std::u16string path, std::u16string name,
               Handle file)
      : folder_(std::move(folder)),
        path_(std::move(path)),
        name_(std::move(name)),
        file_(std::move(file)) {}

  StagedOutput(const StagedOutput&) = delete;
  StagedOutput& operator=(const StagedOutput&) = delete;

  ~StagedOutput() override {
    if (!committed_) RetryWhileInUse([&] { return MarkForDeletion(file_.Get()); });
  }

  void Write(std::span<const std::uint8_t> bytes) override {
    while (!bytes.empty()) {
      const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), kMostPerWrite));
      DWORD put = 0;
      if (!WriteFile(file_.Get(), bytes.data(), chunk, &put, nullptr)) {
        FailWithError("cannot write", path_);
      }
      bytes = bytes.subspan(put);
    }
  }

  FileIdentity Commit() override {
    const FileIdentity identity = IdentityOf(InformationOf(file_.Get(), path_));
    // A rename takes the staging file's attributes along, HIDDEN included:
    // the output would drop out of every listing.
    if (!SetAttributes(file_.Get(), kNewOutputAttributes)) FailWithError("cannot write", path_);
    const NTSTATUS status =
        RenameInFolder(file_.Get(), folder_->handle.Get(), name_, Existing::kKeep);
    if (status == kStatusNameCollision) {
      Replace();
    } else if (!NT_SUCCESS(status)) {
      FailWithStatus("cannot write", path_, status);
    }
    committed_ = true;
    file_ = Handle();
    return identity;
  }

 private:
  // Renames the staged file over what has the name, a file or a link, never
  // followed.
  void Replace() {
    const FILE_ATTRIBUTE_TAG_INFO existing = ExistingAttributes();
    const DWORD attributes = existing.FileAttributes;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      if (!IsLink(existing)) {
        throw FileError("a folder has the output's name: " + Utf16ToUtf8(path_));
      }
      ReplaceFolderLink();
      return;
    }
    // A file with a reparse point of another kind, such as a placeholder of
    // a cloud-synced folder, is a file like any other.
    if (!IsLink(existing)) {
      RefuseIfNotWritable(attributes);
      const DWORD carried = attributes & kCarriedAttributes;
      if (!SetAttributes(file_.Get(), carried != 0 ? carried : FILE_ATTRIBUTE_NORMAL)) {
        FailWithError("cannot set the attributes of", path_);
      }
    }
    // The old contents are about to go; the new ones must be on disk first,
    // or a crash could leave an empty file where a good one stood.
    if (!FlushFileBuffers(file_.Get())) FailWithError("cannot write", path_);
    const NTSTATUS renamed = ReplaceInFolder(file_.Get(), *folder_, name_);
    if (!NT_SUCCESS(renamed)) FailWithStatus("cannot replace", path_, renamed);
  }

  // Windows renames a file over no folder, not even over a link to one
  // (a junction or a folder's symbolic link). So the link steps aside under a
  // staging name, the output takes the name, and only then does the link go;
  // if the output cannot take the name, the link comes back.
  void ReplaceFolderLink() {
    Handle link;
    NTSTATUS status =
        OpenInFolder(folder_->handle.Get(), name_, DELETE | FILE_READ_ATTRIBUTES, kShareAll,
                     FILE_OPEN, FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, 0, link);
    if (!NT_SUCCESS(status)) FailWithStatus("cannot replace", path_, status);
    if (!FlushFileBuffers(file_.Get())) FailWithError("cannot write", path_);
    const std::u16string aside = NextStagingName();
    status = RetryWhileInUse(
        [&] { return RenameInFolder(link.Get(), folder_->handle.Get(), aside, Existing::kKeep); });
    if (!NT_SUCCESS(status)) FailWithStatus("cannot replace", path_, status);
    status = RenameInFolder(file_.Get(), folder_->handle.Get(), name_, Existing::kKeep);
    if (!NT_SUCCESS(status)) {
      RenameInFolder(link.Get(), folder_->handle.Get(), name_, Existing::kKeep);
      FailWithStatus("cannot replace", path_, status);
    }
    // Opened as the link itself, so only the link goes, never its target.
    RetryWhileInUse([&] { return MarkForDeletion(link.Get()); });
  }

  // The attributes of what has the name, looked at without following a link.
  // The handle is closed again at once: Windows renames over no open file.
  FILE_ATTRIBUTE_TAG_INFO ExistingAttributes() const {
    Handle existing;
    const NTSTATUS status =
        OpenInFolder(folder_->handle.Get(), name_, FILE_READ_ATTRIBUTES, kShareAll, FILE_OPEN,
                     FILE_OPEN_REPARSE_POINT, 0, existing);
    if (!NT_SUCCESS(status)) FailWithStatus("cannot replace", path_, status);
    return AttributesAndTagOf(existing.Get(), path_);
  }

  // An output that could not be written in place is not replaced either. The
  // attribute is checked by itself, as Wine lets a read-only file be opened
  // for writing and renamed over.
  void RefuseIfNotWritable(DWORD attributes) const {
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      throw FileError("the output is read-only: " + Utf16ToUtf8(path_));
    }
    Handle writable;
    const NTSTATUS status =
        OpenInFolder(folder_->handle.Get(), name_, FILE_WRITE_DATA, kShareAll, FILE_OPEN,
                     FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, 0, writable);
    // Windows checks the access asked for before the sharing, so a sharing
    // violation means that the file is writable but someone else, who shares
    // no writing, has it open; the rename waits for them.
    if (!NT_SUCCESS(status) && status != kStatusSharingViolation) {
      FailWithStatus("cannot replace", path_, status);
    }
  }

  std::shared_ptr<HeldFolder> folder_;
  std::u16string path_;
  std::u16string name_;
  Handle file_;
  bool committed_ = false;
};

}  // namespace

bool IsStagingName(std::u16string_view name) {
  if (!name.starts_with(kStagingPrefix) || !name.ends_with(kStagingSuffix)) return false;
  const std::u16string_view digits = name.substr(
      kStagingPrefix.size(), name.size() - kStagingPrefix.size() - kStagingSuffix.size());
  return !digits.empty() && digits.find_first_not_of(u"0123456789") == std::u16string_view::npos;
}

std::unique_ptr<OutputFile> StageOutput(std::shared_ptr<HeldFolder> folder,
                                        const std::u16string& folder_path, std::u16string name) {
  std::u16string path = PathFor(folder_path, name);
  for (int attempt = 0; attempt < kStagingNameAttempts; ++attempt) {
    Handle file;
    // FILE_CREATE never opens, let alone follows, what has the name already.
    const NTSTATUS status = OpenInFolder(
        folder->handle.Get(), NextStagingName(),
        GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ,
        FILE_CREATE, FILE_NON_DIRECTORY_FILE, FILE_ATTRIBUTE_HIDDEN, file);
    if (status == kStatusNameCollision) continue;
    if (!NT_SUCCESS(status)) FailWithStatus("cannot create a staging file in", folder_path, status);
    return std::make_unique<StagedOutput>(std::move(folder), std::move(path), std::move(name),
                                          std::move(file));
  }
  throw FileError("no free staging name in " + Utf16ToUtf8(folder_path));
}

std::size_t RemoveAbandonedStaging(HANDLE folder, const std::u16string& folder_path) {
  std::size_t removed = 0;
  FolderEntries entries(folder, folder_path);
  while (const FolderEntries::Entry* entry = entries.Next()) {
    if ((entry->attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !IsStagingName(entry->name)) {
      continue;
    }
    // The output that owns it holds it open without delete sharing for as
    // long as it lives, so opening it for deletion fails. That is no reason
    // to wait (see RetryWhileInUse): it is how a live one is told apart.
    Handle file;
    if (!NT_SUCCESS(OpenInFolder(folder, entry->name, DELETE | FILE_READ_ATTRIBUTES, kShareAll,
                                 FILE_OPEN, FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, 0,
                                 file))) {
      continue;
    }
    // A link is no staging file of ours; a staging file that a sync client
    // made a placeholder is.
    FILE_ATTRIBUTE_TAG_INFO information{};
    if (!Calls().get_information_by_handle_ex(file.Get(), FileAttributeTagInfo, &information,
                                              sizeof(information)) ||
        IsLink(information)) {
      continue;
    }
    if (NT_SUCCESS(RetryWhileInUse([&] { return MarkForDeletion(file.Get()); }))) ++removed;
  }
  return removed;
}

}  // namespace vendrake::engine::win32
