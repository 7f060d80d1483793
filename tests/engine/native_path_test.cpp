#include "engine/native_path.h"

#include <gtest/gtest.h>

#include <string>

namespace vendrake::engine {
namespace {

struct PathCase {
  const char* name;
  std::u16string path;
  std::string native;
};

class NativePath : public ::testing::TestWithParam<PathCase> {};

TEST_P(NativePath, MapsWindowsSyntaxToPosix) {
  EXPECT_EQ(ToNativePath(GetParam().path), GetParam().native);
}

const PathCase kPathCases[] = {
    {"Backslashes", u"C:\\X\\Out\\", "/X/Out/"},
    {"DriveRootIsTheRoot", u"C:\\", "/"},
    {"LowerCaseDriveWithSlash", u"c:/a", "/a"},
    {"DriveFollowedByARun", u"D:\\\\a", "/a"},
    {"DriveWithoutSeparatorIsAName", u"C:", "C:"},
    {"DriveRelativeIsAName", u"C:abc\\d", "C:abc/d"},
    {"DigitIsNoDrive", u"1:\\x", "1:/x"},
    {"DrivePrefixOnlyAtTheStart", u"a\\C:\\x", "a/C:/x"},
    {"RunsCollapse", u"a\\\\\\b//\\c", "a/b/c"},
    {"LeadingRunCollapses", u"\\\\server\\share", "/server/share"},
    {"RelativeStaysRelative", u"dir\\sub\\", "dir/sub/"},
    {"Empty", u"", ""},
    {"NonAsciiNames", u"H\u00F6he\\\U0001F600_A1", "H\xC3\xB6he/\xF0\x9F\x98\x80_A1"},
    {"EscapedByteTurnsBack", u"a\\\xDCFF", "a/\xFF"},
};

INSTANTIATE_TEST_SUITE_P(Cases, NativePath, ::testing::ValuesIn(kPathCases),
                         [](const ::testing::TestParamInfo<PathCase>& case_info) {
                           return std::string(case_info.param.name);
                         });

}  // namespace
}  // namespace vendrake::engine
