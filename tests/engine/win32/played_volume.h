#pragma once

#include <windows.h>
#include <winternl.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vendrake::engine {

// What the volume under test answers where Wine answers otherwise, or
// cannot answer at all. The harness puts calls of its own in place of the
// system's (engine/win32/win32_system_calls.h), which answer as `played`
// says; every field left as it is keeps Wine's own answer, but for one:
// Wine 8 does not say that its volumes keep file IDs, as NTFS does, though
// its IDs, inode numbers, stay.
struct PlayedVolume {
  const wchar_t* file_system = nullptr;  // its name, such as FAT32
  bool keeps_file_ids = true;            // FILE_SUPPORTS_OPEN_BY_FILE_ID
  bool on_a_share = false;               // answers FileRemoteProtocolInfo
  bool remote_device = false;            // FILE_REMOTE_DEVICE in FileFsDeviceInformation
  NTSTATUS posix_rename = 0;             // its answer to FileRenameInformationEx
  bool refuses_id_listings = false;      // as some redirectors do
  bool empty_root = false;               // finds nothing at the first listing query
  bool cloud_placeholders = false;       // every file a reparse point of a cloud tag
  bool broken_links = false;             // every "broken_*" a symbolic link to nothing
  bool dot_files_shown = false;          // as Windows lists them, where Wine hides them
  enum class Ids { kFileIdInfo, kIndexOnly, kAllOnes, kIndexAllOnes, kOfNames } ids{};
  // NtFlushBuffersFileEx, which Wine 8 lacks, answering FLUSH_FLAGS_FILE_DATA_ONLY so.
  std::optional<NTSTATUS> data_only_writeout{};
  // A disk that cannot take the file of 3 bytes: as its data is written out,
  // when it is flushed, or when the first flush, a whole group's, fails.
  bool writeout_fails = false;
  // A call that takes its time, the write-out of the file of 3 bytes or the
  // first full flush: it says when it has begun (slow_call_begun) and
  // returns once the test lets it (slow_call_may_end).
  enum class Slow { kNothing, kWriteout, kFlush } slow{};
  bool flush_fails = false;
  bool first_flush_fails = false;
  // A stick pulled while the file here is replaced: its entry is gone, and
  // no rename succeeds after.
  std::filesystem::path pulled_during_replace{};
  // Where the user may write "out_A1" but not delete it: what asks to
  // delete it, or to rename over it, is refused.
  bool denies_deleting_output = false;
  // Another program has "out_A1" open: the first `in_use_answers` opens of
  // it for writing or deleting, and renames over it, are answered `in_use`.
  NTSTATUS in_use = 0;
  int in_use_answers = 0;
  // Another program has "out_A1" open for reading alone, sharing no writing.
  bool output_held_for_reading = false;
  // A volume that will not change the attributes of "out_A1".
  bool refuses_output_attributes = false;
  // A folder where the user may add files but not write attributes.
  bool folder_takes_only_new_files = false;
  bool pulled = false;
  int posix_renames_asked = 0;
  int full_flushes = 0;
  // The flushes, writeouts, renames and attributes set, and the answers played for
  // "out_A1", in order; staging numbers read N, and a flushed file that is
  // HIDDEN says so.
  std::vector<std::string> log{};
};

// The volume played now; a test may change what it answers between calls.
extern PlayedVolume played;
// Set as a slow call begins; the test sets the other to let it end.
extern HANDLE slow_call_begun;
extern HANDLE slow_call_may_end;
inline constexpr DWORD kLongestWaitMs = 5000;

// Plays `volume` from now on.
void Play(PlayedVolume volume);

}  // namespace vendrake::engine
