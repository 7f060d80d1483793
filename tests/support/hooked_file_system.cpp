#include "tests/support/hooked_file_system.h"

#include <algorithm>
#include <utility>

#include "engine/errors.h"
#include "engine/text_encoding.h"

namespace vendrake::testing {

class HookedFileSystem::Input : public engine::InputFile {
 public:
  Input(HookedFileSystem& owner, std::unique_ptr<engine::InputFile> inner, std::u16string name)
      : owner_(owner), inner_(std::move(inner)), name_(std::move(name)) {}

  std::uint64_t Length() override { return inner_->Length(); }
  void Read(std::span<std::uint8_t> bytes) override {
    owner_.Fire(Operation::kRead, name_);
    inner_->Read(bytes);
  }
  engine::FileIdentity Identity() override { return owner_.Shown(inner_->Identity()); }
  engine::Permissions PermissionBits() override { return inner_->PermissionBits(); }

 private:
  HookedFileSystem& owner_;
  std::unique_ptr<engine::InputFile> inner_;
  std::u16string name_;
};

class HookedFileSystem::Output : public engine::OutputFile {
 public:
  Output(HookedFileSystem& owner, std::unique_ptr<engine::OutputFile> inner, std::u16string name)
      : owner_(owner), inner_(std::move(inner)), name_(std::move(name)) {
    const std::size_t staged = ++owner_.outputs_staged_;
    std::size_t most = owner_.most_outputs_staged_;
    while (staged > most && !owner_.most_outputs_staged_.compare_exchange_weak(most, staged)) {
    }
  }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  ~Output() override { --owner_.outputs_staged_; }

  void Write(std::span<const std::uint8_t> bytes) override {
    if (const auto kept = owner_.TakeCut(name_)) {
      inner_->Write(bytes.first(std::min(*kept, bytes.size())));
      throw engine::FileError("cannot write " + engine::Utf16ToUtf8(name_) +
                              ": No space left on device");
    }
    inner_->Write(bytes);
  }
  engine::FileIdentity Commit() override {
    owner_.Fire(Operation::kCommit, name_);
    return owner_.Shown(inner_->Commit());
  }

 private:
  HookedFileSystem& owner_;
  std::unique_ptr<engine::OutputFile> inner_;
  std::u16string name_;
};

class HookedFileSystem::HookedFolder : public engine::Folder {
 public:
  HookedFolder(HookedFileSystem& owner, std::unique_ptr<engine::Folder> inner)
      : owner_(owner), inner_(std::move(inner)) {}

  std::unique_ptr<engine::FolderListing> ListNormalFiles() override {
    return inner_->ListNormalFiles();
  }
  std::unique_ptr<engine::InputFile> OpenForReading(std::u16string_view name) override {
    owner_.Fire(Operation::kOpenForReading, name);
    return std::make_unique<Input>(owner_, inner_->OpenForReading(name), std::u16string(name));
  }
  std::unique_ptr<engine::OutputFile> OpenForReplacing(
      std::u16string_view name, engine::Permissions source_permissions) override {
    return std::make_unique<Output>(owner_, inner_->OpenForReplacing(name, source_permissions),
                                    std::u16string(name));
  }
  engine::FileIdentity Identity() override { return owner_.Shown(inner_->Identity()); }
  engine::FileIdentity IdentityAt(std::u16string_view name) override {
    return owner_.Shown(inner_->IdentityAt(name));
  }
  std::optional<engine::LinkTarget> FollowLink(std::u16string_view name) override {
    return inner_->FollowLink(name);
  }
  bool IsEmpty() override { return inner_->IsEmpty(); }
  std::size_t RemoveAbandonedStaging() override { return inner_->RemoveAbandonedStaging(); }
  void FlushStaged() override { inner_->FlushStaged(); }
  std::size_t StagingCapacity() override {
    return owner_.staging_capacity_.value_or(inner_->StagingCapacity());
  }

 private:
  HookedFileSystem& owner_;
  std::unique_ptr<engine::Folder> inner_;
};

void HookedFileSystem::Before(Operation operation, std::u16string name,
                              std::function<void()> action) {
  hooks_.push_back({operation, std::move(name), std::move(action)});
}

void HookedFileSystem::FailWrite(std::u16string name, std::size_t kept) {
  cuts_.push_back({std::move(name), kept});
}

std::optional<std::size_t> HookedFileSystem::TakeCut(std::u16string_view name) {
  const std::lock_guard lock(mutex_);
  const auto cut = std::find_if(cuts_.begin(), cuts_.end(),
                                [&](const Cut& candidate) { return name == candidate.name; });
  if (cut == cuts_.end()) return std::nullopt;
  const std::size_t kept = cut->kept;
  cuts_.erase(cut);
  return kept;
}

void HookedFileSystem::Fire(Operation operation, std::u16string_view name) {
  std::unique_lock lock(mutex_);
  const auto hook = std::find_if(hooks_.begin(), hooks_.end(), [&](const Hook& candidate) {
    return candidate.operation == operation && name == candidate.name;
  });
  if (hook == hooks_.end()) return;
  const std::function<void()> action = std::move(hook->action);
  hooks_.erase(hook);
  lock.unlock();
  action();
}

void HookedFileSystem::CreateFolder(std::u16string_view folder) { inner_.CreateFolder(folder); }

std::unique_ptr<engine::Folder> HookedFileSystem::OpenFolder(std::u16string_view folder) {
  return std::make_unique<HookedFolder>(*this, inner_.OpenFolder(folder));
}

bool HookedFileSystem::HidesByName(std::u16string_view name) const {
  return inner_.HidesByName(name);
}

std::u16string HookedFileSystem::NameKey(std::u16string_view name) const {
  return inner_.NameKey(name);
}

}  // namespace vendrake::testing
