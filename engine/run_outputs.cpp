#include "engine/run_outputs.h"

#include <utility>

namespace vendrake::engine {
namespace {

constexpr char kPassedOverAsWritten[] = "it is an output of this run";
constexpr char kPassedOverByName[] =
    "it has the name of an output of this run, and the volume cannot tell files apart";

}  // namespace

const char* RunOutputs::PassOverReason(const std::u16string& entry,
                                       const FileIdentity& identity) const {
  if (identity.Known()) return written_.contains(identity) ? kPassedOverAsWritten : nullptr;
  if (in_place_ && written_keys_.contains(files_.NameKey(entry))) return kPassedOverByName;
  return nullptr;
}

bool RunOutputs::NoteStaged(const std::u16string& output_name, const std::u16string& entry,
                            const FileIdentity& input) {
  if (!in_place_) return false;
  std::u16string key = files_.NameKey(output_name);
  // An output usually replaces the very file it was made from.
  const bool replaces_its_source = input.Known() && key == files_.NameKey(entry);
  if (replaces_its_source) replaced_.insert(input);
  staged_keys_.insert(std::move(key));
  return replaces_its_source;
}

std::u16string RunOutputs::MakeRoomForWritten(const std::u16string& output_name) {
  written_.MakeRoom();
  if (!in_place_) return {};
  written_keys_.MakeRoom();
  return files_.NameKey(output_name);
}

void RunOutputs::NoteWritten(const FileIdentity& identity, std::u16string key) {
  if (identity.Known()) written_.Insert(identity);
  if (in_place_) written_keys_.Insert(std::move(key));
}

}  // namespace vendrake::engine
