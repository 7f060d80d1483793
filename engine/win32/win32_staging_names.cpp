#include "engine/win32/win32_staging_names.h"

#include <random>

namespace vendrake::engine::win32 {
namespace {

constexpr std::u16string_view kStagingPrefix = u".vendrake-";
constexpr std::u16string_view kStagingSuffix = u".tmp";
constexpr std::u16string_view kReadySuffix = u".ready";
constexpr std::u16string_view kRecoveredPrefix = u"vendrake-recovered-";
// The longest name FAT and exFAT take.
constexpr std::size_t kLongestName = 255;

}  // namespace

std::u16string NextStagingName() {
  thread_local std::mt19937_64 random{std::random_device{}()};
  const std::string digits = std::to_string(random());
  return std::u16string(kStagingPrefix) + std::u16string(digits.begin(), digits.end()) +
         std::u16string(kStagingSuffix);
}

std::u16string_view StagingNumber(std::u16string_view name) {
  if (!name.starts_with(kStagingPrefix)) return {};
  name.remove_prefix(kStagingPrefix.size());
  const std::size_t dot = name.find(u'.');
  if (dot == 0 || dot == std::u16string_view::npos ||
      name.substr(0, dot).find_first_not_of(u"0123456789") != std::u16string_view::npos) {
    return {};
  }
  return name.substr(0, dot);
}

bool IsWritingName(std::u16string_view name) {
  const std::u16string_view number = StagingNumber(name);
  return !number.empty() && name.substr(kStagingPrefix.size() + number.size()) == kStagingSuffix;
}

std::optional<std::u16string_view> ReadyFor(std::u16string_view name) {
  const std::u16string_view number = StagingNumber(name);
  if (number.empty() || !name.ends_with(kReadySuffix)) return std::nullopt;
  // From the dot after <n> to the end.
  std::u16string_view rest = name.substr(kStagingPrefix.size() + number.size());
  if (rest == kReadySuffix) return std::u16string_view();
  rest.remove_prefix(1);
  rest.remove_suffix(kReadySuffix.size());
  return rest;
}

std::u16string ReadyName(std::u16string_view staging_name, std::u16string_view output) {
  std::u16string ready =
      std::u16string(kStagingPrefix) + std::u16string(StagingNumber(staging_name));
  if (ready.size() + 1 + output.size() + kReadySuffix.size() <= kLongestName) {
    ready += u".";
    ready += output;
  }
  ready += kReadySuffix;
  return ready;
}

std::u16string RecoveredName(std::u16string_view number) {
  return std::u16string(kRecoveredPrefix) + std::u16string(number);
}

bool IsKeptFromListings(std::u16string_view name) { return !StagingNumber(name).empty(); }

bool IsSetAsideName(std::u16string_view name) {
  if (!name.starts_with(kRecoveredPrefix)) return false;
  name.remove_prefix(kRecoveredPrefix.size());
  return !name.empty() && name.find_first_not_of(u"0123456789") == std::u16string_view::npos;
}

}  // namespace vendrake::engine::win32
