// Fails the K-th call of one kind of the engine's table of volume calls, for
// every K of a run (or a sample of them, where a run makes many), with each
// failure Microsoft documents for the call or for the information classes
// it is asked for, in runs of one job and of four, and checks after each run
// what must hold however it ended.
#include <windows.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <ostream>
#include <string>
#include <vector>

#include "engine/platform/platform_file_system.h"
#include "engine/win32/win32_system_calls.h"
#include "tests/cli/call_sweep.h"
#include "tests/support/temporary_folder.h"

namespace vendrake::testing {
namespace {

namespace win32 = engine::win32;

enum class Call {
  kCreateFile,
  kSetInformationFile,
  kGetInformationByHandleEx,
  kGetFileInformationByHandle,
  kGetVolumeInformationByHandle,
  kQueryVolumeInformation,
  kGetFinalPathName,
  kFlushFileBuffers,
  kFlushBuffersFileEx,
  kReadFile,
  kWriteFile,
};

// The call to fail, its count so far in this run, which one fails and how.
// The runs with four jobs make calls from several threads.
std::atomic<Call> swept{Call::kCreateFile};
std::atomic<int> calls_made{0};
std::atomic<int> failing_call{0};  // 0: none, the run only counts
std::atomic<std::uint32_t> failure{0};

bool Fails(Call call) { return call == swept && ++calls_made == failing_call; }
const win32::SystemCalls& Own() { return win32::SystemsOwnCalls(); }
NTSTATUS Status() { return static_cast<NTSTATUS>(failure.load()); }
BOOL LastError() {
  SetLastError(failure);
  return FALSE;
}

NTSTATUS NTAPI SweptCreateFile(PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES object,
                               PIO_STATUS_BLOCK io, PLARGE_INTEGER allocation, ULONG attributes,
                               ULONG share, ULONG disposition, ULONG options, PVOID ea,
                               ULONG ea_size) {
  if (Fails(Call::kCreateFile)) return Status();
  return Own().create_file(handle, access, object, io, allocation, attributes, share, disposition,
                           options, ea, ea_size);
}
NTSTATUS NTAPI SweptSetInformationFile(HANDLE file, PIO_STATUS_BLOCK io, PVOID information,
                                       ULONG length, ULONG information_class) {
  if (Fails(Call::kSetInformationFile)) return Status();
  return Own().set_information_file(file, io, information, length, information_class);
}
BOOL WINAPI SweptGetInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS information_class,
                                          LPVOID information, DWORD size) {
  if (Fails(Call::kGetInformationByHandleEx)) return LastError();
  return Own().get_information_by_handle_ex(file, information_class, information, size);
}
BOOL WINAPI SweptGetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information) {
  if (Fails(Call::kGetFileInformationByHandle)) return LastError();
  return Own().get_file_information_by_handle(file, information);
}
BOOL WINAPI SweptGetVolumeInformationByHandle(HANDLE file, LPWSTR volume_name,
                                              DWORD volume_name_size, LPDWORD serial_number,
                                              LPDWORD longest_component, LPDWORD flags,
                                              LPWSTR file_system_name,
                                              DWORD file_system_name_size) {
  if (Fails(Call::kGetVolumeInformationByHandle)) return LastError();
  return Own().get_volume_information_by_handle(file, volume_name, volume_name_size, serial_number,
                                                longest_component, flags, file_system_name,
                                                file_system_name_size);
}
NTSTATUS NTAPI SweptQueryVolumeInformation(HANDLE file, PIO_STATUS_BLOCK io, PVOID information,
                                           ULONG length, FS_INFORMATION_CLASS information_class) {
  if (Fails(Call::kQueryVolumeInformation)) return Status();
  return Own().query_volume_information(file, io, information, length, information_class);
}
DWORD WINAPI SweptGetFinalPathName(HANDLE file, LPWSTR path, DWORD path_size, DWORD flags) {
  if (Fails(Call::kGetFinalPathName)) {
    SetLastError(failure);
    return 0;
  }
  return Own().get_final_path_name(file, path, path_size, flags);
}
BOOL WINAPI SweptFlushFileBuffers(HANDLE file) {
  if (Fails(Call::kFlushFileBuffers)) return LastError();
  return Own().flush_file_buffers(file);
}
NTSTATUS NTAPI SweptFlushBuffersFileEx(HANDLE file, ULONG flags, PVOID parameters,
                                       ULONG parameters_size, PIO_STATUS_BLOCK io) {
  if (Fails(Call::kFlushBuffersFileEx)) return Status();
  return Own().flush_buffers_file_ex(file, flags, parameters, parameters_size, io);
}

BOOL WINAPI SweptReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD got,
                          LPOVERLAPPED overlapped) {
  if (Fails(Call::kReadFile)) return LastError();
  return Own().read_file(file, buffer, size, got, overlapped);
}
BOOL WINAPI SweptWriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD put,
                           LPOVERLAPPED overlapped) {
  if (Fails(Call::kWriteFile)) return LastError();
  return Own().write_file(file, buffer, size, put, overlapped);
}

// Puts the counting calls in place of the system's for as long as it lives.
class SweptCalls {
 public:
  SweptCalls() {
    win32::SystemCalls& calls = win32::Calls();
    calls.create_file = &SweptCreateFile;
    calls.set_information_file = &SweptSetInformationFile;
    calls.get_information_by_handle_ex = &SweptGetInformationByHandleEx;
    calls.get_file_information_by_handle = &SweptGetFileInformationByHandle;
    calls.get_volume_information_by_handle = &SweptGetVolumeInformationByHandle;
    calls.query_volume_information = &SweptQueryVolumeInformation;
    calls.get_final_path_name = &SweptGetFinalPathName;
    calls.flush_file_buffers = &SweptFlushFileBuffers;
    calls.read_file = &SweptReadFile;
    calls.write_file = &SweptWriteFile;
    // Where ntdll lacks it (Wine 8), the engine does without, and so does
    // the sweep.
    if (Own().flush_buffers_file_ex != nullptr)
      calls.flush_buffers_file_ex = &SweptFlushBuffersFileEx;
  }
  SweptCalls(const SweptCalls&) = delete;
  SweptCalls& operator=(const SweptCalls&) = delete;
  ~SweptCalls() { win32::Calls() = Own(); }
};

struct CallKind {
  const char* name;
  Call call;
  std::vector<std::uint32_t> failures;  // NTSTATUS or Win32 error codes, as the call returns them
};

void PrintTo(const CallKind& kind, std::ostream* out) { *out << kind.name; }

std::string Hex(std::uint32_t code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", code);
  return text;
}

// The most calls of one kind, failure and job count that one test run
// fails; beyond that the calls are sampled.
constexpr int kCallsPerRow = 8;

class EveryCallFailsOnce : public ::testing::TestWithParam<CallKind> {};

TEST_P(EveryCallFailsOnce, LeavesEachFileWholeAndTellsTheRunAsItWent) {
  // Under Wine, on the host's tmpfs where it has one, as each run flushes
  // its outputs, and a flush there costs nothing.
  const std::filesystem::path shm = "Z:\\dev\\shm";
  std::error_code no_shm;
  const TemporaryFolder root(
      std::filesystem::is_directory(shm, no_shm) ? shm : std::filesystem::temp_directory_path());
  const CallSweep sweep(root.Path());
  std::mt19937 random(SweepSeed());
  const SweptCalls in_place;
  const CallKind& kind = GetParam();
  swept = kind.call;
  int runs = 0;
  const auto run = [&](int jobs) {
    calls_made = 0;
    sweep.Reset();
    const auto files = engine::MakePlatformFileSystem();
    return CallSweep::RunHere(sweep.Arguments(jobs), *files);
  };
  for (const int jobs : {1, 4}) {
    failing_call = 0;
    sweep.ExpectClean(run(jobs));
    const int calls = calls_made;
    if (HasFailure()) return;
    for (const std::uint32_t code : kind.failures) {
      failure = code;
      for (const int k : CallsToFail(calls, kCallsPerRow, random)) {
        SCOPED_TRACE(std::string(kind.name) + " fails with " + Hex(code) + " at call " +
                     std::to_string(k) + " of " + std::to_string(calls) + ", with " +
                     std::to_string(jobs) + " jobs");
        failing_call = k;
        sweep.ExpectInvariants(run(jobs));
        ++runs;
        if (HasFailure()) return;
      }
    }
  }
  std::cout << kind.name << ": " << runs << " runs, each failing one call\n";
}

constexpr std::uint32_t kAccessDenied = 0xC0000022;          // STATUS_ACCESS_DENIED
constexpr std::uint32_t kSharingViolation = 0xC0000043;      // STATUS_SHARING_VIOLATION
constexpr std::uint32_t kDiskFull = 0xC000007F;              // STATUS_DISK_FULL
constexpr std::uint32_t kObjectNameCollision = 0xC0000035;   // STATUS_OBJECT_NAME_COLLISION
constexpr std::uint32_t kNotSameDevice = 0xC00000D4;         // STATUS_NOT_SAME_DEVICE
constexpr std::uint32_t kInvalidParameter = 0xC000000D;      // STATUS_INVALID_PARAMETER
constexpr std::uint32_t kInvalidDeviceRequest = 0xC0000010;  // STATUS_INVALID_DEVICE_REQUEST
constexpr std::uint32_t kMediaWriteProtected = 0xC00000A2;   // STATUS_MEDIA_WRITE_PROTECTED
constexpr std::uint32_t kVolumeDismounted = 0xC000026E;      // STATUS_VOLUME_DISMOUNTED

// NtCreateFile: as ZwCreateFile's page and MS-FSA's open give them. The
// NtSetInformationFile classes (rename, disposition, basic information):
// MS-FSCC's tables. The query classes: MS-FSCC's, as Win32 errors where the
// call is a Win32 one (ERROR_ACCESS_DENIED, ERROR_INVALID_PARAMETER,
// ERROR_INVALID_FUNCTION). GetFinalPathNameByHandleW: its page's three.
// The flushes: NtFlushBuffersFileEx's page, and the same as Win32 errors for
// FlushFileBuffers (ERROR_WRITE_PROTECT, ERROR_NOT_READY, ERROR_ACCESS_DENIED).
// ReadFile and WriteFile: their pages' ERROR_NOT_ENOUGH_QUOTA and
// ERROR_OPERATION_ABORTED; a range another process locked, for a read; a
// full disk, for a write.
INSTANTIATE_TEST_SUITE_P(
    Win32, EveryCallFailsOnce,
    ::testing::Values(
        CallKind{"NtCreateFile",
                 Call::kCreateFile,
                 {kAccessDenied, kSharingViolation, kDiskFull, kObjectNameCollision}},
        CallKind{"NtSetInformationFile",
                 Call::kSetInformationFile,
                 {kAccessDenied, kObjectNameCollision, kNotSameDevice, kDiskFull}},
        CallKind{"GetFileInformationByHandleEx",
                 Call::kGetInformationByHandleEx,
                 {ERROR_ACCESS_DENIED, ERROR_INVALID_PARAMETER, ERROR_INVALID_FUNCTION}},
        CallKind{"GetFileInformationByHandle",
                 Call::kGetFileInformationByHandle,
                 {ERROR_ACCESS_DENIED, ERROR_INVALID_FUNCTION}},
        CallKind{"GetVolumeInformationByHandleW",
                 Call::kGetVolumeInformationByHandle,
                 {ERROR_ACCESS_DENIED, ERROR_INVALID_FUNCTION}},
        CallKind{"NtQueryVolumeInformationFile",
                 Call::kQueryVolumeInformation,
                 {kInvalidParameter, kInvalidDeviceRequest}},
        CallKind{"GetFinalPathNameByHandleW",
                 Call::kGetFinalPathName,
                 {ERROR_PATH_NOT_FOUND, ERROR_NOT_ENOUGH_MEMORY, ERROR_INVALID_PARAMETER}},
        CallKind{"FlushFileBuffers",
                 Call::kFlushFileBuffers,
                 {ERROR_WRITE_PROTECT, ERROR_NOT_READY, ERROR_ACCESS_DENIED}},
        CallKind{"NtFlushBuffersFileEx",
                 Call::kFlushBuffersFileEx,
                 {kMediaWriteProtected, kVolumeDismounted, kAccessDenied}},
        CallKind{"ReadFile",
                 Call::kReadFile,
                 {ERROR_NOT_ENOUGH_QUOTA, ERROR_OPERATION_ABORTED, ERROR_LOCK_VIOLATION}},
        CallKind{"WriteFile",
                 Call::kWriteFile,
                 {ERROR_DISK_FULL, ERROR_NOT_ENOUGH_QUOTA, ERROR_OPERATION_ABORTED}}),
    [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace vendrake::testing
