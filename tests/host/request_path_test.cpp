#include <gtest/gtest.h>

#include "net/file_download.h"

TEST(PercentEncode, KeepsOnlyLettersDigitsAndFourMarks) {
    EXPECT_EQ(PercentEncode("my file.txt"), "my%20file.txt");
    EXPECT_EQ(PercentEncode("a~b"), "a%7Eb");
    EXPECT_EQ(PercentEncode("caf\xE9.dat"), "caf%E9.dat");
    EXPECT_EQ(PercentEncode("sub/dir/x.dll"), "sub/dir/x.dll");
    EXPECT_EQ(PercentEncode("Az09._-/"), "Az09._-/");
    EXPECT_EQ(PercentEncode("100%+1"), "100%25%2B1");
    EXPECT_EQ(PercentEncode(std::string("a\0b", 3)), "a%00b");
    EXPECT_EQ(PercentEncode("\x7F\x80\xFF *"), "%7F%80%FF%20%2A");
    EXPECT_EQ(PercentEncode(""), "");
}

TEST(WidenAscii, SignExtendsEachByte) {
    EXPECT_EQ(WidenAscii("/download/1.0/a"), u"/download/1.0/a");
    const std::u16string wide = WidenAscii(std::string("\x7F\x80\xE9\xFF", 4));
    ASSERT_EQ(wide.size(), 4u);
    EXPECT_EQ(wide[0], 0x007F);
    EXPECT_EQ(wide[1], 0xFF80);
    EXPECT_EQ(wide[2], 0xFFE9);
    EXPECT_EQ(wide[3], 0xFFFF);
}

TEST(MakeDownloadPath, EncodesTheNameButNotTheVersion) {
    EXPECT_EQ(MakeDownloadPath("1.4.2", "data/my file.txt"), "/download/1.4.2/data/my%20file.txt");
    EXPECT_EQ(MakeDownloadPath("2.0 beta", "x.dll"), "/download/2.0 beta/x.dll");
}
