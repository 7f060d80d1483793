#include "cli/height_watch.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "engine/errors.h"
#include "engine/scale_heights.h"
#include "engine/word_image.h"

namespace vendrake::cli {
namespace {

// The range of the heights in `bytes`, NaNs left out; the first height's
// range only where the image cannot be scaled.
HeightRange RangeOf(std::span<const std::uint8_t> bytes) {
  engine::WordImage image;
  image.Resize(bytes.size());
  std::copy(bytes.begin(), bytes.end(), image.MutableBytes().begin());
  HeightRange range;
  try {
    engine::ForEachHeight(image, [&range](float height) {
      if (std::isnan(height)) return;
      Widen(range, {1, height, height});
    });
  } catch (const engine::Error&) {
    // Only a model the pass scaled reaches an output; its heights are found.
  }
  return range;
}

}  // namespace

struct HeightWatch::Gathered {
  std::vector<std::uint8_t> last_read;
  HeightRange before;
  HeightRange after;
};

namespace {

using Gathered = HeightWatch::Gathered;

class WatchedInput : public engine::InputFile {
 public:
  WatchedInput(std::unique_ptr<engine::InputFile> inner, std::shared_ptr<Gathered> gathered)
      : inner_(std::move(inner)), gathered_(std::move(gathered)) {}

  std::uint64_t Length() override { return inner_->Length(); }
  void Read(std::span<std::uint8_t> bytes) override {
    inner_->Read(bytes);
    gathered_->last_read.assign(bytes.begin(), bytes.end());
  }
  engine::FileIdentity Identity() override { return inner_->Identity(); }
  engine::Permissions PermissionBits() override { return inner_->PermissionBits(); }

 private:
  std::unique_ptr<engine::InputFile> inner_;
  std::shared_ptr<Gathered> gathered_;
};

class WatchedOutput : public engine::OutputFile {
 public:
  WatchedOutput(std::unique_ptr<engine::OutputFile> inner, std::shared_ptr<Gathered> gathered)
      : inner_(std::move(inner)), gathered_(std::move(gathered)) {}

  void Write(std::span<const std::uint8_t> bytes) override {
    inner_->Write(bytes);
    before_ = RangeOf(gathered_->last_read);
    after_ = RangeOf(bytes);
  }
  engine::FileIdentity Commit() override {
    const engine::FileIdentity identity = inner_->Commit();
    Widen(gathered_->before, before_);
    Widen(gathered_->after, after_);
    return identity;
  }

 private:
  std::unique_ptr<engine::OutputFile> inner_;
  std::shared_ptr<Gathered> gathered_;
  HeightRange before_;
  HeightRange after_;
};

class WatchedFolder : public engine::Folder {
 public:
  WatchedFolder(std::unique_ptr<engine::Folder> inner, std::shared_ptr<Gathered> gathered)
      : inner_(std::move(inner)), gathered_(std::move(gathered)) {}

  std::unique_ptr<engine::FolderListing> ListNormalFiles() override {
    return inner_->ListNormalFiles();
  }
  std::unique_ptr<engine::InputFile> OpenForReading(std::u16string_view name) override {
    return std::make_unique<WatchedInput>(inner_->OpenForReading(name), gathered_);
  }
  std::unique_ptr<engine::OutputFile> OpenForReplacing(
      std::u16string_view name, engine::Permissions source_permissions) override {
    return std::make_unique<WatchedOutput>(inner_->OpenForReplacing(name, source_permissions),
                                           gathered_);
  }
  engine::FileIdentity Identity() override { return inner_->Identity(); }
  // Passed through, so that a link at an output's name is looked at, not
  // followed, and an empty destination is known for one.
  engine::FileIdentity IdentityAt(std::u16string_view name) override {
    return inner_->IdentityAt(name);
  }
  std::optional<engine::LinkTarget> FollowLink(std::u16string_view name) override {
    return inner_->FollowLink(name);
  }
  bool IsEmpty() override { return inner_->IsEmpty(); }
  std::size_t RemoveAbandonedStaging() override { return inner_->RemoveAbandonedStaging(); }
  void FlushStaged() override { inner_->FlushStaged(); }
  std::size_t StagingCapacity() override { return inner_->StagingCapacity(); }

 private:
  std::unique_ptr<engine::Folder> inner_;
  std::shared_ptr<Gathered> gathered_;
};

}  // namespace

void Widen(HeightRange& range, const HeightRange& more) {
  if (more.count == 0) return;
  if (range.count == 0) {
    range = more;
    return;
  }
  range.count += more.count;
  range.least = std::min(range.least, more.least);
  range.most = std::max(range.most, more.most);
}

HeightWatch::HeightWatch(engine::FileSystem& inner)
    : inner_(inner), gathered_(std::make_shared<Gathered>()) {}

HeightWatch::~HeightWatch() = default;

std::unique_ptr<engine::Folder> HeightWatch::OpenFolder(std::u16string_view folder) {
  return std::make_unique<WatchedFolder>(inner_.OpenFolder(folder), gathered_);
}

std::optional<HeightRange> HeightWatch::Before() const {
  if (gathered_->before.count == 0) return std::nullopt;
  return gathered_->before;
}

std::optional<HeightRange> HeightWatch::After() const {
  if (gathered_->after.count == 0) return std::nullopt;
  return gathered_->after;
}

void HeightWatch::Clear() { *gathered_ = Gathered{}; }

}  // namespace vendrake::cli
