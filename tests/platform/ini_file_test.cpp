#include <gtest/gtest.h>

#include "platform/ini_file.h"
#include "support/temp_dir.h"

using namespace platform;
using testing_support::TempDir;

TEST(IniFile, ReadsIgnoringCaseAndBlanksWithDefaultForMissing) {
    TempDir dir;
    dir.Write("a.ini", "; comment\r\n[ServerInfo]\r\n  ServerIp = 10.0.0.1;10.0.0.2 \r\nServerProt=8080\r\n"
                       "garbage line without equals\r\n[Other]\r\nServerIp=wrong\r\n");
    std::string path = dir.File("a.ini");
    EXPECT_EQ(ReadProfileString("serverinfo", "SERVERIP", "", path), "10.0.0.1;10.0.0.2");
    EXPECT_EQ(ReadProfileString("ServerInfo", "ServerProt", "", path), "8080");
    EXPECT_EQ(ReadProfileString("ServerInfo", "ServerPath", "dflt", path), "dflt");
    EXPECT_EQ(ReadProfileString("Missing", "ServerIp", "", path), "");
    EXPECT_EQ(ReadProfileString("ServerInfo", "ServerIp", "x", dir.File("none.ini")), "x");
}

TEST(IniFile, ValuesAreCutToTheBuffer) {
    TempDir dir;
    dir.Write("a.ini", "[S]\nk=" + std::string(600, 'v') + "\n");
    EXPECT_EQ(ReadProfileString("S", "k", "", dir.File("a.ini")).size(), 511u);
}

TEST(IniFile, WriteCreatesFileAndSectionsAndKeepsOtherLines) {
    TempDir dir;
    std::string path = dir.File("u.ini");
    ASSERT_TRUE(WriteProfileString("User 0", "UserName", "alice", path));
    ASSERT_TRUE(WriteProfileString("User 1", "UserName", "bob", path));
    ASSERT_TRUE(WriteProfileString("user 0", "AutoLogin", "1", path));
    ASSERT_TRUE(WriteProfileString("User 0", "username", "carol", path));
    EXPECT_EQ(ReadProfileString("User 0", "UserName", "", path), "carol");
    EXPECT_EQ(ReadProfileString("User 0", "AutoLogin", "", path), "1");
    EXPECT_EQ(ReadProfileString("User 1", "UserName", "", path), "bob");
    EXPECT_EQ(ReadProfileString("User0", "UserName", "none", path), "none")
        << "the blank in \"User 0\" is part of the name";
    EXPECT_EQ(dir.Read("u.ini"), "[User 0]\nusername=carol\nAutoLogin=1\n[User 1]\nUserName=bob\n");
}

TEST(IniFile, WriteKeepsCommentsAndForeignLines) {
    TempDir dir;
    dir.Write("c.ini", "; keep me\r\n[A]\r\nx=1\r\nodd line\r\n\r\n[B]\r\ny=2\r\n");
    std::string path = dir.File("c.ini");
    ASSERT_TRUE(WriteProfileString("A", "z", "3", path));
    ASSERT_TRUE(WriteProfileString("B", "y", "", path));
    EXPECT_EQ(dir.Read("c.ini"), "; keep me\r\n[A]\r\nx=1\r\nz=3\r\nodd line\r\n\r\n[B]\r\ny=\r\n");
}

TEST(IniFile, UnwritableFileLeavesNothingBehind) {
    TempDir dir;
    std::string path = dir.File("no/such/dir/x.ini");
    EXPECT_FALSE(WriteProfileString("A", "b", "c", path));
}
