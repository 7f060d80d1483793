#include "engine/win32/win32_system_calls.h"

namespace vendrake::engine::win32 {

const SystemCalls& SystemsOwnCalls() {
  // Resolved when the program runs, so that it starts where ntdll lacks it.
  static const auto flush_buffers_file_ex =
      reinterpret_cast<decltype(SystemCalls::flush_buffers_file_ex)>(reinterpret_cast<void*>(
          GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtFlushBuffersFileEx")));
  static const SystemCalls calls{
      .set_information_file = &NtSetInformationFile,
      .get_information_by_handle_ex = &GetFileInformationByHandleEx,
      .get_file_information_by_handle = &GetFileInformationByHandle,
      .get_volume_information_by_handle = &GetVolumeInformationByHandleW,
      .flush_file_buffers = &FlushFileBuffers,
      .flush_buffers_file_ex = flush_buffers_file_ex,
  };
  return calls;
}

SystemCalls& Calls() {
  static SystemCalls calls = SystemsOwnCalls();
  return calls;
}

}  // namespace vendrake::engine::win32
