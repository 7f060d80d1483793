#include "engine/output_naming.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/errors.h"
#include "engine/folder_text.h"

namespace vendrake::engine {
namespace {

struct TextCase {
  const char* name;
  std::u16string in;
  std::u16string out;
};

std::string NameOf(const ::testing::TestParamInfo<TextCase>& case_info) {
  return case_info.param.name;
}

#ifdef _WIN32
// Windows makes the folder without the dots and spaces at the end of its name.
const std::u16string kMadeFromDestDotSpace = u"\\Dest";
#else
const std::u16string kMadeFromDestDotSpace = u"\\Dest. .";
#endif

class DestBaseNameOf : public ::testing::TestWithParam<TextCase> {};

TEST_P(DestBaseNameOf, IsTheFolderOwnNameAfterABackslash) {
  EXPECT_EQ(DeriveDestBaseName(GetParam().in), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DestBaseNameOf,
    ::testing::Values(TextCase{"NestedFolder", u"C:\\X\\Out\\", u"\\Out"},
                      TextCase{"RelativeName", u"out\\", u"\\out"},
                      TextCase{"DriveRoot", u"C:\\", u""},
                      TextCase{"LowerCaseDriveRoot", u"d:\\", u""},
                      TextCase{"RootAlone", u"\\", u""},
                      // The run "\\" before the final "\" is found first.
                      TextCase{"DoubledSeparator", u"C:\\X\\\\", u"\\"},
                      TextCase{"FolderUnderTheRoot", u"\\Out\\", u"\\Out"},
                      TextCase{"NonAscii", u"a\\H\u00F6he\\", u"\\H\u00F6he"},
                      TextCase{"DriveRelative", u"D:Rel_2x\\", u"\\Rel_2x"},
                      TextCase{"TrailingDotsAndSpaces", u"C:\\X\\Dest. .\\", kMadeFromDestDotSpace},
                      TextCase{"LongPathKeepsThem", u"\\\\?\\C:\\Dest.\\", u"\\Dest."}),
    NameOf);

class FolderTextResolved : public ::testing::TestWithParam<TextCase> {};

TEST_P(FolderTextResolved, LosesTheDotsAtItsEnd) {
  EXPECT_EQ(ResolveTrailingDots(GetParam().in), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FolderTextResolved,
    ::testing::Values(TextCase{"NoDots", u"C:\\\\X\\Out\\", u"C:\\\\X\\Out\\"},
                      TextCase{"Dot", u"out\\.\\", u"out\\"},
                      TextCase{"DotDot", u"up\\sub\\..\\", u"up\\"},
                      TextCase{"Mixed", u"C:\\a\\b\\.\\c\\..\\..\\.\\\\", u"C:\\a\\"},
                      TextCase{"DotsInsideStay", u"a\\..\\b\\.\\c\\", u"a\\..\\b\\.\\c\\"},
                      TextCase{"DotDotAtTheRoot", u"C:\\..\\", u"C:\\"},
                      TextCase{"DotDotAtTheBareRoot", u"\\..\\.\\", u"\\"},
                      TextCase{"NothingToTakeAway", u"..\\", u"..\\"},
                      TextCase{"MoreUpsThanNames", u"a\\..\\..\\", u"..\\"},
                      TextCase{"EveryNameGoes", u"a\\b\\..\\..\\", u".\\"},
                      // A name merely made of dots is a name.
                      TextCase{"ThreeDots", u"x\\...\\", u"x\\...\\"}),
    NameOf);

class SuffixOfName : public ::testing::TestWithParam<TextCase> {};

TEST_P(SuffixOfName, StartsAtTheFirstUnderscore) {
  EXPECT_EQ(SuffixOf(GetParam().in), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SuffixOfName,
    ::testing::Values(TextCase{"OneUnderscore", u"Rock_A1", u"_A1"},
                      TextCase{"Several", u"CliffNatural0_A_B", u"_A_B"},
                      TextCase{"Leading", u"_x_y", u"_x_y"}, TextCase{"Trailing", u"name_", u"_"},
                      TextCase{"Astral", u"F\u00E9_\U0001F600", u"_\U0001F600"}),
    NameOf);

TEST(OutputNaming, ANameWithoutUnderscoreIsAnInvalidArgument) {
  EXPECT_THROW(SuffixOf(u"readme"), InvalidArgumentError);
  EXPECT_THROW(SuffixOf(u""), InvalidArgumentError);
}

TEST(OutputNaming, OutputNameIsTheBaseNameWithoutItsBackslashThenTheSuffix) {
  EXPECT_EQ(OutputName(DeriveDestBaseName(u"C:\\Cliffs\\CliffNatural0_2x\\"),
                       SuffixOf(u"CliffNatural0_A_B")),
            u"CliffNatural0_2x_A_B");
  EXPECT_EQ(OutputName(u"\\Out", u"_A1"), u"Out_A1");
  EXPECT_EQ(OutputName(u"", u"_A1"), u"_A1");
  EXPECT_EQ(OutputName(u"\\", u"_A1"), u"_A1");
}

}  // namespace
}  // namespace vendrake::engine
