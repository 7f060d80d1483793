#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "engine/errors.h"
#include "tests/support/file_system_contract.h"

namespace vendrake::testing {
namespace {

using engine::FileError;
using engine::FileIdentity;
using engine::FileProblem;
using engine::kDefaultPermissions;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

Bytes ReadAll(engine::Folder& folder, std::u16string_view name) {
  const auto input = folder.OpenForReading(name);
  Bytes bytes(input->Length());
  input->Read(bytes);
  return bytes;
}

TEST_P(FileSystemContract, ListsOnlyNormalFiles) {
  harness_->PutFile(u"plain_A1", {1});
  harness_->PutFile(u"plain_B2", {2});
  harness_->PutFolder(u"folder_C3");
  harness_->PutHiddenFile(u"");
  harness_->PutAbandonedStaging(u"");
  const auto folder = Open();
  const auto in_progress = folder->OpenForReplacing(u"new_D4", kDefaultPermissions);
  in_progress->Write(Bytes{4});

  EXPECT_THAT(ListedNames(*folder), ElementsAre(u"plain_A1", u"plain_B2"));
}

TEST_P(FileSystemContract, CreatesOneFolderLevelOnly) {
  Files().CreateFolder(Text(u"new\\"));
  EXPECT_THAT(harness_->AllNames(u""), ElementsAre(u"new"));
  EXPECT_THROW(Files().CreateFolder(Text(u"new\\")), FileError);
  EXPECT_THROW(Files().CreateFolder(Text(u"absent\\child\\")), FileError);
  EXPECT_THAT(harness_->AllNames(u""), ElementsAre(u"new"));
  EXPECT_THROW(Open(u"absent\\"), FileError);
}

// A caller can tell a folder that is not there from a file where a folder
// was meant.
TEST_P(FileSystemContract, OpeningAMissingFolderOrAFileSaysWhich) {
  harness_->PutFile(u"plain_A1", {1});
  const auto problem_opening = [&](std::u16string_view path) -> std::optional<FileProblem> {
    try {
      Open(path);
    } catch (const FileError& error) {
      return error.Problem();
    }
    return std::nullopt;
  };
  EXPECT_EQ(problem_opening(u"absent\\"), FileProblem::kNoSuchFolder);
  EXPECT_EQ(problem_opening(u"absent\\child\\"), FileProblem::kNoSuchFolder);
  EXPECT_EQ(problem_opening(u"plain_A1\\"), FileProblem::kNotAFolder);
}

TEST_P(FileSystemContract, ReadsOnlyPlainNamesOfTheFolderItself) {
  harness_->PutFile(u"model_A1", {1, 2, 3, 4, 5});
  harness_->PutFolder(u"sub");
  harness_->PutFile(u"sub\\inner_A1", {9});
  const auto folder = Open();

  EXPECT_EQ(ReadAll(*folder, u"model_A1"), (Bytes{1, 2, 3, 4, 5}));
  for (const std::u16string_view name :
       {u"missing", u"sub", u"sub\\inner_A1", u"sub/inner_A1", u"", u".", u".."}) {
    SCOPED_TRACE(std::string(name.begin(), name.end()));
    EXPECT_THROW(folder->OpenForReading(name), FileError);
  }
  EXPECT_THROW(folder->OpenForReplacing(u"sub\\inner_A1", kDefaultPermissions), FileError);
  EXPECT_EQ(harness_->FileBytes(u"sub\\inner_A1"), (Bytes{9}));
}

TEST_P(FileSystemContract, CommitGivesANewOutputItsNameUnhidden) {
  const auto folder = Open();
  Replace(*folder, u"new_A1", {1, 2, 3});

  EXPECT_EQ(harness_->FileBytes(u"new_A1"), (Bytes{1, 2, 3}));
  EXPECT_THAT(harness_->AllNames(u""), ElementsAre(u"new_A1"));
  EXPECT_THAT(ListedNames(*folder), ElementsAre(u"new_A1"));
}

TEST_P(FileSystemContract, CommitReplacesAnExistingFileWhole) {
  harness_->PutFile(u"out_A1", Bytes(100, 7));
  const auto folder = Open();
  Replace(*folder, u"out_A1", {1, 2, 3});

  EXPECT_EQ(harness_->FileBytes(u"out_A1"), (Bytes{1, 2, 3}));
  EXPECT_THAT(harness_->AllNames(u""), ElementsAre(u"out_A1"));
  EXPECT_THAT(ListedNames(*folder), ElementsAre(u"out_A1"));
}

TEST_P(FileSystemContract, OutputsFlushedTogetherTakeTheirNamesInOrder) {
  harness_->PutFile(u"out_A1", Bytes(50, 7));
  const auto folder = Open();
  const auto replacing = folder->OpenForReplacing(u"out_A1", kDefaultPermissions);
  const auto first_new = folder->OpenForReplacing(u"out_B2", kDefaultPermissions);
  const auto second_new = folder->OpenForReplacing(u"out_B2", kDefaultPermissions);
  replacing->Write(Bytes{1, 2});
  first_new->Write(Bytes{3});
  second_new->Write(Bytes{4, 5, 6});
  folder->FlushStaged();
  EXPECT_EQ(harness_->FileBytes(u"out_A1"), Bytes(50, 7));

  replacing->Commit();
  first_new->Commit();
  second_new->Commit();
  folder->FlushStaged();

  EXPECT_EQ(harness_->FileBytes(u"out_A1"), (Bytes{1, 2}));
  EXPECT_EQ(harness_->FileBytes(u"out_B2"), (Bytes{4, 5, 6}));
  EXPECT_THAT(harness_->AllNames(u""), ElementsAre(u"out_A1", u"out_B2"));
}

TEST_P(FileSystemContract, UncommittedOutputLeavesOnlyTheOldFile) {
  harness_->PutFile(u"out_A1", {5, 6});
  const auto folder = Open();
  {
    const auto output = folder->OpenForReplacing(u"out_A1", kDefaultPermissions);
    output->Write(Bytes{1, 2, 3});
    EXPECT_THAT(ListedNames(*folder), ElementsAre(u"out_A1"));
    EXPECT_EQ(harness_->FileBytes(u"out_A1"), (Bytes{5, 6}));
  }
  EXPECT_THAT(harness_->AllNames(u""), ElementsAre(u"out_A1"));
  EXPECT_EQ(harness_->FileBytes(u"out_A1"), (Bytes{5, 6}));
}

TEST_P(FileSystemContract, CommitOntoAFolderOrAReadOnlyFileFailsAndKeepsIt) {
  harness_->PutFolder(u"folder_A1");
  harness_->PutFile(u"folder_A1\\inside", {8});
  harness_->PutFile(u"locked_A1", {5});
  harness_->MakeReadOnly(u"locked_A1");
  const auto folder = Open();

  for (const std::u16string_view name : {u"folder_A1", u"locked_A1"}) {
    SCOPED_TRACE(std::string(name.begin(), name.end()));
    auto output = folder->OpenForReplacing(name, kDefaultPermissions);
    output->Write(Bytes{1, 2, 3});
    EXPECT_THROW(output->Commit(), FileError);
  }

  EXPECT_THAT(harness_->AllNames(u""), ElementsAre(u"folder_A1", u"locked_A1"));
  EXPECT_EQ(harness_->FileBytes(u"folder_A1\\inside"), (Bytes{8}));
  EXPECT_EQ(harness_->FileBytes(u"locked_A1"), (Bytes{5}));
}

TEST_P(FileSystemContract, IdentityFollowsTheFileNotTheName) {
  harness_->PutFile(u"first_A1", {1});
  harness_->PutFile(u"second_A1", {1});
  const auto folder = Open();

  const FileIdentity written = Replace(*folder, u"out_A1", {2});
  EXPECT_EQ(folder->OpenForReading(u"out_A1")->Identity(), written);
  EXPECT_EQ(folder->IdentityAt(u"out_A1"), written);
  EXPECT_FALSE(folder->IdentityAt(u"missing_A1").Known());
  const FileIdentity first = folder->OpenForReading(u"first_A1")->Identity();
  EXPECT_EQ(folder->IdentityAt(u"first_A1"), first);
  EXPECT_NE(first, folder->OpenForReading(u"second_A1")->Identity());
  EXPECT_NE(first, written);
  if (harness_->Link(u"first_A1", u"again_A1")) {
    EXPECT_EQ(folder->OpenForReading(u"again_A1")->Identity(), first);
  }
}

TEST_P(FileSystemContract, FolderIdentityIsTheSameThroughAnyOfItsTexts) {
  harness_->PutFolder(u"a");
  harness_->PutFolder(u"b");
  const FileIdentity a = Open(u"a\\")->Identity();

  EXPECT_EQ(Open(u"a\\\\\\")->Identity(), a);
  EXPECT_NE(Open(u"b\\")->Identity(), a);
  for (const std::u16string& text : harness_->OtherTextsFor(u"a")) {
    SCOPED_TRACE(std::string(text.begin(), text.end()));
    EXPECT_EQ(Files().OpenFolder(text)->Identity(), a);
  }
}

TEST_P(FileSystemContract, AnOpenFolderStaysTheFolderItOpened) {
  harness_->PutFolder(u"out");
  harness_->PutFile(u"out\\old_A1", {1});
  const auto folder = Open(u"out\\");
  if (!harness_->SwapFolder(u"out", u"moved")) {
    GTEST_SKIP() << "nothing on this file system can move a folder away";
  }

  Replace(*folder, u"new_A1", {2});

  EXPECT_THAT(harness_->AllNames(u"out"), IsEmpty());
  EXPECT_THAT(harness_->AllNames(u"moved"), ElementsAre(u"new_A1", u"old_A1"));
  EXPECT_THAT(ListedNames(*folder), ElementsAre(u"new_A1", u"old_A1"));
  EXPECT_EQ(ReadAll(*folder, u"old_A1"), (Bytes{1}));
}

TEST_P(FileSystemContract, RemovesOnlyAbandonedStaging) {
  const std::u16string hidden = harness_->PutHiddenFile(u"");
  harness_->PutAbandonedStaging(u"");
  const auto folder = Open();
  const auto in_progress = folder->OpenForReplacing(u"new_A1", kDefaultPermissions);
  in_progress->Write(Bytes{4});

  // Another run's handle on the same folder, as a second process would have.
  EXPECT_EQ(Open()->RemoveAbandonedStaging(), 1U);
  in_progress->Commit();

  EXPECT_THAT(harness_->AllNames(u""), UnorderedElementsAre(hidden, u"new_A1"));
  EXPECT_EQ(harness_->FileBytes(u"new_A1"), (Bytes{4}));
  EXPECT_EQ(folder->RemoveAbandonedStaging(), 0U);
}

TEST_P(FileSystemContract, IsEmptyWithNothingButOutputsInProgress) {
  harness_->PutFolder(u"empty");
  harness_->PutFolder(u"with_folder");
  harness_->PutFolder(u"with_folder\\inner");
  harness_->PutFolder(u"with_hidden");
  harness_->PutHiddenFile(u"with_hidden");
  const auto empty = Open(u"empty\\");
  const auto in_progress = empty->OpenForReplacing(u"new_A1", kDefaultPermissions);
  in_progress->Write(Bytes{4});

  EXPECT_TRUE(empty->IsEmpty());
  EXPECT_FALSE(Open(u"with_folder\\")->IsEmpty());
  EXPECT_FALSE(Open(u"with_hidden\\")->IsEmpty());
  in_progress->Commit();
  EXPECT_FALSE(empty->IsEmpty());
}

}  // namespace
}  // namespace vendrake::testing
