#include "engine/win32/win32_system_calls.h"

namespace vendrake::engine::win32 {

const SystemCalls& SystemsOwnCalls() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  // Taken by name, to be called with the class as a number.
  static const auto set_information_file =
      reinterpret_cast<decltype(SystemCalls::set_information_file)>(
          reinterpret_cast<void*>(GetProcAddress(ntdll, "NtSetInformationFile")));
  // Resolved when the program runs, so that it starts where ntdll lacks it.
  static const auto flush_buffers_file_ex =
      reinterpret_cast<decltype(SystemCalls::flush_buffers_file_ex)>(
          reinterpret_cast<void*>(GetProcAddress(ntdll, "NtFlushBuffersFileEx")));
  static const SystemCalls calls{
      .create_file = &NtCreateFile,
      .set_information_file = set_information_file,
      .get_information_by_handle_ex = &GetFileInformationByHandleEx,
      .get_file_information_by_handle = &GetFileInformationByHandle,
      .get_volume_information_by_handle = &GetVolumeInformationByHandleW,
      .query_volume_information = &NtQueryVolumeInformationFile,
      .get_final_path_name = &GetFinalPathNameByHandleW,
      .flush_file_buffers = &FlushFileBuffers,
      .flush_buffers_file_ex = flush_buffers_file_ex,
      .read_file = &ReadFile,
      .write_file = &WriteFile,
  };
  return calls;
}

SystemCalls& Calls() {
  static SystemCalls calls = SystemsOwnCalls();
  return calls;
}

}  // namespace vendrake::engine::win32
