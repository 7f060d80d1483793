#include "engine/win32/win32_file_system.h"

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "engine/batch_run.h"
#include "engine/errors.h"
#include "engine/text_encoding.h"
#include "tests/engine/win32/played_volume.h"
#include "tests/engine/win32/win32_file_system_fixture.h"
#include "tests/support/batch_recorder.h"
#include "tests/support/file_system_contract.h"
#include "tests/support/scaled_model.h"
#include "tests/support/temporary_folder.h"
#include "tools/synthetic_model.h"

// Win32FileSystem against the contract every file system keeps, and what
// only Windows has: attributes, names in UTF-16 and in any case, long paths,
// files held by other programs, links and placeholders of cloud folders. How
// outputs reach the disk is in win32_flushing_test.cpp.
namespace vendrake::engine {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using ::testing::ElementsAre;
using testing::FileSystemContract;
using testing::ListedNames;
using testing::ReadFile;
using testing::Replace;

std::wstring Wide(std::u16string_view text) { return {text.begin(), text.end()}; }

INSTANTIATE_TEST_SUITE_P(Win32, FileSystemContract,
                         ::testing::Values(testing::HarnessMaker{
                             "Win32", [] { return std::make_unique<Win32Harness>(); }}),
                         testing::HarnessName);

TEST_F(Win32FileSystemTest, ListsNeitherHiddenNorSystemFilesNorFoldersNorStagingFiles) {
  if (!KeepsAttributes(FILE_ATTRIBUTE_SYSTEM)) {
    GTEST_SKIP() << "Wine cannot keep file attributes on this Linux file system (no user "
                    "extended attributes)";
  }
  // Staging files are kept out by their names too, on every volume; a whole
  // one that a clean-up set aside for the user is listed, and opening it says
  // why a run passes it over.
  for (const char16_t* name : {u"plain_A1", u"hidden_A2", u"system_A3", u"both_A4",
                               u".vendrake-7.Out_2x_A2.ready", u"vendrake-recovered-9"}) {
    harness_.PutFile(name, {1});
  }
  Play({.dot_files_shown = true});
  harness_.SetAttributes(u"hidden_A2", FILE_ATTRIBUTE_HIDDEN);
  harness_.SetAttributes(u"system_A3", FILE_ATTRIBUTE_SYSTEM);
  harness_.SetAttributes(u"both_A4", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  harness_.PutFolder(u"folder_A5");

  const auto folder = Open();
  EXPECT_THAT(ListedNames(*folder), ElementsAre(u"plain_A1", u"vendrake-recovered-9"));
  try {
    folder->OpenForReading(u"vendrake-recovered-9");
    ADD_FAILURE() << "a file set aside was opened as a model";
  } catch (const FileError& error) {
    EXPECT_EQ(error.Problem(), FileProblem::kSetAside);
  }
}

TEST_F(Win32FileSystemTest, AReplacedOutputKeepsItsAttributesAndANewOneHasNoHiddenAttribute) {
  if (!KeepsAttributes(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) {
    GTEST_SKIP() << "Wine cannot keep file attributes on this Linux file system (no user "
                    "extended attributes)";
  }
  harness_.PutFile(u"kept_A1", {7});
  harness_.SetAttributes(u"kept_A1", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  const auto folder = Open();

  Replace(*folder, u"kept_A1", {1});
  Replace(*folder, u"new_A1", {2});

  EXPECT_EQ(harness_.FileBytes(u"kept_A1"), (Bytes{1}));
  EXPECT_EQ(harness_.AttributesOf(u"kept_A1") & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
            FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  EXPECT_EQ(harness_.AttributesOf(u"new_A1") & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY),
            0U);
  // Left hidden by the volume once it has its name: it stays, and says so.
  Play({.refuses_output_attributes = true});
  auto output = folder->OpenForReplacing(u"out_A1", kDefaultPermissions);
  output->Write(Bytes{3});
  try {
    output->Commit();
    ADD_FAILURE() << "an output left hidden counted as written";
  } catch (const FileError& error) {
    EXPECT_THAT(error.what(), ::testing::HasSubstr("left hidden"));
  }
  output.reset();
  EXPECT_EQ(harness_.FileBytes(u"out_A1"), (Bytes{3}));
}

// U+1F600 is a surrogate pair in UTF-16; the name must come back unit for unit.
TEST_F(Win32FileSystemTest, NamesOutsideTheBasicPlaneRoundTrip) {
  const std::u16string name = u"model_\U0001F600_A1";
  harness_.PutFile(name, {1, 2, 3, 4});
  const auto folder = Open();

  EXPECT_THAT(ListedNames(*folder), ElementsAre(name));
  const auto input = folder->OpenForReading(name);
  Bytes bytes(input->Length());
  input->Read(bytes);
  EXPECT_EQ(bytes, (Bytes{1, 2, 3, 4}));
  Replace(*folder, u"copy_\U0001F600", bytes);
  EXPECT_EQ(harness_.FileBytes(u"copy_\U0001F600"), bytes);
}

TEST_F(Win32FileSystemTest, WorksInFoldersWhosePathsPassMaxPath) {
  std::u16string relative;
  while ((harness_.Root() + relative).size() <= MAX_PATH + 20) {
    relative += std::u16string(40, u'd') + u"\\";
    files_.CreateFolder(harness_.Root() + relative);
  }
  const auto folder = Open(relative);
  Replace(*folder, u"deep_A1", {5, 6});

  EXPECT_THAT(ListedNames(*folder), ElementsAre(u"deep_A1"));
  EXPECT_EQ(ReadFile(L"\\\\?\\" + Wide(harness_.Root() + relative) + L"deep_A1"), (Bytes{5, 6}));
}

// Windows limits the whole path to MAX_PATH, the current folder included, so
// a short relative text may name a path too long for the plain form. Wine
// takes such paths in the plain form, so what is handed to it is checked.
TEST_F(Win32FileSystemTest, AShortRelativeTextWhoseWholePathPassesMaxPathTakesTheLongForm) {
  wchar_t previous[MAX_PATH];
  ASSERT_NE(GetCurrentDirectoryW(MAX_PATH, previous), 0U);
  ASSERT_TRUE(SetCurrentDirectoryW(Wide(harness_.Root()).c_str())) << GetLastError();
  const std::u16string relative = std::u16string(MAX_PATH - 20, u'd') + u"\\";

  const std::u16string handed = ToWin32Path(u"x\\..\\" + relative);
  SetCurrentDirectoryW(previous);

  EXPECT_EQ(handed, u"\\\\?\\" + harness_.Root() + relative);
}

// Another program holds one model open and lets nobody read it meanwhile.
TEST_F(Win32FileSystemTest, AFileHeldWithoutShareReadFailsAloneAndTheRunGoesOn) {
  const tools::ModelShape shape{.vertex_count = 8, .face_count = 12};
  harness_.PutFolder(u"in");
  harness_.PutFile(u"in\\rock_A1", tools::MakeModel(shape));
  harness_.PutFile(u"in\\rock_B2", tools::MakeModel(shape));
  const HANDLE held = CreateFileW(harness_.Path(u"in\\rock_A1").c_str(), GENERIC_READ, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  WindowState state;
  state.ScaleFactor = 2.0F;
  testing::BatchRecorder recorder;

  const BatchOutcome outcome =
      RunBatch(state, files_, harness_.Root() + u"in\\", harness_.Root() + u"out\\", &recorder);
  CloseHandle(held);

  EXPECT_EQ(outcome.tally, (RunTally{.attempted = 2, .succeeded = 1}));
  EXPECT_THAT(recorder.events, ::testing::Contains("rock_A1 failed at read: file"));
  EXPECT_EQ(harness_.FileBytes(u"out\\out_B2"), testing::ScaledModel(shape, 2.0F));
  EXPECT_EQ(harness_.FileBytes(u"out\\out_A1"), std::nullopt);
}

// The destination names the source folder through "..", in other letters and
// with a run of separators, on a volume that cannot tell files apart: every
// model is rewritten in place and scaled once only. The output of A_A1 is
// about to replace Models_A1, which is then passed over.
TEST_F(Win32FileSystemTest, ADestinationThatIsTheSourceByAnotherTextIsScaledInPlaceOnce) {
  const tools::ModelShape first{.vertex_count = 8, .face_count = 12, .seed = 1};
  const tools::ModelShape second{.vertex_count = 8, .face_count = 12, .seed = 2};
  harness_.PutFolder(u"Models");
  harness_.PutFolder(u"other");
  harness_.PutFile(u"Models\\A_A1", tools::MakeModel(first));
  harness_.PutFile(u"Models\\Models_A1", tools::MakeModel(second));
  harness_.PutFile(u"Models\\Models_B2", tools::MakeModel(second));
  Play({.keeps_file_ids = false});
  // Listed in the order of their names, as NTFS and Wine list them.
  ASSERT_THAT(ListedNames(*Open(u"Models")), ElementsAre(u"A_A1", u"Models_A1", u"Models_B2"));
  WindowState state;
  state.ScaleFactor = 2.0F;

  const BatchOutcome outcome = RunBatch(state, files_, harness_.Root() + u"Models\\",
                                        harness_.Root() + u"other\\..\\\\MODELS\\");

  EXPECT_EQ(outcome.tally, (RunTally{.attempted = 2, .succeeded = 2}));
  EXPECT_THAT(harness_.AllNames(u"Models"), ElementsAre(u"A_A1", u"Models_A1", u"Models_B2"));
  EXPECT_EQ(harness_.FileBytes(u"Models\\Models_A1"), testing::ScaledModel(first, 2.0F));
  EXPECT_EQ(harness_.FileBytes(u"Models\\Models_B2"), testing::ScaledModel(second, 2.0F));
}

// A link to a file and one to a folder: either is replaced, never followed.
class Win32LinkAtTheOutput : public Win32FileSystemTest,
                             public ::testing::WithParamInterface<bool> {};

TEST_P(Win32LinkAtTheOutput, IsReplacedWithoutTouchingItsTarget) {
  const bool to_folder = GetParam();
  if (to_folder) {
    harness_.PutFolder(u"target");
    harness_.PutFile(u"target\\inside", {9, 9});
  } else {
    harness_.PutFile(u"target", {9, 9});
  }
  if (!CreateSymbolicLinkW(harness_.Path(u"out_A1").c_str(), harness_.Path(u"target").c_str(),
                           SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE |
                               (to_folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0))) {
    GTEST_SKIP() << "this account may not create symbolic links (error " << GetLastError() << ")";
  }
  Replace(*Open(), u"out_A1", {1, 2, 3});

  EXPECT_EQ(harness_.AttributesOf(u"out_A1") & FILE_ATTRIBUTE_REPARSE_POINT, 0U);
  EXPECT_EQ(harness_.FileBytes(u"out_A1"), (Bytes{1, 2, 3}));
  EXPECT_EQ(harness_.FileBytes(to_folder ? u"target\\inside" : u"target"), (Bytes{9, 9}));
  EXPECT_THAT(harness_.AllNames(u""), ElementsAre(u"out_A1", u"target"));
}

INSTANTIATE_TEST_SUITE_P(Win32, Win32LinkAtTheOutput, ::testing::Bool(),
                         [](const auto& link) { return link.param ? "ToAFolder" : "ToAFile"; });

// A virus scanner or sync client has the old output open, sharing neither
// writing nor deleting, for half a second while it is replaced.
TEST_F(Win32FileSystemTest, AnOutputHeldOpenForAMomentIsReplacedOnceItIsClosed) {
  harness_.PutFile(u"out_A1", {7, 7});
  const auto folder = Open();
  const auto output = folder->OpenForReplacing(u"out_A1", kDefaultPermissions);
  output->Write(Bytes{1, 2, 3});
  const HANDLE held = CreateFileW(harness_.Path(u"out_A1").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE) << GetLastError();
  std::thread scanner([held] {
    Sleep(500);
    CloseHandle(held);
  });

  EXPECT_NO_THROW(output->Commit());
  scanner.join();

  EXPECT_EQ(harness_.FileBytes(u"out_A1"), (Bytes{1, 2, 3}));
  EXPECT_THAT(harness_.AllNames(u""), ElementsAre(u"out_A1"));
}

TEST_F(Win32FileSystemTest, ListsWhatARedirectorAnswersAndAnEmptyRootAsEmpty) {
  harness_.PutFile(u"model_A1", {1});
  harness_.PutFile(u"model_A2", {2});
  Play({.refuses_id_listings = true});
  const auto folder = Open();

  EXPECT_THAT(ListedNames(*folder), ElementsAre(u"model_A1", u"model_A2"));
  played.empty_root = true;
  EXPECT_THAT(ListedNames(*folder), ::testing::IsEmpty());
  EXPECT_EQ(folder->RemoveAbandonedStaging(), 0U);
}

TEST_F(Win32FileSystemTest, APlaceholderOfACloudFolderIsAFileNotALink) {
  harness_.PutFile(u"locked_A1", {5});
  harness_.MakeReadOnly(u"locked_A1");
  harness_.PutAbandonedStaging(u"");
  Play({.cloud_placeholders = true});
  const auto folder = Open();

  const auto output = folder->OpenForReplacing(u"locked_A1", kDefaultPermissions);
  output->Write(Bytes{1, 2, 3});
  EXPECT_THROW(output->Commit(), FileError);
  EXPECT_EQ(folder->RemoveAbandonedStaging(), 1U);
  EXPECT_EQ(harness_.FileBytes(u"locked_A1"), (Bytes{5}));
}

// Wine makes no symbolic links (CreateSymbolicLinkW succeeds and makes
// nothing), so the link is played: opened, it finds nothing; opened as a
// reparse point, it is there.
TEST_F(Win32FileSystemTest, ALinkThatLeadsNowhereSaysSoWhereAMissingFileDoesNot) {
  harness_.PutFile(u"broken_A1", {1});
  Play({.broken_links = true});
  const auto folder = Open();
  const auto problem_opening = [&](std::u16string_view name) {
    try {
      folder->OpenForReading(name);
    } catch (const FileError& error) {
      return error.Problem();
    }
    ADD_FAILURE() << "opened";
    return FileProblem::kOther;
  };

  EXPECT_EQ(problem_opening(u"broken_A1"), FileProblem::kLeadsNowhere);
  EXPECT_EQ(problem_opening(u"missing_A1"), FileProblem::kOther);
}

TEST_F(Win32FileSystemTest, NameKeysAreEqualExactlyWhenTheVolumeTakesTwoNamesForOne) {
  const auto folder = Open();
  for (const auto& [name, other] : std::initializer_list<std::pair<std::u16string, std::u16string>>{
           {u"rock_a1", u"ROCK_A1"},
           {u"\u00FF_A1", u"\u0178_A1"},               // y and Y with diaeresis
           {u"\U00010428_A1", u"\U00010400_A1"},       // Deseret, beyond the BMP
           {u"stra\u00DFe_A1", u"STRA\u1E9EE_A1"}}) {  // sharp s and its capital
    SCOPED_TRACE(Utf16ToUtf8(name));
    harness_.PutFile(name, {1});
    bool one_name = true;
    try {
      folder->OpenForReading(other);
    } catch (const FileError&) {
      one_name = false;
    }
    EXPECT_EQ(files_.NameKey(name) == files_.NameKey(other), one_name);
    fs::remove(harness_.Path(name));
  }
}

TEST_F(Win32FileSystemTest, AnOpenFolderCannotBeMovedAwayOrDeleted) {
  harness_.PutFolder(u"out");
  {
    const auto folder = Open(u"out\\");
    EXPECT_FALSE(harness_.SwapFolder(u"out", u"moved"));
    EXPECT_FALSE(RemoveDirectoryW(harness_.Path(u"out").c_str()));
  }
  EXPECT_TRUE(harness_.SwapFolder(u"out", u"moved"));
}

}  // namespace
}  // namespace vendrake::engine
