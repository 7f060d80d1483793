#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vendrake::tools {

// A synthetic terrain cliff model, made up for this project: a header, an
// index of (tag, byte offset, byte length) entries, a vertex block of 32-byte
// records (x, y, height, normal x, y, z, u, v as little-endian singles) and a
// face block of 16-bit vertex indices. The vertex entry carries the tag
// __8U; the other entries carry tags the tool does not look at.
struct ModelShape {
  std::uint32_t vertex_count = 64;
  std::uint32_t face_count = 96;
  std::uint32_t seed = 1;
  std::size_t trailing_bytes = 0;  // 0 to 3 bytes after the last whole word
};

// Byte offsets of the parts of a model, for tests that poke at them.
struct ModelLayout {
  std::size_t vertex_entry;  // byte offset of the vertex index entry's tag
  std::size_t vertex_block;
  std::size_t vertex_block_length;
  std::size_t total_length;
};

ModelLayout LayoutOf(const ModelShape& shape);

// The bytes of the model; the same shape always gives the same bytes.
std::vector<std::uint8_t> MakeModel(const ModelShape& shape);

// The largest vertex count whose model, with faces at 1.5 per vertex, is at
// most `bytes` long.
std::uint32_t VertexCountForSize(std::size_t bytes);

}  // namespace vendrake::tools
