#include "engine/win32/win32_system_calls.h"

namespace vendrake::engine::win32 {

const SystemCalls& SystemsOwnCalls() {
  static const SystemCalls calls{
      .set_information_file = &NtSetInformationFile,
      .get_information_by_handle_ex = &GetFileInformationByHandleEx,
      .get_file_information_by_handle = &GetFileInformationByHandle,
      .get_volume_information_by_handle = &GetVolumeInformationByHandleW,
  };
  return calls;
}

SystemCalls& Calls() {
  static SystemCalls calls = SystemsOwnCalls();
  return calls;
}

}  // namespace vendrake::engine::win32
