#include "engine/native_path.h"

#include <gtest/gtest.h>

#include <string>

namespace vendrake::engine {
namespace {

struct PathCase {
  const char* name;
  std::u16string path;
  std::string native;
  std::u16string windows;
};

class NativePath : public ::testing::TestWithParam<PathCase> {};

TEST_P(NativePath, MapsWindowsSyntaxToPosix) {
  EXPECT_EQ(ToNativePath(GetParam().path), GetParam().native);
}

TEST_P(NativePath, WindowsFormHasOneBackslashPerRun) {
  EXPECT_EQ(ToWindowsPath(GetParam().path), GetParam().windows);
}

const PathCase kPathCases[] = {
    {"Backslashes", u"C:\\X\\Out\\", "/X/Out/", u"C:\\X\\Out\\"},
    {"DriveRootIsTheRoot", u"C:\\", "/", u"C:\\"},
    {"LowerCaseDriveWithSlash", u"c:/a", "/a", u"c:\\a"},
    {"DriveFollowedByARun", u"D:\\\\a", "/a", u"D:\\a"},
    {"DriveWithoutSeparatorIsAName", u"C:", "C:", u"C:"},
    {"DriveRelativeIsAName", u"C:abc\\d", "C:abc/d", u"C:abc\\d"},
    {"DigitIsNoDrive", u"1:\\x", "1:/x", u"1:\\x"},
    {"DrivePrefixOnlyAtTheStart", u"a\\C:\\x", "a/C:/x", u"a\\C:\\x"},
    {"RunsCollapse", u"a\\\\\\b//\\c", "a/b/c", u"a\\b\\c"},
    // Windows keeps the pair that opens a UNC path; POSIX has no such thing.
    {"LeadingPair", u"\\\\server\\share", "/server/share", u"\\\\server\\share"},
    {"LeadingRunOfThree", u"/\\/server\\\\share", "/server/share", u"\\\\server\\share"},
    {"RelativeStaysRelative", u"dir\\sub\\", "dir/sub/", u"dir\\sub\\"},
    {"Empty", u"", "", u""},
    {"NonAsciiNames", u"H\u00F6he\\\U0001F600_A1", "H\xC3\xB6he/\xF0\x9F\x98\x80_A1",
     u"H\u00F6he\\\U0001F600_A1"},
    {"EscapedByteTurnsBack", u"a\\\xDCFF", "a/\xFF", u"a\\\xDCFF"},
};

INSTANTIATE_TEST_SUITE_P(Cases, NativePath, ::testing::ValuesIn(kPathCases),
                         [](const ::testing::TestParamInfo<PathCase>& case_info) {
                           return std::string(case_info.param.name);
                         });

}  // namespace
}  // namespace vendrake::engine
