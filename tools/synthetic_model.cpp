#include "tools/synthetic_model.h"

#include <bit>
#include <cstring>
#include <random>

namespace vendrake::tools {
namespace {

constexpr std::uint32_t kMagic = 0x4D535644;  // "DVSM": synthetic model
constexpr std::uint32_t kVersion = 1;
constexpr std::uint32_t kVertexTag = 0x55385F5F;  // "__8U"
constexpr std::uint32_t kFaceTag = 0x33465F5F;    // "__F3"
constexpr std::uint32_t kBoundsTag = 0x58425F5F;  // "__BX"
constexpr std::size_t kHeaderBytes = 12;          // magic, version, entry count
constexpr std::size_t kEntryBytes = 12;           // tag, offset, length
constexpr std::size_t kEntryCount = 3;
constexpr std::size_t kRecordBytes = 32;
constexpr std::size_t kBoundsBytes = 24;  // min and max corner

void PutWord(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t word) {
  for (int k = 0; k < 4; ++k)
    bytes[at + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(word >> (8 * k));
}

void PutSingle(std::vector<std::uint8_t>& bytes, std::size_t at, float value) {
  PutWord(bytes, at, std::bit_cast<std::uint32_t>(value));
}

std::size_t FaceBlockBytes(std::uint32_t face_count) {
  return (static_cast<std::size_t>(face_count) * 6 + 3) / 4 * 4;  // three 16-bit indices, padded
}

// A value in [low, high) from the generator's raw output, the same on every
// standard library (the distributions are not).
float Uniform(std::mt19937& random, float low, float high) {
  return low + (high - low) * static_cast<float>(random() >> 8) / 16777216.0F;
}

}  // namespace

ModelLayout LayoutOf(const ModelShape& shape) {
  ModelLayout layout{};
  layout.vertex_entry = kHeaderBytes + kEntryBytes;  // after the bounds entry
  layout.vertex_block = kHeaderBytes + kEntryCount * kEntryBytes + kBoundsBytes;
  layout.vertex_block_length = static_cast<std::size_t>(shape.vertex_count) * kRecordBytes;
  layout.total_length = layout.vertex_block + layout.vertex_block_length +
                        FaceBlockBytes(shape.face_count) + shape.trailing_bytes;
  return layout;
}

std::vector<std::uint8_t> MakeModel(const ModelShape& shape) {
  const ModelLayout layout = LayoutOf(shape);
  std::vector<std::uint8_t> bytes(layout.total_length, 0);
  std::mt19937 random(shape.seed);

  const std::size_t bounds_block = kHeaderBytes + kEntryCount * kEntryBytes;
  const std::size_t face_block = layout.vertex_block + layout.vertex_block_length;
  PutWord(bytes, 0, kMagic);
  PutWord(bytes, 4, kVersion);
  PutWord(bytes, 8, kEntryCount);
  const std::uint32_t entries[kEntryCount][3] = {
      {kBoundsTag, static_cast<std::uint32_t>(bounds_block), kBoundsBytes},
      {kVertexTag, static_cast<std::uint32_t>(layout.vertex_block),
       static_cast<std::uint32_t>(layout.vertex_block_length)},
      {kFaceTag, static_cast<std::uint32_t>(face_block),
       static_cast<std::uint32_t>(shape.face_count * 6)},
  };
  for (std::size_t e = 0; e < kEntryCount; ++e) {
    for (std::size_t w = 0; w < 3; ++w)
      PutWord(bytes, kHeaderBytes + e * kEntryBytes + 4 * w, entries[e][w]);
  }

  float low_height = 0.0F;
  float high_height = 0.0F;
  for (std::uint32_t v = 0; v < shape.vertex_count; ++v) {
    const std::size_t record = layout.vertex_block + v * kRecordBytes;
    const float height = Uniform(random, -2.0F, 14.0F);
    low_height = v == 0 || height < low_height ? height : low_height;
    high_height = v == 0 || height > high_height ? height : high_height;
    PutSingle(bytes, record + 0, Uniform(random, -4.0F, 4.0F));
    PutSingle(bytes, record + 4, Uniform(random, -4.0F, 4.0F));
    PutSingle(bytes, record + 8, height);
    PutSingle(bytes, record + 12, Uniform(random, -1.0F, 1.0F));
    PutSingle(bytes, record + 16, Uniform(random, -1.0F, 1.0F));
    PutSingle(bytes, record + 20, Uniform(random, 0.0F, 1.0F));
    PutSingle(bytes, record + 24, Uniform(random, 0.0F, 1.0F));
    PutSingle(bytes, record + 28, Uniform(random, 0.0F, 1.0F));
  }
  const float bounds[6] = {-4.0F, -4.0F, low_height, 4.0F, 4.0F, high_height};
  for (std::size_t k = 0; k < 6; ++k) PutSingle(bytes, bounds_block + 4 * k, bounds[k]);

  for (std::uint32_t f = 0; f < shape.face_count * 3 && shape.vertex_count > 0; ++f) {
    const auto index = static_cast<std::uint16_t>(random() % shape.vertex_count);
    bytes[face_block + 2 * f] = static_cast<std::uint8_t>(index);
    bytes[face_block + 2 * f + 1] = static_cast<std::uint8_t>(index >> 8);
  }
  for (std::size_t t = 0; t < shape.trailing_bytes; ++t) {
    bytes[layout.total_length - shape.trailing_bytes + t] = static_cast<std::uint8_t>(random());
  }
  return bytes;
}

std::uint32_t VertexCountForSize(std::size_t bytes) {
  const std::size_t fixed = kHeaderBytes + kEntryCount * kEntryBytes + kBoundsBytes;
  if (bytes <= fixed + 4) return 0;
  // 32 bytes of record and 9 bytes of faces (1.5 faces of 6 bytes) per vertex.
  auto count = static_cast<std::uint32_t>((bytes - fixed - 4) * 2 / 82);
  while (count > 0 &&
         LayoutOf({.vertex_count = count, .face_count = count * 3 / 2}).total_length > bytes) {
    --count;
  }
  return count;
}

}  // namespace vendrake::tools
