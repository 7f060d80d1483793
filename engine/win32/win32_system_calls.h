#pragma once

#include <windows.h>
#include <winternl.h>

namespace vendrake::engine::win32 {

// The system calls whose answers depend on the volume a folder is on, such as
// the classes of rename, listing, file ID and flush it takes, or the file
// system it has. Wine answers them as one
// volume does, so the tests put their own in place to play the volumes Wine cannot show, and to
// make a call fail the way it fails there. Every use in the engine goes
// through Calls().
struct SystemCalls {
  // NtCreateFile, through which every file inside a held folder is opened.
  NTSTATUS(NTAPI* create_file)
  (PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES object, PIO_STATUS_BLOCK io,
   PLARGE_INTEGER allocation, ULONG attributes, ULONG share, ULONG disposition, ULONG options,
   PVOID extended_attributes, ULONG extended_attributes_size);
  // NtSetInformationFile, with the class as the number it is: the headers'
  // FILE_INFORMATION_CLASS stops before FileRenameInformationEx (65).
  NTSTATUS(NTAPI* set_information_file)
  (HANDLE file, PIO_STATUS_BLOCK io, PVOID information, ULONG length, ULONG information_class);
  BOOL(WINAPI* get_information_by_handle_ex)
  (HANDLE file, FILE_INFO_BY_HANDLE_CLASS information_class, LPVOID information, DWORD size);
  BOOL(WINAPI* get_file_information_by_handle)
  (HANDLE file, LPBY_HANDLE_FILE_INFORMATION information);
  BOOL(WINAPI* get_volume_information_by_handle)
  (HANDLE file, LPWSTR volume_name, DWORD volume_name_size, LPDWORD serial_number,
   LPDWORD longest_component, LPDWORD file_system_flags, LPWSTR file_system_name,
   DWORD file_system_name_size);
  // NtQueryVolumeInformationFile, for what the device beneath a volume is.
  NTSTATUS(NTAPI* query_volume_information)
  (HANDLE file, PIO_STATUS_BLOCK io, PVOID information, ULONG length,
   FS_INFORMATION_CLASS information_class);
  // GetFinalPathNameByHandleW.
  DWORD(WINAPI* get_final_path_name)(HANDLE file, LPWSTR path, DWORD path_size, DWORD flags);
  BOOL(WINAPI* flush_file_buffers)(HANDLE file);
  // NtFlushBuffersFileEx, from Windows 8 on; nullptr where ntdll lacks it (Wine 8).
  NTSTATUS(NTAPI* flush_buffers_file_ex)
  (HANDLE file, ULONG flags, PVOID parameters, ULONG parameters_size, PIO_STATUS_BLOCK io);
  // ReadFile and WriteFile, which a failing or full disk answers.
  BOOL(WINAPI* read_file)
  (HANDLE file, LPVOID buffer, DWORD size, LPDWORD got, LPOVERLAPPED overlapped);
  BOOL(WINAPI* write_file)
  (HANDLE file, LPCVOID buffer, DWORD size, LPDWORD put, LPOVERLAPPED overlapped);
};

// The calls in use: the system's own unless a test has put others in place.
SystemCalls& Calls();
// The system's own calls.
const SystemCalls& SystemsOwnCalls();

}  // namespace vendrake::engine::win32
