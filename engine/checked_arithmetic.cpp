#include "engine/checked_arithmetic.h"

#include <string>

#include "engine/errors.h"

namespace vendrake::engine::detail {
namespace {

[[noreturn]] void Throw(const char* what, const std::string& value, int bits) {
  throw OverflowError(std::string(what) + " " + value + " does not fit in " + std::to_string(bits) +
                      " bits");
}

}  // namespace

void ThrowOverflow(const char* what, std::int64_t value, int bits) {
  Throw(what, std::to_string(value), bits);
}

void ThrowOverflow(const char* what, std::uint64_t value, int bits) {
  Throw(what, std::to_string(value), bits);
}

}  // namespace vendrake::engine::detail
