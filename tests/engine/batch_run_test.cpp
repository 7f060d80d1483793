#include "engine/batch_run.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "engine/memory/memory_file_system.h"
#include "engine/text_encoding.h"
#include "tests/support/batch_recorder.h"
#include "tests/support/scaled_model.h"
#include "tools/synthetic_model.h"

namespace vendrake::engine {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Op = MemoryFileSystem::Operation;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr std::u16string_view kSource = u"C:\\Work\\CliffNatural0\\";
constexpr std::u16string_view kDest = u"C:\\Work\\CliffNatural0_2x\\";
// Not a power of two, so every height product is rounded.
constexpr float kFactor = 2.5F;

tools::ModelShape Shape(std::uint32_t seed, std::uint32_t vertices = 16) {
  return {.vertex_count = vertices, .face_count = vertices * 3 / 2, .seed = seed};
}

// The model with every height multiplied here, independently of the pass.
Bytes Scaled(const tools::ModelShape& shape) { return testing::ScaledModel(shape, kFactor); }

std::u16string In(std::u16string_view name) {
  return std::u16string(kSource) + std::u16string(name);
}
std::u16string Out(std::u16string_view name) {
  return std::u16string(kDest) + std::u16string(name);
}

class BatchRunTest : public ::testing::Test {
 protected:
  BatchOutcome Run(std::u16string_view source = kSource, std::u16string_view dest = kDest) {
    return RunBatch(state_, files_, source, dest, &recorder_);
  }
  void ExpectFinished(const BatchOutcome& outcome, std::int64_t attempted, std::int64_t succeeded) {
    EXPECT_EQ(outcome.kind, BatchOutcome::Kind::kFinished);
    EXPECT_EQ(outcome.tally, (RunTally{.attempted = attempted, .succeeded = succeeded}));
  }
  // The three models most tests start from; readme has no "_".
  void AddThreeModels() {
    files_.AddFile(In(u"CliffNatural0_A1"), tools::MakeModel(Shape(1)));
    files_.AddFile(In(u"CliffNatural0_B2"), tools::MakeModel(Shape(2)));
    files_.AddFile(In(u"readme"), tools::MakeModel(Shape(3)));
  }

  MemoryFileSystem files_;
  WindowState state_{.ModelWords = {}, .DestBaseName = {}, .ScaleFactor = kFactor};
  testing::BatchRecorder recorder_;
};

TEST_F(BatchRunTest, WritesEachNormalFileScaledUnderItsNewName) {
  files_.AddFile(In(u"CliffNatural0_A1"), tools::MakeModel(Shape(1)));
  auto with_tail = Shape(2);
  with_tail.trailing_bytes = 3;
  files_.AddFile(In(u"CliffNatural0_A_B"), tools::MakeModel(with_tail));
  files_.AddFile(In(u"readme"), tools::MakeModel(Shape(3)));
  files_.AddFile(In(u"Hidden_H1"), tools::MakeModel(Shape(4)), {.hidden = true});
  files_.AddFile(In(u"System_S1"), tools::MakeModel(Shape(5)), {.system = true});
  files_.AddFile(In(u"Sub_F1\\Inner_F2"), tools::MakeModel(Shape(6)));

  ExpectFinished(Run(), 3, 2);

  EXPECT_EQ(state_.DestBaseName, u"\\CliffNatural0_2x");
  EXPECT_EQ(files_.FileBytes(Out(u"CliffNatural0_2x_A1")), Scaled(Shape(1)));
  // The suffix runs from the first "_"; the 3 bytes after the last word come back as they were.
  EXPECT_EQ(files_.FileBytes(Out(u"CliffNatural0_2x_A_B")), Scaled(with_tail));
  EXPECT_THAT(files_.FilePaths(),
              ElementsAre(In(u"CliffNatural0_A1"), In(u"CliffNatural0_A_B"), In(u"Hidden_H1"),
                          In(u"Sub_F1\\Inner_F2"), In(u"System_S1"), In(u"readme"),
                          Out(u"CliffNatural0_2x_A1"), Out(u"CliffNatural0_2x_A_B")));
  EXPECT_THAT(recorder_.events,
              ElementsAre("CliffNatural0_A1 -> C:\\Work\\CliffNatural0_2x\\CliffNatural0_2x_A1",
                          "CliffNatural0_A_B -> C:\\Work\\CliffNatural0_2x\\CliffNatural0_2x_A_B",
                          "readme failed at name output: invalid argument"));
  EXPECT_EQ(files_.Calls(Op::kOpenForReading), 3);
}

struct EmptySourceCase {
  const char* name;
  void (*setup)(MemoryFileSystem&);
  bool has_reason;  // the folder could not be listed, rather than held nothing
};

void PrintTo(const EmptySourceCase& source, std::ostream* out) { *out << source.name; }

class EmptySourceTest : public BatchRunTest,
                        public ::testing::WithParamInterface<EmptySourceCase> {};

TEST_P(EmptySourceTest, RunsNothingButCreatesTheDestination) {
  files_.AddFolder(u"C:\\Work");
  GetParam().setup(files_);

  const BatchOutcome outcome = Run();

  EXPECT_EQ(outcome.kind, BatchOutcome::Kind::kSourceEmpty);
  EXPECT_EQ(outcome.tally, RunTally{});
  EXPECT_EQ(outcome.listing_error.empty(), !GetParam().has_reason) << outcome.listing_error;
  EXPECT_TRUE(files_.FolderExists(kDest));
  EXPECT_EQ(files_.Calls(Op::kOpenForReading), 0);
  EXPECT_THAT(recorder_.events, IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    BatchRun, EmptySourceTest,
    ::testing::Values(EmptySourceCase{"Missing", [](MemoryFileSystem&) {}, true},
                      EmptySourceCase{"OnlyHiddenSystemAndSubfolders",
                                      [](MemoryFileSystem& files) {
                                        files.AddFile(In(u"H_1"), {1, 2, 3, 4}, {.hidden = true});
                                        files.AddFile(In(u"S_1"), {1, 2, 3, 4}, {.system = true});
                                        files.AddFile(In(u"Sub_1\\F_1"), {1, 2, 3, 4});
                                      },
                                      false},
                      EmptySourceCase{"ListingFails",
                                      [](MemoryFileSystem& files) {
                                        files.AddFile(In(u"F_1"), {1, 2, 3, 4});
                                        files.FailOn(Op::kList, 1);
                                      },
                                      true},
                      EmptySourceCase{"FirstNameFails",
                                      [](MemoryFileSystem& files) {
                                        files.AddFile(In(u"F_1"), {1, 2, 3, 4});
                                        files.FailOn(Op::kListNext, 1);
                                      },
                                      true}),
    [](const auto& test) { return std::string(test.param.name); });

struct SizeCase {
  const char* name;
  std::size_t length;
  bool tagged;
  const char* failure;  // nullptr: written
};

// A file of exactly `length` bytes: a generated model padded with 0xA5 where
// one fits, otherwise plain counting bytes; untagged models lose their tag.
Bytes FileOfLength(std::size_t length, bool tagged, Bytes* scaled) {
  const std::uint32_t vertices = tools::VertexCountForSize(length);
  if (vertices == 0) {
    Bytes bytes(length);
    for (std::size_t k = 0; k < length; ++k) bytes[k] = static_cast<std::uint8_t>(k + 1);
    *scaled = bytes;
    return bytes;
  }
  const auto shape = Shape(7, vertices);
  Bytes bytes = tools::MakeModel(shape);
  *scaled = Scaled(shape);
  if (!tagged) {
    std::memset(&bytes[LayoutOf(shape).vertex_entry], 0, 4);
    *scaled = bytes;
  }
  bytes.resize(length, 0xA5);
  scaled->resize(length, 0xA5);
  return bytes;
}

void PrintTo(const SizeCase& size, std::ostream* out) { *out << size.name; }

class FileSizeTest : public BatchRunTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(FileSizeTest, IsWrittenWhole_OrFailsWithoutOutput) {
  Bytes expected;
  files_.AddFile(In(u"CliffNatural0_M1"),
                 FileOfLength(GetParam().length, GetParam().tagged, &expected));

  const BatchOutcome outcome = Run();

  if (GetParam().failure == nullptr) {
    ExpectFinished(outcome, 1, 1);
    EXPECT_EQ(files_.FileBytes(Out(u"CliffNatural0_2x_M1")), expected);
  } else {
    ExpectFinished(outcome, 1, 0);
    EXPECT_THAT(recorder_.events,
                ElementsAre(std::string("CliffNatural0_M1 failed at ") + GetParam().failure));
    EXPECT_THAT(files_.FilePaths(), ElementsAre(In(u"CliffNatural0_M1")));
  }
}

INSTANTIATE_TEST_SUITE_P(
    BatchRun, FileSizeTest,
    ::testing::Values(SizeCase{"ThreeBytes", 3, false, "read: subscript"},
                      SizeCase{"FourBytes", 4, false, nullptr},
                      SizeCase{"TenBytesKeepTheLastTwo", 10, false, nullptr},
                      SizeCase{"SmallUntaggedUnchanged", 5000, false, nullptr},
                      SizeCase{"LargestUntagged", 131068, false, nullptr},
                      SizeCase{"FullUntagged", 131072, false, "scale: overflow"},
                      SizeCase{"FullTagged", 131072, true, nullptr},
                      SizeCase{"FullTaggedWithTail", 131075, true, nullptr},
                      SizeCase{"OneWordTooMany", 131076, true, "read: overflow"},
                      SizeCase{"FarTooLarge", 400000, true, "read: overflow"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(BatchRunTest, SameSuffixIsReplacedWholeByTheLaterListedFile) {
  files_.AddFile(In(u"Rock_A1"), tools::MakeModel(Shape(1, 40)));
  files_.AddFile(In(u"Tree_A1"), tools::MakeModel(Shape(2, 8)));

  ExpectFinished(Run(), 2, 2);

  EXPECT_EQ(files_.FileBytes(Out(u"CliffNatural0_2x_A1")), Scaled(Shape(2, 8)));
}

// Five files, two outputs staged at a time; the second fails between staged
// outputs, so its line waits for theirs.
class GroupedCommitTest : public BatchRunTest {
 protected:
  void SetUp() override {
    files_.SetStagingCapacity(2);
    for (const auto* name : {u"A_1", u"B", u"C_3", u"D_4", u"E_5"}) {
      files_.AddFile(In(name), tools::MakeModel(Shape(name[0])));
    }
    files_.AddFile(Out(u"CliffNatural0_2x_1"), {1, 2, 3, 4});
  }
};

TEST_F(GroupedCommitTest, GroupsTakeTheirNamesInListingOrderAfterOneFlushEach) {
  ExpectFinished(Run(), 5, 4);

  EXPECT_THAT(recorder_.events, ElementsAre("A_1 -> " + Utf16ToUtf8(Out(u"CliffNatural0_2x_1")),
                                            "B failed at name output: invalid argument",
                                            "C_3 -> " + Utf16ToUtf8(Out(u"CliffNatural0_2x_3")),
                                            "D_4 -> " + Utf16ToUtf8(Out(u"CliffNatural0_2x_4")),
                                            "E_5 -> " + Utf16ToUtf8(Out(u"CliffNatural0_2x_5"))));
  EXPECT_EQ(files_.FileBytes(Out(u"CliffNatural0_2x_1")), Scaled(Shape(u'A')));
  // One flush for each group of two, one for the last names, none alone.
  EXPECT_EQ(files_.Calls(Op::kFlushStaged), 3);
  EXPECT_EQ(files_.Calls(Op::kFlushAlone), 0);
}

// Each flush brings a group's contents to the disk and the names of the
// group before: a failed one fails the files of both, and no other.
struct FlushFailureCase {
  const char* name;
  int failing_flush;
  std::int64_t succeeded;
  std::vector<std::string> fates;  // of A_1, C_3, D_4 and E_5; B never gets a name
  bool old_output_kept;            // CliffNatural0_2x_1 still holds what was there
  bool names_in_doubt;             // the run says that names may not be on the disk
};

void PrintTo(const FlushFailureCase& c, std::ostream* out) { *out << c.name; }

class FlushFailureTest : public GroupedCommitTest,
                         public ::testing::WithParamInterface<FlushFailureCase> {};

TEST_P(FlushFailureTest, FailsExactlyTheFilesWhoseContentsOrNamesItConcerned) {
  files_.FailOn(Op::kFlushStaged, GetParam().failing_flush);

  const BatchOutcome outcome = Run();

  ExpectFinished(outcome, 5, GetParam().succeeded);
  const auto& fates = GetParam().fates;
  const auto fate = [&](const char* entry, std::size_t k, std::u16string_view output) {
    return std::string(entry) +
           (fates[k] == "written" ? " -> " + Utf16ToUtf8(Out(output)) : " failed at " + fates[k]);
  };
  EXPECT_THAT(recorder_.events, ElementsAre(fate("A_1", 0, u"CliffNatural0_2x_1"),
                                            "B failed at name output: invalid argument",
                                            fate("C_3", 1, u"CliffNatural0_2x_3"),
                                            fate("D_4", 2, u"CliffNatural0_2x_4"),
                                            fate("E_5", 3, u"CliffNatural0_2x_5")));
  EXPECT_EQ(files_.FileBytes(Out(u"CliffNatural0_2x_1")) == Bytes({1, 2, 3, 4}),
            GetParam().old_output_kept);
  EXPECT_EQ(outcome.flush_error.empty(), !GetParam().names_in_doubt);
}

INSTANTIATE_TEST_SUITE_P(
    BatchRun, FlushFailureTest,
    ::testing::Values(FlushFailureCase{"FirstGroupsContents",
                                       1,
                                       2,
                                       {"write: file", "write: file", "written", "written"},
                                       true,
                                       false},
                      FlushFailureCase{
                          "SecondGroupsContentsAndFirstGroupsNames",
                          2,
                          0,
                          {"confirm: file", "confirm: file", "write: file", "write: file"},
                          false,
                          true},
                      FlushFailureCase{"LastNames",
                                       3,
                                       2,
                                       {"written", "written", "confirm: file", "confirm: file"},
                                       false,
                                       true}),
    [](const auto& test) { return std::string(test.param.name); });

// A group is 1,024 outputs at most, whatever the destination allows: with
// 1,025 files, one flush for each of two groups, and one for the last names.
TEST_F(BatchRunTest, AGroupTakesNoMoreThan1024Outputs) {
  files_.SetStagingCapacity(5000);
  const Bytes tiny = tools::MakeModel(Shape(1, 1));
  for (int k = 0; k < 1025; ++k) files_.AddFile(In(u"F_" + Utf8ToUtf16(std::to_string(k))), tiny);

  ExpectFinished(Run(), 1025, 1025);

  EXPECT_EQ(files_.Calls(Op::kFlushStaged), 3);
}

// No name of the last group to confirm, as every one failed to be given: no
// flush for them.
TEST_F(GroupedCommitTest, NoFlushForNamesWhenNoneWasGiven) {
  for (int k = 1; k <= 2; ++k) files_.FailOn(Op::kCommit, 2 + k);

  ExpectFinished(Run(), 5, 2);

  EXPECT_EQ(files_.Calls(Op::kFlushStaged), 2);
}

class UnwritableDestinationTest : public BatchRunTest,
                                  public ::testing::WithParamInterface<bool> {};

TEST_P(UnwritableDestinationTest, EveryFileIsAttemptedAndNoneWritten) {
  AddThreeModels();
  std::u16string dest(kDest);
  if (GetParam()) {
    files_.FailOn(Op::kCreateFolder, 1);
  } else {
    dest = u"C:\\Nowhere\\CliffNatural0_2x\\";
  }

  const BatchOutcome outcome = Run(kSource, dest);

  ExpectFinished(outcome, 3, 0);
  // Why the folder could not be made, rather than that it is not there.
  EXPECT_EQ(outcome.destination_error,
            (GetParam() ? "injected failure: " : "parent folder missing: ") + Utf16ToUtf8(dest));
  EXPECT_FALSE(files_.FolderExists(dest));
  EXPECT_THAT(files_.FilePaths(),
              ElementsAre(In(u"CliffNatural0_A1"), In(u"CliffNatural0_B2"), In(u"readme")));
  EXPECT_THAT(recorder_.events, ElementsAre("CliffNatural0_A1 failed at write: file",
                                            "CliffNatural0_B2 failed at write: file",
                                            "readme failed at name output: invalid argument"));
}

INSTANTIATE_TEST_SUITE_P(BatchRun, UnwritableDestinationTest, ::testing::Bool(),
                         [](const auto& test) {
                           return test.param ? "CreationFails" : "ParentMissing";
                         });

// Whether the volume tells files apart by identity; where it cannot, the
// run tells its outputs by name.
class InPlaceRunTest : public BatchRunTest, public ::testing::WithParamInterface<bool> {};

TEST_P(InPlaceRunTest, ScalesEachFileOnceAndPassesOverItsOwnOutputs) {
  const bool identities = GetParam();
  if (!identities) files_.ForgetIdentities();
  // Aaa_Z9's output CliffNatural0_Z9 sorts after it, so the live listing
  // yields it later in the same run, once it has its name: each output takes
  // its name at once here.
  files_.SetStagingCapacity(1);
  files_.AddFile(In(u"Aaa_Z9"), tools::MakeModel(Shape(1)));
  files_.AddFile(In(u"CliffNatural0_A1"), tools::MakeModel(Shape(2)));

  ExpectFinished(Run(kSource, kSource), 2, 2);

  EXPECT_EQ(files_.FileBytes(In(u"Aaa_Z9")), tools::MakeModel(Shape(1)));
  EXPECT_EQ(files_.FileBytes(In(u"CliffNatural0_A1")), Scaled(Shape(2)));
  EXPECT_EQ(files_.FileBytes(In(u"CliffNatural0_Z9")), Scaled(Shape(1)));
  EXPECT_EQ(files_.FilePaths().size(), 3U);
  // Besides the two sources, only the output itself, opened to learn that
  // it is one.
  EXPECT_EQ(files_.Calls(Op::kOpenForReading), 3);
  EXPECT_EQ(files_.Calls(Op::kRead), 2);
  EXPECT_EQ(recorder_.events.back(),
            identities ? "CliffNatural0_Z9 passed over: it is an output of this run"
                       : "CliffNatural0_Z9 passed over: it has the name of an output of this run, "
                         "and the volume cannot tell files apart");
}

INSTANTIATE_TEST_SUITE_P(BatchRun, InPlaceRunTest, ::testing::Bool(), [](const auto& test) {
  return test.param ? "KnownIdentities" : "UnknownIdentities";
});

TEST_F(BatchRunTest, UnknownIdentitiesNeverPassAFileOver) {
  files_.ForgetIdentities();
  files_.SetStagingCapacity(1);  // an identity is known to the run before the next file
  AddThreeModels();

  ExpectFinished(Run(), 3, 2);

  EXPECT_EQ(files_.FileBytes(Out(u"CliffNatural0_2x_B2")), Scaled(Shape(2)));
}

// Folders whose identities are unknown are told apart by their texts, as two
// unknown identities never match.
TEST_F(BatchRunTest, UnknownFolderIdentitiesDoNotMakeARunInPlace) {
  files_.ForgetIdentities();
  files_.SetStagingCapacity(1);
  files_.AddFile(In(u"Aaa_A1"), tools::MakeModel(Shape(1)));
  files_.AddFile(In(u"CliffNatural0_2x_A1"), tools::MakeModel(Shape(2)));

  ExpectFinished(Run(), 2, 2);
}

// In place, a listed name that an output in hand is about to take waits for
// it, and is then passed over as an output of the run, by name where the
// volume cannot tell files apart.
TEST_F(BatchRunTest, InPlaceANameAnOutputInHandWillTakeWaitsForIt) {
  files_.ForgetIdentities();
  files_.AddFile(In(u"Aaa_Z9"), tools::MakeModel(Shape(1)));
  files_.AddFile(In(u"CliffNatural0_Z9"), tools::MakeModel(Shape(2)));

  ExpectFinished(Run(kSource, kSource), 1, 1);

  EXPECT_EQ(files_.FileBytes(In(u"CliffNatural0_Z9")), Scaled(Shape(1)));
}

TEST_F(BatchRunTest, EachRunDerivesItsBaseNameAndCountsAfresh) {
  AddThreeModels();
  files_.AddFolder(u"C:\\X");

  ExpectFinished(Run(kSource, u"C:\\X\\Out\\"), 3, 2);
  EXPECT_EQ(state_.DestBaseName, u"\\Out");
  EXPECT_EQ(files_.FileBytes(u"C:\\X\\Out\\Out_B2"), Scaled(Shape(2)));

  ExpectFinished(Run(kSource, u"out\\"), 3, 2);
  EXPECT_EQ(state_.DestBaseName, u"\\out");
  EXPECT_EQ(files_.FileBytes(u"out\\out_A1"), Scaled(Shape(1)));
  EXPECT_EQ(files_.FileBytes(u"out\\out_B2"), Scaled(Shape(2)));

  files_.AddFile(u"C:\\X\\Out\\Out_A1", {9, 9});
  ExpectFinished(Run(kSource, u"C:\\X\\Out\\"), 3, 2);
  EXPECT_EQ(state_.DestBaseName, u"\\Out");
  EXPECT_EQ(files_.FileBytes(u"C:\\X\\Out\\Out_A1"), Scaled(Shape(1)));
  EXPECT_EQ(files_.FilePaths().size(), 7U);
}

TEST_F(BatchRunTest, TallyStaysExactPastSixteenBits) {
  constexpr int kFiles = 32770;
  for (int k = 0; k < kFiles; ++k) {
    files_.AddFile(In(u"F_" + Utf8ToUtf16(std::to_string(k))), {1, 2, 3, 4});
  }
  ExpectFinished(Run(), kFiles, kFiles);
}

// The memory file system, except that every listing yields `extra` first: a
// name holding a separator, which the memory file system cannot store.
class ExtraNameFileSystem : public MemoryFileSystem {
 public:
  explicit ExtraNameFileSystem(std::u16string extra) : extra_(std::move(extra)) {}

  std::unique_ptr<Folder> OpenFolder(std::u16string_view folder) override {
    return std::make_unique<FolderWithExtra>(MemoryFileSystem::OpenFolder(folder), extra_);
  }

 private:
  class ListingWithExtra : public FolderListing {
   public:
    ListingWithExtra(std::unique_ptr<FolderListing> inner, std::u16string extra)
        : inner_(std::move(inner)), extra_(std::move(extra)) {}
    std::u16string Next() override {
      return extra_.empty() ? inner_->Next() : std::exchange(extra_, u"");
    }

   private:
    std::unique_ptr<FolderListing> inner_;
    std::u16string extra_;
  };

  class FolderWithExtra : public Folder {
   public:
    FolderWithExtra(std::unique_ptr<Folder> inner, std::u16string extra)
        : inner_(std::move(inner)), extra_(std::move(extra)) {}
    std::unique_ptr<FolderListing> ListNormalFiles() override {
      return std::make_unique<ListingWithExtra>(inner_->ListNormalFiles(), extra_);
    }
    std::unique_ptr<InputFile> OpenForReading(std::u16string_view name) override {
      return inner_->OpenForReading(name);
    }
    std::unique_ptr<OutputFile> OpenForReplacing(std::u16string_view name,
                                                 Permissions permissions) override {
      return inner_->OpenForReplacing(name, permissions);
    }
    FileIdentity Identity() override { return inner_->Identity(); }
    std::size_t RemoveAbandonedStaging() override { return inner_->RemoveAbandonedStaging(); }
    void FlushStaged() override { inner_->FlushStaged(); }
    std::size_t StagingCapacity() override { return inner_->StagingCapacity(); }

   private:
    std::unique_ptr<Folder> inner_;
    std::u16string extra_;
  };

  std::u16string extra_;
};

class SeparatorInNameTest : public BatchRunTest,
                            public ::testing::WithParamInterface<const char16_t*> {};

TEST_P(SeparatorInNameTest, FailsWithoutOpeningAnything) {
  ExtraNameFileSystem files(GetParam());
  // Taken as a path, the name would reach this file.
  files.AddFile(In(u"Sub\\Inner_A1"), tools::MakeModel(Shape(1)));
  files.AddFile(In(u"CliffNatural0_B2"), tools::MakeModel(Shape(2)));

  ExpectFinished(RunBatch(state_, files, kSource, kDest, &recorder_), 2, 1);

  EXPECT_EQ(files.Calls(Op::kOpenForReading), 1);
  EXPECT_EQ(recorder_.events.at(0), Utf16ToUtf8(GetParam()) + " failed at check name: file");
  EXPECT_THAT(files.FilePaths(), ElementsAre(In(u"CliffNatural0_B2"), In(u"Sub\\Inner_A1"),
                                             Out(u"CliffNatural0_2x_B2")));
}

INSTANTIATE_TEST_SUITE_P(BatchRun, SeparatorInNameTest,
                         ::testing::Values(u"Sub\\Inner_A1", u"Sub/Inner_A1"));

struct InjectedFailure {
  const char* name;
  Op operation;
  const char* step;
  MemoryFileSystem::Failure failure = MemoryFileSystem::Failure::kFileError;
};

void PrintTo(const InjectedFailure& failure, std::ostream* out) { *out << failure.name; }

class InjectedFailureTest : public BatchRunTest,
                            public ::testing::WithParamInterface<InjectedFailure> {};

TEST_P(InjectedFailureTest, FailsOnlyThatFileAndKeepsItsOldOutput) {
  files_.AddFile(In(u"CliffNatural0_A1"), tools::MakeModel(Shape(1)));
  files_.AddFile(In(u"CliffNatural0_B2"), tools::MakeModel(Shape(2)));
  files_.AddFile(In(u"CliffNatural0_C3"), tools::MakeModel(Shape(3)));
  files_.AddFile(Out(u"CliffNatural0_2x_B2"), {0xDE, 0xAD, 0xBE, 0xEF, 0x01});
  files_.FailOn(GetParam().operation, 2, GetParam().failure);

  ExpectFinished(Run(), 3, 2);

  const bool memory = GetParam().failure == MemoryFileSystem::Failure::kOutOfMemory;
  EXPECT_EQ(recorder_.events.at(1), std::string("CliffNatural0_B2 failed at ") + GetParam().step +
                                        (memory ? ": out of memory" : ": file"));
  EXPECT_EQ(files_.FileBytes(Out(u"CliffNatural0_2x_A1")), Scaled(Shape(1)));
  EXPECT_EQ(files_.FileBytes(Out(u"CliffNatural0_2x_B2")), (Bytes{0xDE, 0xAD, 0xBE, 0xEF, 0x01}));
  EXPECT_EQ(files_.FileBytes(Out(u"CliffNatural0_2x_C3")), Scaled(Shape(3)));
  EXPECT_EQ(files_.FilePaths().size(), 6U) << "a staged file was left behind";
}

INSTANTIATE_TEST_SUITE_P(
    BatchRun, InjectedFailureTest,
    ::testing::Values(InjectedFailure{"OpenForReading", Op::kOpenForReading, "read"},
                      InjectedFailure{"Length", Op::kLength, "read"},
                      InjectedFailure{"Read", Op::kRead, "read"},
                      InjectedFailure{"OpenForReplacing", Op::kOpenForReplacing, "write"},
                      InjectedFailure{"Write", Op::kWrite, "write"},
                      InjectedFailure{"Commit", Op::kCommit, "write"},
                      // A file's own want of memory fails that file alone.
                      InjectedFailure{"ReadOutOfMemory", Op::kRead, "read",
                                      MemoryFileSystem::Failure::kOutOfMemory}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(BatchRunTest, FailingListingEndsTheRunWithTheCountsSoFar) {
  AddThreeModels();
  files_.FailOn(Op::kListNext, 3);

  const BatchOutcome outcome = Run();

  ExpectFinished(outcome, 2, 2);
  EXPECT_THAT(outcome.listing_error, ::testing::HasSubstr("injected failure"));
  EXPECT_FALSE(outcome.interrupted);

  EXPECT_EQ(files_.Calls(Op::kOpenForReading), 2);
  EXPECT_EQ(files_.Calls(Op::kListNext), 3);
}

// Asks the run to stop as soon as one file is written.
class StopAfterFirstFile : public testing::BatchRecorder {
 public:
  void FileWritten(std::u16string_view entry, std::u16string_view output_path) override {
    BatchRecorder::FileWritten(entry, output_path);
    stop.store(true);
  }
  std::atomic<bool> stop{false};
};

TEST_F(BatchRunTest, AStopRequestEndsTheRunAfterTheFileInHand) {
  AddThreeModels();
  // The observer hears of the first file once the flush before the second
  // file's output takes its name has confirmed the first one's.
  files_.SetStagingCapacity(1);
  StopAfterFirstFile observer;

  const BatchOutcome outcome = RunBatch(state_, files_, kSource, kDest, &observer, &observer.stop);

  ExpectFinished(outcome, 2, 2);
  EXPECT_TRUE(outcome.interrupted);
  EXPECT_TRUE(outcome.listing_error.empty());
  EXPECT_THAT(files_.FilePaths(),
              ElementsAre(In(u"CliffNatural0_A1"), In(u"CliffNatural0_B2"), In(u"readme"),
                          Out(u"CliffNatural0_2x_A1"), Out(u"CliffNatural0_2x_B2")));
}

TEST_F(BatchRunTest, RemovesWhatKilledRunsLeftStagedInTheDestination) {
  AddThreeModels();
  files_.AddFile(Out(u".vendrake-17.tmp"), {1, 2}, {.hidden = true});
  files_.AddFile(Out(u".vendrake-notes"), {3}, {.hidden = true});

  ExpectFinished(Run(), 3, 2);

  EXPECT_THAT(files_.NamesIn(kDest),
              ElementsAre(u".vendrake-notes", u"CliffNatural0_2x_A1", u"CliffNatural0_2x_B2"));
}

TEST_F(BatchRunTest, DotsAtTheEndOfTheDestinationAreResolvedBeforeNaming) {
  AddThreeModels();
  files_.AddFolder(u"C:\\Work\\Up\\Sub");

  ExpectFinished(Run(kSource, u"C:\\Work\\Up\\Sub\\..\\.\\"), 3, 2);

  EXPECT_EQ(state_.DestBaseName, u"\\Up");
  EXPECT_EQ(files_.FileBytes(u"C:\\Work\\Up\\Up_A1"), Scaled(Shape(1)));
  EXPECT_THAT(recorder_.events.at(0), ::testing::EndsWith(" -> C:\\Work\\Up\\Up_A1"));
}

}  // namespace
}  // namespace vendrake::engine
