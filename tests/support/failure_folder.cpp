#include "tests/support/failure_folder.h"

#include <cstdint>

#include "tests/support/model_bytes.h"
#include "tests/support/temporary_folder.h"
#include "tools/synthetic_model.h"

namespace vendrake::testing {
namespace {

constexpr std::int32_t kTag = 0x55385F5F;

}  // namespace

void WriteOneFileOfEachFailureKind(const std::filesystem::path& folder) {
  const auto model = tools::MakeModel({.vertex_count = 40, .face_count = 60});
  WriteFile(folder / "CliffNatural0_A1", model);
  WriteFile(folder / "b_short", {1, 2, 3});
  WriteFile(folder / "c_huge", std::vector<std::uint8_t>(131076));
  // The block offset (64 bytes) and length (64 bytes) reach past 8 words.
  WriteFile(folder / "e_block",
            BytesOfWords(std::vector<std::int32_t>{kTag, 64, 64, 0, 0, 0, 0, 0}));
  // One record from word 3; its height (word 5) is a signalling NaN.
  WriteFile(folder / "f_nan",
            BytesOfWords(std::vector<std::int32_t>{kTag, 12, 32, 0, 0, 0x7F800001, 0, 0, 0, 0, 0}));
  WriteFile(folder / "readme", model);
}

std::vector<std::u16string> DetailsOfEachFailureKind() {
  return {
      u"b_short: failed: shorter than 4 bytes, too short to be a model (the file holds 3 bytes, "
      u"no whole word)",
      u"c_huge: failed: too large: the most this format can hold is 32,768 words (131,072 "
      u"bytes) (the file holds 131076 bytes)",
      u"e_block: failed: damaged: its vertex block lies outside the file (word 18 is outside the "
      u"image of 8 words)",
      u"f_nan: failed: a height cannot be scaled: it is not a number, or the scaled height is "
      u"too large for the format (signalling NaN in a height product)",
      u"readme: failed: no \"_\" in the name, so it gives the output's name no suffix"};
}

}  // namespace vendrake::testing
