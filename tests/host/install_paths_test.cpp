#include <gtest/gtest.h>

#include "sys/bot_process.h"
#include "sys/install_paths.h"
#include "update/updater_state.h"

TEST(InstallPaths, NamesBecomeBackslashedPathsBelowInstallDir) {
    InstallDir = "C:/Games/Vorlane\\";
    EXPECT_EQ(MakeInstallPath("data/sub/file.dll"), "C:\\Games\\Vorlane\\data\\sub\\file.dll");
    // Nothing is normalised: a leading slash doubles the separator.
    EXPECT_EQ(MakeInstallPath("/x.txt"), "C:\\Games\\Vorlane\\\\x.txt");
    EXPECT_EQ(MakeInstallPath(""), "C:\\Games\\Vorlane\\");
}

TEST(InstallPaths, ParentFoldersStartAfterInstallDirAndStopBeforeTheFile) {
    InstallDir = "C:\\inst\\";
    EXPECT_EQ(ParentDirectoriesBelowInstallDir("C:\\inst\\a\\b\\c.txt"),
              (std::vector<std::string>{"C:\\inst\\a", "C:\\inst\\a\\b"}));
    EXPECT_TRUE(ParentDirectoriesBelowInstallDir("C:\\inst\\c.txt").empty());
    EXPECT_TRUE(ParentDirectoriesBelowInstallDir("C:\\in").empty());
    // Only the backslash separates: the caller passes MakeInstallPath's result.
    EXPECT_EQ(ParentDirectoriesBelowInstallDir("C:\\inst\\a/b\\c"),
              (std::vector<std::string>{"C:\\inst\\a/b"}));
}

TEST(InstallPaths, CaseFoldingTouchesAsciiLettersOnly) {
    EXPECT_TRUE(EqualIgnoringAsciiCase("Z:\\Gry\\VORLANE.EXE", "z:\\gry\\vorlane.exe"));
    EXPECT_FALSE(EqualIgnoringAsciiCase("vorlane.exe", "vorlane.ex"));
    EXPECT_FALSE(EqualIgnoringAsciiCase("a\xC4", "a\xE4"));  // not ASCII: bytes must match
    EXPECT_FALSE(EqualIgnoringAsciiCase("[", "{"));          // 0x5B and 0x7B differ by 32 but are no letters
}

// Auto mode ends only processes whose image is the folder's bot; a process started through a
// "\\?\" path may report its image in that form and must still count.
TEST(InstallPaths, BotImageIsRecognisedInEveryFormOfItsPath) {
    const std::string bot = "C:\\Gry\\Vorlane\\Vorlane.exe";
    EXPECT_TRUE(IsBotImagePath("C:\\Gry\\Vorlane\\Vorlane.exe", bot));
    EXPECT_TRUE(IsBotImagePath("\\\\?\\c:\\gry\\vorlane\\VORLANE.EXE", bot));
    EXPECT_TRUE(IsBotImagePath("\\\\?\\UNC\\srv\\v\\Vorlane.exe", "\\\\srv\\v\\Vorlane.exe"));
    EXPECT_FALSE(IsBotImagePath("\\\\?\\C:\\Gry\\Inny\\Vorlane.exe", bot));
    EXPECT_FALSE(IsBotImagePath("\\\\?\\UNC\\srv\\v\\Vorlane.exe", "\\\\?\\srv\\v\\Vorlane.exe"));
    EXPECT_FALSE(IsBotImagePath("C:\\Gry\\Vorlane\\Vorlane.exe.old", bot));
}
