// Feeds arbitrary file images and scale factors through the conversion of one
// file. Input: the factor's 4 bits (little-endian), then the file's bytes.
//
// The pass runs twice, on a bare image and inside a batch run over an
// in-memory folder; both must agree. The only acceptable failures are the
// engine's own error kinds: anything else escapes and aborts the run, as does
// a broken invariant.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "engine/batch_run.h"
#include "engine/errors.h"
#include "engine/memory/memory_file_system.h"
#include "engine/scale_heights.h"
#include "engine/window_state.h"
#include "engine/word_image.h"

namespace {

using vendrake::engine::Error;

constexpr std::uint32_t kOneBits = 0x3F800000;  // 1.0F

[[noreturn]] void Finding(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

bool ScaleBareImage(std::span<const std::uint8_t> file, float factor,
                    vendrake::engine::WordImage& image) {
  image.Resize(file.size());
  std::ranges::copy(file, image.MutableBytes().begin());
  try {
    vendrake::engine::ScaleHeights(image, factor);
    return true;
  } catch (const Error&) {
    return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  std::uint32_t factor_bits = 0;
  for (int k = 3; k >= 0; --k) factor_bits = (factor_bits << 8) | data[k];
  const auto factor = std::bit_cast<float>(factor_bits);
  const std::span<const std::uint8_t> file(data + 4, size - 4);

  vendrake::engine::WordImage image;
  const bool scaled = ScaleBareImage(file, factor, image);
  if (image.Bytes().size() != file.size()) Finding("the pass changed the image's length");
  const std::size_t whole = file.size() / 4 * 4;
  if (!std::ranges::equal(image.Bytes().subspan(whole), file.subspan(whole))) {
    Finding("the pass touched the bytes after the last whole word");
  }
  // Times one, every height but a signalling NaN (which fails) is its own product.
  if (scaled && factor_bits == kOneBits && !std::ranges::equal(image.Bytes(), file)) {
    Finding("a factor of 1 changed the image");
  }

  vendrake::engine::MemoryFileSystem files;
  files.AddFile(u"C:\\In\\Rock_A1", std::vector<std::uint8_t>(file.begin(), file.end()));
  vendrake::engine::WindowState state;
  state.ScaleFactor = factor;
  const auto outcome = vendrake::engine::RunBatch(state, files, u"C:\\In\\", u"C:\\Out\\");
  const auto written = files.FileBytes(u"C:\\Out\\Out_A1");
  // A file shorter than one word fails in the run even though the pass accepts
  // its empty image.
  const bool should_write = scaled && file.size() >= 4;
  if (outcome.tally.attempted != 1 || outcome.tally.succeeded != (should_write ? 1 : 0)) {
    Finding("the run's counts disagree with the bare pass");
  }
  if (written.has_value() != should_write) Finding("the run's output disagrees with the bare pass");
  if (written.has_value() && !std::ranges::equal(*written, image.Bytes())) {
    Finding("the run wrote other bytes than the bare pass made");
  }
  if (files.FilePaths().size() != (should_write ? 2U : 1U)) Finding("a stray file was left");
  return 0;
}
