#include "tests/support/scaled_model.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <string>

#include "tests/support/model_bytes.h"
#include "tests/support/temporary_folder.h"

namespace vendrake::testing {

static_assert(std::endian::native == std::endian::little, "heights are copied as host words");

std::vector<std::uint8_t> ScaledModel(const tools::ModelShape& shape, float factor) {
  std::vector<std::uint8_t> bytes = tools::MakeModel(shape);
  const tools::ModelLayout layout = tools::LayoutOf(shape);
  // The height is the third single (byte 8) of each 32-byte record.
  for (std::size_t at = layout.vertex_block + 8;
       at < layout.vertex_block + layout.vertex_block_length; at += 32) {
    std::int32_t word = 0;
    std::memcpy(&word, &bytes[at], 4);
    const std::int32_t scaled = Bits(Single(word) * factor);
    std::memcpy(&bytes[at], &scaled, 4);
  }
  return bytes;
}

void ExpectOnlyTheFileInHandWritten(const std::filesystem::path& destination,
                                    const tools::ModelShape& shape) {
  const std::vector<std::string> names = NamesIn(destination);
  EXPECT_EQ(names.size(), 1U) << "the run went past the file in hand, or left it unnamed";
  for (const std::string& name : names) {
    EXPECT_TRUE(name.starts_with("CliffNatural0_2x_")) << name << " left behind";
    EXPECT_EQ(ReadFile(destination / name), ScaledModel(shape, 2.0F)) << name;
  }
}

}  // namespace vendrake::testing
