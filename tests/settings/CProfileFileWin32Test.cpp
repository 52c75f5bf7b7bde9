#include <gtest/gtest.h>

#include <string>

#include "TempDir.h"
#include "settings/CProfileFile.h"

// The Windows profile functions behind the settings file: the file lives in
// the user's application data, folders are made as needed, and what is
// written is read back.
TEST(CProfileFileWin32Test, SettingsLiveInTheUsersApplicationData)
{
    const std::string strPath = CProfileFile::SettingsPath("Tovrik.ini");
    EXPECT_NE(strPath.find("\\AppData\\Roaming\\Tovrik\\Tovrik.ini"), std::string::npos) << strPath;
}

TEST(CProfileFileWin32Test, WritesIntoNewFoldersAndReadsBack)
{
    TempDir dir;
    const std::string strPath = dir.Path() + "\\设置\\sub\\Tovrik.ini";
    EXPECT_EQ(CProfileFile::GetInt("INFO", "sendtype", 7, strPath), 7);
    ASSERT_TRUE(CProfileFile::WriteString("INFO", "sendtype", "5", strPath));
    EXPECT_EQ(CProfileFile::GetInt("info", "SENDTYPE", 0, strPath), 5);
    std::string strValue;
    EXPECT_TRUE(CProfileFile::GetString("INFO", "sendtype", strPath, strValue));
    EXPECT_EQ(strValue, "5");
    EXPECT_FALSE(CProfileFile::GetString("INFO", "other", strPath, strValue));
    ASSERT_TRUE(CProfileFile::WriteString("INFO", "sendtype", "6", strPath));
    EXPECT_EQ(CProfileFile::GetInt("INFO", "sendtype", 0, strPath), 6);
}
