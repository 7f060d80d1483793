#include "command/messages.h"

#include "engine/text_encoding.h"

namespace vendrake::command {

std::u16string SummaryMessage(const engine::RunTally& tally) {
  return u"Attempted model scales: " + engine::Utf8ToUtf16(std::to_string(tally.attempted)) +
         u". Success count: " + engine::Utf8ToUtf16(std::to_string(tally.succeeded)) + u".";
}

}  // namespace vendrake::command
