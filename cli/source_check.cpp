#include "cli/source_check.h"

#include <cerrno>
#include <cstring>

#include "engine/errors.h"

namespace vendrake::cli {

std::optional<std::string> WhyNoFolder(engine::FileSystem& files, std::u16string_view source) {
  try {
    files.OpenFolder(source);
  } catch (const engine::FileError& error) {
    if (error.Problem() == engine::FileProblem::kNoSuchFolder) return std::strerror(ENOENT);
    if (error.Problem() == engine::FileProblem::kNotAFolder) return std::strerror(ENOTDIR);
  } catch (const std::exception&) {
    // Memory ran out, say: the run meets it again and says so.
  }
  return std::nullopt;
}

}  // namespace vendrake::cli
