#pragma once

#include <cstdint>
#include <functional>

#include "engine/window_state.h"
#include "engine/word_image.h"

namespace vendrake::engine {

// The index entry that points at the vertex block: bytes 5F 5F 38 55 ("__8U").
inline constexpr std::int32_t kVertexTag = 0x55385F5F;

// Word positions are 16-bit signed, so the pass can index at most this many words.
inline constexpr std::int64_t kMaxImageWords = 32768;

// The single whose bits are `word`'s bits, and back; no conversion, every bit
// pattern (NaN payloads, signed zeros) passes unchanged.
float BitsToSingle(const std::int32_t& word);
std::int32_t SingleToBits(const float& value);

// Throws OverflowError when an image of `word_count` words is too large for the
// pass, exactly as ScaleHeights would before scanning it.
void CheckImageFits(std::int64_t word_count);

// Finds the first word equal to kVertexTag, reads the vertex block's byte
// offset and length from the two words after it, and multiplies the height
// (word 2 of every 32-byte record) of each vertex in that block by
// `scale_factor`, in place. An image without the tag is left as it is.
//
// Throws OverflowError (a position leaves its 16- or 32-bit range, including
// any image of more than kMaxImageWords words), SubscriptError (the entry or
// the block reaches outside the image) or FloatingPointError (a product is
// invalid or beyond the single range). Heights rewritten before the failure
// stay rewritten.
void ScaleHeights(WordImage& words, float scale_factor);

// Calls `seen` with each height ScaleHeights would multiply in `words`, in
// the same order, and leaves every word as it is; throws where ScaleHeights
// would, after the heights before the failure.
void ForEachHeight(WordImage& words, const std::function<void(float)>& seen);

// The pass on the window's own image and factor.
inline void ScaleHeights(WindowState& state) { ScaleHeights(state.ModelWords, state.ScaleFactor); }

}  // namespace vendrake::engine
