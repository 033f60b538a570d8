// Reading and changing one value of an INI text the way the classic profile
// functions do, and the file operations around it.
#include <gtest/gtest.h>

#include <string>

#include "shell/ini_file.h"
#include "support/test_text.h"

namespace velmora {
namespace {

struct ReadCase {
  const char* name;
  std::string content;
  std::string value;
};

class ProfileValue : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ProfileValue, ReadsTheKeyOfTheSection) {
  EXPECT_EQ(profile_value(GetParam().content, "ls", "ls"), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProfileValue,
    ::testing::Values(
        ReadCase{"plain", "[ls]\r\nls=|*|a\r\n", "|*|a"},
        ReadCase{"names_ignore_letter_case", "[Ls]\nLS=v\n", "v"},
        ReadCase{"blanks_around_name_and_value", "  [ls]  \n\t ls \t=  v w  \r\n", "v w"},
        ReadCase{"double_quotes_are_dropped", "[ls]\nls=\"|*|a\"\n", "|*|a"},
        ReadCase{"single_quotes_are_dropped", "[ls]\nls='a'\n", "a"},
        ReadCase{"unmatched_quote_stays", "[ls]\nls=\"a\n", "\"a"},
        ReadCase{"key_in_another_section_does_not_count", "[other]\nls=x\n[ls]\nother=y\n", ""},
        ReadCase{"first_section_and_first_key_win", "[ls]\nls=1\nls=2\n[ls]\nls=3\n", "1"},
        ReadCase{"section_repeated_without_the_key_first", "[ls]\nx=1\n[ls]\nls=3\n", ""},
        ReadCase{"no_line_ending_at_the_end", "[ls]\nls=v", "v"},
        ReadCase{"key_without_equals_has_no_value", "[ls]\nls\n", ""},
        ReadCase{"value_may_hold_equals_signs", "[ls]\nls=a=b\n", "a=b"},
        ReadCase{"byte_order_mark_before_the_first_section", "\xEF\xBB\xBF[ls]\r\nls=v\r\n", "v"},
        ReadCase{"gbk_value_kept_as_bytes", "[ls]\nls=|*|安娜\n", "|*|安娜"},
        ReadCase{"empty_text", "", ""},
        ReadCase{"section_line_without_its_bracket", "[ls\nls=v\n", ""}),
    [](const ::testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

struct WriteCase {
  const char* name;
  std::string before;
  std::string after;  // with ls/ls set to "NEW"
};

class WithProfileValue : public ::testing::TestWithParam<WriteCase> {};

TEST_P(WithProfileValue, ChangesOnlyWhatItMust) {
  std::string after = with_profile_value(GetParam().before, "ls", "ls", "NEW");
  EXPECT_EQ(after, GetParam().after);
  EXPECT_EQ(profile_value(after, "LS", "lS"), "NEW");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WithProfileValue,
    ::testing::Values(
        WriteCase{"empty_file", "", "[ls]\r\nls=NEW\r\n"},
        WriteCase{"value_replaced_in_place", "[a]\r\nk=1\r\n[LS]\r\nLS = old\r\nz=2\r\n",
                  "[a]\r\nk=1\r\n[LS]\r\nLS = NEW\r\nz=2\r\n"},
        WriteCase{"key_added_after_the_last_filled_line", "[ls]\nx=1\n\n[b]\ny=2\n", "[ls]\nx=1\nls=NEW\n\n[b]\ny=2\n"},
        WriteCase{"key_added_to_a_bare_section_at_the_end", "[ls]", "[ls]\r\nls=NEW\r\n"},
        WriteCase{"section_appended_after_a_last_line_without_ending", "[a]\r\nb=c",
                  "[a]\r\nb=c\r\n[ls]\r\nls=NEW\r\n"},
        WriteCase{"new_lines_follow_the_file", "[a]\nb=c\n", "[a]\nb=c\n[ls]\nls=NEW\n"},
        WriteCase{"key_without_equals_gets_one", "[ls]\n ls \n", "[ls]\n ls=NEW\n"},
        WriteCase{"only_the_first_section_changes", "[ls]\nls=1\n[ls]\nls=2\n", "[ls]\nls=NEW\n[ls]\nls=2\n"},
        WriteCase{"byte_order_mark_stays", "\xEF\xBB\xBF[ls]\r\nls=1\r\n", "\xEF\xBB\xBF[ls]\r\nls=NEW\r\n"}),
    [](const ::testing::TestParamInfo<WriteCase>& info) { return std::string(info.param.name); });

TEST(WithProfileValueSafety, LineBreaksAndZeroBytesCannotAddLines) {
  std::string after = with_profile_value("[ls]\r\nls=1\r\n", "ls", "ls", std::string("a\r\n[x]\nls=b\0c", 13));
  EXPECT_EQ(after, "[ls]\r\nls=a  [x] ls=b\r\n");
}

TEST(ProfileFile, MissingFileReadsEmptyAndIsCreatedOnWrite) {
  testing::TempDir folder;
  auto path = folder.path() / "cfg.ini";
  EXPECT_EQ(read_profile_string(path, "ls", "ls"), "");
  ASSERT_TRUE(write_profile_string(path, "ls", "ls", "v"));
  EXPECT_EQ(testing::read_file(path), "[ls]\r\nls=v\r\n");
  EXPECT_EQ(read_profile_string(path, "ls", "ls"), "v");
}

TEST(ProfileFile, MissingFolderIsAFailureNotACrash) {
  testing::TempDir folder;
  auto path = folder.path() / "no such folder" / "cfg.ini";
  EXPECT_FALSE(write_profile_string(path, "ls", "ls", "v"));
  EXPECT_FALSE(std::filesystem::exists(path.parent_path()));
}

}  // namespace
}  // namespace velmora
