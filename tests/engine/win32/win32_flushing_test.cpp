#include "engine/win32/win32_file_system.h"

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/errors.h"
#include "tests/engine/win32/played_volume.h"
#include "tests/engine/win32/win32_file_system_fixture.h"
#include "tests/support/file_system_contract.h"

// How Win32FileSystem's outputs reach the disk on volumes of every kind: the
// identity of a file, the flushes a group of outputs takes and their order,
// replacing an output where renames are refused or have to wait, and the
// clean-up on FAT of a replace cut short.
namespace vendrake::engine {
namespace {

using engine::FileIdentity;
using testing::Bytes;
using ::testing::ElementsAre;
using testing::ListedNames;
using testing::Replace;

// FAT and exFAT answer the POSIX rename with STATUS_INVALID_PARAMETER. The
// classic rename replaces there, and the folder asks only once.
TEST_F(Win32FileSystemTest, AVolumeWithoutPosixRenamesIsAskedOncePerFolder) {
  harness_.PutFile(u"out_A1", {7});
  harness_.PutFile(u"out_A2", {7});
  Play({.posix_rename = static_cast<NTSTATUS>(0xC000000DL)});
  const auto folder = Open();

  Replace(*folder, u"out_A1", {1});
  Replace(*folder, u"out_A2", {2});

  EXPECT_EQ(harness_.FileBytes(u"out_A1"), (Bytes{1}));
  EXPECT_EQ(harness_.FileBytes(u"out_A2"), (Bytes{2}));
  EXPECT_EQ(played.posix_renames_asked, 1);
}

TEST_F(Win32FileSystemTest, AReplaceCutShortOnFatIsFinishedByTheNextCleanUp) {
  harness_.PutFile(u"out_A1", {7, 7});
  Play({.file_system = L"FAT32", .pulled_during_replace = harness_.Path(u"out_A1")});
  {
    const auto output = Open()->OpenForReplacing(u"out_A1", kDefaultPermissions);
    output->Write(Bytes{1, 2, 3});
    EXPECT_THROW(output->Commit(), FileError);
  }
  Play({.file_system = L"FAT32"});  // the stick is back

  EXPECT_EQ(Open()->RemoveAbandonedStaging(), 1U);
  EXPECT_EQ(harness_.FileBytes(u"out_A1"), (Bytes{1, 2, 3}));
  EXPECT_THAT(harness_.AllNames(u""), ElementsAre(u"out_A1"));
}

TEST_F(Win32FileSystemTest, OnFatTheCleanUpKeepsEveryWholeStagingFileThatMayBeTheOnlyCopy) {
  harness_.PutFile(u"kept_A1", {9});
  harness_.PutFile(u".vendrake-12.kept_A1.ready", {1});  // stopped before replacing
  // For an output whose name did not fit, HIDDEN as every staging file.
  Win32Harness::PutFileWithAttributes(harness_.Path(u".vendrake-13.ready"), {2},
                                      FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
  harness_.PutAbandonedStaging(u"");  // never whole
  Play({.file_system = L"exFAT"});
  const auto folder = Open();

  EXPECT_THAT(ListedNames(*folder), ElementsAre(u"kept_A1"));
  EXPECT_EQ(folder->RemoveAbandonedStaging(), 3U);
  EXPECT_THAT(harness_.AllNames(u""), ElementsAre(u"kept_A1", u"vendrake-recovered-13"));
  EXPECT_EQ(harness_.FileBytes(u"kept_A1"), (Bytes{9}));
  // Left where the user sees it, and where a run passes it over, saying so.
  EXPECT_EQ(harness_.AttributesOf(u"vendrake-recovered-13") & FILE_ATTRIBUTE_HIDDEN, 0U);
  EXPECT_THAT(ListedNames(*folder), ElementsAre(u"kept_A1", u"vendrake-recovered-13"));
}

struct VolumeCase {
  const char* name;
  PlayedVolume volume;
  bool yes;  // what the test asks of it
};
std::string CaseName(const ::testing::TestParamInfo<VolumeCase>& info) { return info.param.name; }

// Volumes that give file IDs of other kinds, or none that tell files apart.
class Win32Identity : public Win32FileSystemTest,
                      public ::testing::WithParamInterface<VolumeCase> {};

TEST_P(Win32Identity, IsKnownOnlyWhereTheVolumeTellsFilesApart) {
  harness_.PutFile(u"first_A1", {1});
  Play(GetParam().volume);
  const auto folder = Open();

  const FileIdentity written = Replace(*folder, u"out_A1", {2});
  const FileIdentity read = folder->OpenForReading(u"out_A1")->Identity();
  const FileIdentity first = folder->OpenForReading(u"first_A1")->Identity();
  if (GetParam().yes) {
    EXPECT_TRUE(written.Known());
    EXPECT_EQ(read, written);
    EXPECT_NE(first, written);
  } else {
    EXPECT_EQ(written, FileIdentity{});
    EXPECT_EQ(read, FileIdentity{});
  }
  // A folder is known however it is reached, by its ID or by where the
  // system says it is.
  harness_.PutFolder(u"sub");
  const FileIdentity sub = Open(u"sub")->Identity();
  EXPECT_TRUE(sub.Known());
  EXPECT_NE(sub, folder->Identity());
  EXPECT_EQ(Open(u"SUB\\")->Identity(), sub);
}

using Ids = PlayedVolume::Ids;
INSTANTIATE_TEST_SUITE_P(
    Win32, Win32Identity,
    ::testing::Values(VolumeCase{"OnlyTheIndex", {.ids = Ids::kIndexOnly}, true},
                      VolumeCase{"IdsThatFollowNames", {.ids = Ids::kOfNames}, true},
                      VolumeCase{"IdsNotKept", {.keeps_file_ids = false}, false},
                      VolumeCase{"AllOnes", {.ids = Ids::kAllOnes}, false},
                      VolumeCase{"AllOnesIndex", {.ids = Ids::kIndexAllOnes}, false}),
    CaseName);

// Whether a volume takes one flush of the disk for a whole group of outputs.
class Win32Flushing : public Win32FileSystemTest, public ::testing::WithParamInterface<VolumeCase> {
 protected:
  // Stages "out_A1", "out_A2" (which exists) and "out_A3" with 1, 3 and 1
  // bytes, flushes them, commits them, and flushes their names; which of the
  // commits failed.
  std::vector<bool> StageFlushCommit(PlayedVolume volume) {
    harness_.PutFile(u"out_A2", {9});
    Play(std::move(volume));
    const auto folder = Open();
    std::vector<std::unique_ptr<OutputFile>> outputs;
    for (const char16_t* name : {u"out_A1", u"out_A2", u"out_A3"}) {
      outputs.push_back(folder->OpenForReplacing(name, kDefaultPermissions));
      outputs.back()->Write(outputs.size() == 2 ? Bytes{1, 2, 3} : Bytes{1});
    }
    folder->FlushStaged();
    std::vector<bool> failed;
    for (const auto& output : outputs) {
      try {
        output->Commit();
        failed.push_back(false);
      } catch (const FileError& error) {
        EXPECT_THAT(error.what(), ::testing::HasSubstr("out_A2"));
        failed.push_back(true);
      }
    }
    folder->FlushStaged();
    return failed;
  }
};

TEST_P(Win32Flushing, FlushesTheDiskAsFewTimesAsTheVolumeAllows) {
  EXPECT_THAT(StageFlushCommit(GetParam().volume), ElementsAre(false, false, false));
  // The group, and then the names it took; on FAT, the name that says
  // out_A2 is ready to replace the old one too.
  const int ready = GetParam().volume.file_system != nullptr ? 1 : 0;
  EXPECT_EQ(played.full_flushes, (GetParam().yes ? 1 + 1 : 3 + 1) + ready);
  EXPECT_EQ(harness_.FileBytes(u"out_A2"), (Bytes{1, 2, 3}));
}

TEST_P(Win32Flushing, AFileTheDiskCannotTakeFailsAloneAndItsOldOutputStays) {
  PlayedVolume volume = GetParam().volume;
  if (GetParam().yes) {
    volume.writeout_fails = true;
    EXPECT_THAT(StageFlushCommit(volume), ElementsAre(false, true, false));
    // Each output flushes alone to find which one the failure concerns.
    volume.writeout_fails = false;
    volume.first_flush_fails = true;
  }
  volume.flush_fails = true;
  EXPECT_THAT(StageFlushCommit(volume), ElementsAre(false, true, false));
  EXPECT_EQ(harness_.FileBytes(u"out_A2"), (Bytes{9}));
  EXPECT_EQ(harness_.FileBytes(u"out_A3"), (Bytes{1}));
}

constexpr NTSTATUS kWrittenOut = 0;
INSTANTIATE_TEST_SUITE_P(
    Win32, Win32Flushing,
    ::testing::Values(
        VolumeCase{"LocalNtfs", {.data_only_writeout = kWrittenOut}, true},
        VolumeCase{"WithoutNtFlushBuffersFileEx", {}, false},
        VolumeCase{
            "NoSyncRefused", {.data_only_writeout = static_cast<NTSTATUS>(0xC000000DL)}, false},
        VolumeCase{"NoSyncAnsweredAsIncorrectFunction",
                   {.data_only_writeout = static_cast<NTSTATUS>(0xC0000010L)},
                   false},
        VolumeCase{"NtfsOnARemoteDevice",
                   {.remote_device = true, .data_only_writeout = kWrittenOut},
                   false},
        VolumeCase{"Fat", {.file_system = L"FAT32", .data_only_writeout = kWrittenOut}, false},
        VolumeCase{"Share", {.on_a_share = true, .data_only_writeout = kWrittenOut}, false}),
    CaseName);

// The committer flushes the group in hand while a staging thread is still
// writing out the next output, which no flush has covered then: it flushes
// alone before it takes its name.
TEST_F(Win32FileSystemTest, AnOutputWrittenOutDuringAGroupFlushFlushesBeforeItsName) {
  Play({.data_only_writeout = kWrittenOut, .slow = PlayedVolume::Slow::kWriteout});
  const auto folder = Open();
  const auto first = folder->OpenForReplacing(u"out_A1", kDefaultPermissions);
  first->Write(Bytes{1});
  const auto slow = folder->OpenForReplacing(u"out_A2", kDefaultPermissions);
  std::thread staging([&] { slow->Write(Bytes{1, 2, 3}); });
  EXPECT_EQ(WaitForSingleObject(slow_call_begun, kLongestWaitMs), WAIT_OBJECT_0);

  folder->FlushStaged();
  SetEvent(slow_call_may_end);
  staging.join();
  first->Commit();
  slow->Commit();
  // The next group flush goes through the output named last, which brings
  // the names given since the last one to the disk along with the outputs.
  const auto third = folder->OpenForReplacing(u"out_A3", kDefaultPermissions);
  third->Write(Bytes{1});
  folder->FlushStaged();

  EXPECT_THAT(played.log,
              ElementsAre("writeout .vendrake-N.tmp flags 2", "writeout .vendrake-N.tmp flags 2",
                          "flush .vendrake-N.tmp hidden", "rename .vendrake-N.tmp to out_A1",
                          "attributes of out_A1", "flush .vendrake-N.tmp hidden",
                          "rename .vendrake-N.tmp to out_A2", "attributes of out_A2",
                          "writeout .vendrake-N.tmp flags 2", "flush out_A2"));
  EXPECT_EQ(harness_.FileBytes(u"out_A2"), (Bytes{1, 2, 3}));
}

// An output written again while a group flush that found it listed is under
// way: that flush covers none of what came since, and the output flushes
// alone before it takes its name.
TEST_F(Win32FileSystemTest, AnOutputWrittenAgainDuringAGroupFlushFlushesBeforeItsName) {
  Play({.data_only_writeout = kWrittenOut, .slow = PlayedVolume::Slow::kFlush});
  const auto folder = Open();
  const auto output = folder->OpenForReplacing(u"out_A1", kDefaultPermissions);
  output->Write(Bytes{1});
  std::thread committer([&] { folder->FlushStaged(); });
  EXPECT_EQ(WaitForSingleObject(slow_call_begun, kLongestWaitMs), WAIT_OBJECT_0);

  output->Write(Bytes{2, 3});
  SetEvent(slow_call_may_end);
  committer.join();
  output->Commit();

  EXPECT_THAT(played.log,
              ElementsAre("writeout .vendrake-N.tmp flags 2", "flush .vendrake-N.tmp hidden",
                          "writeout .vendrake-N.tmp flags 2", "flush .vendrake-N.tmp hidden",
                          "rename .vendrake-N.tmp to out_A1", "attributes of out_A1"));
  EXPECT_EQ(harness_.FileBytes(u"out_A1"), (Bytes{1, 2, 3}));
}

// How an output that replaces another reaches the disk, and what becomes of
// it where replacing is refused or has to wait: the order of the flushes,
// writeouts and renames, and of the answers the volume plays.
struct ReplaceCase {
  const char* name;
  PlayedVolume volume;
  std::vector<std::string> log{};
  const char* error = nullptr;        // part of the reason out_A1 fails with, if it does
  const char* unconfirmed = nullptr;  // part of the reason the names may not be on the disk
};

class Win32Replacing : public Win32FileSystemTest,
                       public ::testing::WithParamInterface<ReplaceCase> {};

// A new output, then "out_A1" over the one there, each committed as soon as
// it is written, then the names flushed.
TEST_P(Win32Replacing, FlushesAndRenamesInTheOrderThatKeepsEveryOutput) {
  harness_.PutFile(u"out_A1", {7, 7});
  Play(GetParam().volume);
  const auto folder = Open();
  Replace(*folder, u"new_A1", {1});
  auto output = folder->OpenForReplacing(u"out_A1", kDefaultPermissions);
  output->Write(Bytes{1, 2, 3});
  std::string error;
  try {
    output->Commit();
  } catch (const FileError& failure) {
    error = failure.what();
  }
  output.reset();
  std::string unconfirmed;
  try {
    folder->FlushStaged();
  } catch (const FileError& failure) {
    unconfirmed = failure.what();
  }
  // Told once: nothing is left for the next flush.
  EXPECT_NO_THROW(folder->FlushStaged());

  EXPECT_EQ(played.log, GetParam().log);
  if (GetParam().unconfirmed != nullptr) {
    EXPECT_THAT(unconfirmed, ::testing::HasSubstr(GetParam().unconfirmed));
  } else {
    EXPECT_EQ(unconfirmed, "");
  }
  if (GetParam().error != nullptr) {
    EXPECT_THAT(error, ::testing::HasSubstr(GetParam().error));
    EXPECT_EQ(harness_.FileBytes(u"out_A1"), (Bytes{7, 7}));
  } else {
    EXPECT_EQ(error, "");
    EXPECT_EQ(harness_.FileBytes(u"out_A1"), (Bytes{1, 2, 3}));
  }
  EXPECT_THAT(harness_.AllNames(u""), ElementsAre(u"new_A1", u"out_A1"));
}

const std::vector<std::string> kNtfsLog = {"flush .vendrake-N.tmp hidden",
                                           "rename .vendrake-N.tmp to new_A1",
                                           "attributes of new_A1",
                                           "flush .vendrake-N.tmp hidden",
                                           "rename .vendrake-N.tmp to out_A1",
                                           "attributes of out_A1",
                                           "flush out_A1"};
constexpr NTSTATUS kSharingViolation = static_cast<NTSTATUS>(0xC0000043L);
INSTANTIATE_TEST_SUITE_P(
    Win32, Win32Replacing,
    ::testing::Values(
        // The ready name is on the disk before the old entry goes, and the
        // names of the last group by a flush of a file, as a flush of a folder
        // does nothing on FAT.
        ReplaceCase{
            "Fat",
            {.file_system = L"FAT32"},
            {"flush .vendrake-N.tmp hidden", "rename .vendrake-N.tmp to new_A1",
             "attributes of new_A1", "flush .vendrake-N.tmp hidden",
             "attributes of .vendrake-N.tmp hidden",
             "rename .vendrake-N.tmp to .vendrake-N.out_A1.ready",
             "flush .vendrake-N.out_A1.ready hidden", "rename .vendrake-N.out_A1.ready to out_A1",
             "attributes of out_A1", "flush out_A1"}},
        ReplaceCase{"Ntfs", {}, kNtfsLog},
        // Data and metadata written out without flushing the disk's cache.
        ReplaceCase{"LocalNtfs",
                    {.data_only_writeout = 0},
                    {"writeout .vendrake-N.tmp flags 2", "flush .vendrake-N.tmp hidden",
                     "rename .vendrake-N.tmp to new_A1", "attributes of new_A1",
                     "writeout .vendrake-N.tmp flags 2", "flush .vendrake-N.tmp hidden",
                     "rename .vendrake-N.tmp to out_A1", "attributes of out_A1", "flush out_A1"}},
        // Windows 10 1607 refuses the POSIX rename as an incorrect function.
        ReplaceCase{
            "InvalidDeviceRequest", {.posix_rename = static_cast<NTSTATUS>(0xC0000010L)}, kNtfsLog},
        ReplaceCase{
            "IllegalFunction", {.posix_rename = static_cast<NTSTATUS>(0xC00000AFL)}, kNtfsLog},
        // Refused at once, not after the retries.
        ReplaceCase{"MayNotDelete",
                    {.denies_deleting_output = true},
                    {"flush .vendrake-N.tmp hidden", "rename .vendrake-N.tmp to new_A1",
                     "attributes of new_A1", "flush .vendrake-N.tmp hidden", "refused out_A1",
                     "flush new_A1"},
                    "cannot replace"},
        // The names then go to the disk by the folder, which a user who may
        // only add files may flush.
        ReplaceCase{"LastOutputHeld",
                    {.output_held_for_reading = true, .folder_takes_only_new_files = true},
                    {"flush .vendrake-N.tmp hidden", "rename .vendrake-N.tmp to new_A1",
                     "attributes of new_A1", "flush .vendrake-N.tmp hidden", "held out_A1",
                     "rename .vendrake-N.tmp to out_A1", "attributes of out_A1", "held out_A1",
                     "flush folder"}},
        // FAT flushes no folder: the names may not be on the disk.
        ReplaceCase{
            "FatLastOutputHeld",
            {.file_system = L"FAT32", .output_held_for_reading = true},
            {"flush .vendrake-N.tmp hidden", "rename .vendrake-N.tmp to new_A1",
             "attributes of new_A1", "flush .vendrake-N.tmp hidden", "held out_A1",
             "attributes of .vendrake-N.tmp hidden",
             "rename .vendrake-N.tmp to .vendrake-N.out_A1.ready",
             "flush .vendrake-N.out_A1.ready hidden", "rename .vendrake-N.out_A1.ready to out_A1",
             "attributes of out_A1", "held out_A1"},
            nullptr,
            "cannot flush the names of the outputs in"},
        ReplaceCase{"HeldByAnother",
                    {.in_use = kSharingViolation, .in_use_answers = 3},
                    {"flush .vendrake-N.tmp hidden", "rename .vendrake-N.tmp to new_A1",
                     "attributes of new_A1", "flush .vendrake-N.tmp hidden", "in use out_A1",
                     "in use out_A1", "in use out_A1", "rename .vendrake-N.tmp to out_A1",
                     "attributes of out_A1", "flush out_A1"}},
        ReplaceCase{"DeletePending",
                    {.in_use = static_cast<NTSTATUS>(0xC0000056L), .in_use_answers = 3},
                    {"flush .vendrake-N.tmp hidden", "rename .vendrake-N.tmp to new_A1",
                     "attributes of new_A1", "flush .vendrake-N.tmp hidden", "in use out_A1",
                     "in use out_A1", "in use out_A1", "rename .vendrake-N.tmp to out_A1",
                     "attributes of out_A1", "flush out_A1"}}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace vendrake::engine
