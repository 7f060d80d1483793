#include "command/failure_reason.h"

#include "engine/text_encoding.h"

namespace vendrake::command {
namespace {

using engine::BatchStep;
using engine::ErrorKind;

// The scaling pass indexes words with 16-bit positions: the last word it can
// reach is word 32,767, which ends at byte 131,071.
std::u16string Reason(BatchStep step, ErrorKind kind) {
  if (kind == ErrorKind::kOutOfMemory) return u"out of memory while converting it";
  switch (step) {
    case BatchStep::kCheckName:
      break;
    case BatchStep::kRead:
      if (kind == ErrorKind::kSubscript) return u"shorter than 4 bytes, too short to be a model";
      if (kind == ErrorKind::kOverflow) {
        return u"too large: the most this format can hold is 32,768 words (131,072 bytes)";
      }
      return u"cannot read the file";
    case BatchStep::kScale:
      if (kind == ErrorKind::kOverflow) {
        return u"too large: the search for its vertices runs past byte 131,071, the last this "
               u"format can reach";
      }
      if (kind == ErrorKind::kSubscript) {
        return u"damaged: its vertex block lies outside the file";
      }
      if (kind == ErrorKind::kFloatingPoint) {
        return u"a height cannot be scaled: it is not a number, or the scaled height is too "
               u"large for the format";
      }
      break;
    case BatchStep::kNameOutput:
      return u"no \"_\" in the name, so it gives the output's name no suffix";
    case BatchStep::kWrite:
      return u"cannot write the output";
    case BatchStep::kConfirm:
      return u"the disk did not confirm the output's name, which may not survive a crash";
  }
  return u"unexpected error";
}

}  // namespace

std::u16string FailureText(std::u16string_view entry, engine::BatchStep step,
                           const engine::Error& error) {
  if (step == BatchStep::kCheckName) {
    // The engine's detail would only repeat the name. On POSIX a "\" is an
    // ordinary character of a name, which is why it needs saying why it fails.
    const std::size_t at = entry.find_first_of(u"\\/");
    if (at != std::u16string_view::npos) {
      return u"the name holds a \"" + std::u16string(1, entry[at]) +
             u"\", which folder texts read as a separator";
    }
    if (!entry.empty() && (entry.back() == u'.' || entry.back() == u' ')) {
      return u"the name ends in a dot or a space, which Windows leaves out of paths: Explorer "
             u"could neither open nor delete the output";
    }
  }
  // The engine's detail on a missing "_" would only say it again.
  if (step == BatchStep::kNameOutput && error.Kind() == ErrorKind::kInvalidArgument) {
    return Reason(step, error.Kind());
  }
  return Reason(step, error.Kind()) + u" (" + engine::Utf8ToUtf16(error.what()) + u")";
}

}  // namespace vendrake::command
