#include "tests/support/hooked_file_system.h"

#include <algorithm>
#include <utility>

#include "engine/errors.h"
#include "engine/text_encoding.h"

namespace vendrake::testing {

class HookedFileSystem::Input : public engine::InputFile {
 public:
  Input(HookedFileSystem& owner, std::unique_ptr<engine::InputFile> inner, std::u16string path)
      : owner_(owner), inner_(std::move(inner)), path_(std::move(path)) {}

  std::uint64_t Length() override { return inner_->Length(); }
  void Read(std::span<std::uint8_t> bytes) override {
    owner_.Fire(Operation::kRead, path_);
    inner_->Read(bytes);
  }

 private:
  HookedFileSystem& owner_;
  std::unique_ptr<engine::InputFile> inner_;
  std::u16string path_;
};

class HookedFileSystem::Output : public engine::OutputFile {
 public:
  Output(HookedFileSystem& owner, std::unique_ptr<engine::OutputFile> inner, std::u16string path)
      : owner_(owner), inner_(std::move(inner)), path_(std::move(path)) {}

  void Write(std::span<const std::uint8_t> bytes) override {
    if (const auto kept = owner_.TakeCut(path_)) {
      inner_->Write(bytes.first(std::min(*kept, bytes.size())));
      throw engine::FileError("cannot write " + engine::Utf16ToUtf8(path_) +
                              ": No space left on device");
    }
    inner_->Write(bytes);
  }
  void Commit() override { inner_->Commit(); }

 private:
  HookedFileSystem& owner_;
  std::unique_ptr<engine::OutputFile> inner_;
  std::u16string path_;
};

void HookedFileSystem::Before(Operation operation, std::u16string name,
                              std::function<void()> action) {
  hooks_.push_back({operation, u"\\" + std::move(name), std::move(action)});
}

void HookedFileSystem::FailWrite(std::u16string name, std::size_t kept) {
  cuts_.push_back({u"\\" + std::move(name), kept});
}

std::optional<std::size_t> HookedFileSystem::TakeCut(std::u16string_view path) {
  const auto cut = std::find_if(cuts_.begin(), cuts_.end(), [&](const Cut& candidate) {
    return path.ends_with(candidate.name);
  });
  if (cut == cuts_.end()) return std::nullopt;
  const std::size_t kept = cut->kept;
  cuts_.erase(cut);
  return kept;
}

void HookedFileSystem::Fire(Operation operation, std::u16string_view path) {
  const auto hook = std::find_if(hooks_.begin(), hooks_.end(), [&](const Hook& candidate) {
    return candidate.operation == operation && path.ends_with(candidate.name);
  });
  if (hook == hooks_.end()) return;
  const std::function<void()> action = std::move(hook->action);
  hooks_.erase(hook);
  action();
}

std::unique_ptr<engine::FolderListing> HookedFileSystem::ListNormalFiles(
    std::u16string_view folder) {
  return inner_.ListNormalFiles(folder);
}

void HookedFileSystem::CreateFolder(std::u16string_view folder) { inner_.CreateFolder(folder); }

std::unique_ptr<engine::InputFile> HookedFileSystem::OpenForReading(std::u16string_view path) {
  Fire(Operation::kOpenForReading, path);
  return std::make_unique<Input>(*this, inner_.OpenForReading(path), std::u16string(path));
}

std::unique_ptr<engine::OutputFile> HookedFileSystem::OpenForReplacing(std::u16string_view path) {
  return std::make_unique<Output>(*this, inner_.OpenForReplacing(path), std::u16string(path));
}

bool HookedFileSystem::IsSameFolder(std::u16string_view first, std::u16string_view second) {
  return inner_.IsSameFolder(first, second);
}

}  // namespace vendrake::testing
