#include "engine/win32/win32_system_calls.h"

namespace vendrake::engine::win32 {

const SystemCalls& SystemsOwnCalls() {
  static const SystemCalls calls{
      .set_information_file = &NtSetInformationFile,
  };
  return calls;
}

SystemCalls& Calls() {
  static SystemCalls calls = SystemsOwnCalls();
  return calls;
}

}  // namespace vendrake::engine::win32
