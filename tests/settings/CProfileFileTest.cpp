// The settings file: reading and writing INI text as the profile functions do.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <ostream>

#include "TempDir.h"
#include "settings/CProfileFile.h"

namespace {

struct ReadCase {
    const char* pszName;
    const char* pszContent;
    int nValue;
};

// Test names and failures show the case by its name.
void PrintTo(const ReadCase& param, std::ostream* pOut)
{
    *pOut << param.pszName;
}

class CProfileFileRead : public testing::TestWithParam<ReadCase> {
protected:
    TempDir m_dir;
};

TEST_P(CProfileFileRead, ReadsIntegers)
{
    const std::string strPath = m_dir.Write("read.ini", GetParam().pszContent);
    EXPECT_EQ(CProfileFile::GetInt("INFO", "sendtype", 77, strPath), GetParam().nValue);
}

INSTANTIATE_TEST_SUITE_P(
    Values, CProfileFileRead,
    testing::Values(ReadCase{"plain", "[INFO]\nsendtype=5\n", 5},
                    ReadCase{"spaces_crlf_case", "[ info ]\r\n  SENDTYPE =  6 \r\n", 6},
                    ReadCase{"negative", "[INFO]\nsendtype=-1\n", -1},
                    ReadCase{"leading_digits", "[INFO]\nsendtype=12abc\n", 12},
                    ReadCase{"no_digits", "[INFO]\nsendtype=abc\n", 0},
                    ReadCase{"quoted", "[INFO]\nsendtype=\"3\"\n", 3},
                    ReadCase{"empty_value", "[INFO]\nsendtype=\n", 77},
                    ReadCase{"other_section", "[OTHER]\nsendtype=4\n", 77},
                    ReadCase{"comment", "[INFO]\n;sendtype=4\n", 77},
                    ReadCase{"first_of_two", "[INFO]\nsendtype=1\nsendtype=2\n", 1},
                    ReadCase{"section_later", "[A]\nx=1\n[INFO]\nsendtype=2\n", 2},
                    ReadCase{"huge", "[INFO]\nsendtype=99999999999999\n", INT_MAX}),
    [](const testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.pszName); });

TEST(CProfileFile, MissingFileGivesDefault)
{
    TempDir dir;
    EXPECT_EQ(CProfileFile::GetInt("INFO", "sendtype", 0, dir.Path() + "/none.ini"), 0);
}

struct WriteCase {
    const char* pszName;
    const char* pszBefore;
    const char* pszAfter;
};

void PrintTo(const WriteCase& param, std::ostream* pOut)
{
    *pOut << param.pszName;
}

class CProfileFileWrite : public testing::TestWithParam<WriteCase> {
protected:
    TempDir m_dir;
};

TEST_P(CProfileFileWrite, WritesKeepingTheRest)
{
    const std::string strPath = m_dir.Path() + "/write.ini";
    if (GetParam().pszBefore[0] != '\0')
        m_dir.Write("write.ini", GetParam().pszBefore);
    ASSERT_TRUE(CProfileFile::WriteString("INFO", "sendtype", "3", strPath));
    EXPECT_EQ(TempDir::Read(strPath), GetParam().pszAfter);
    EXPECT_EQ(CProfileFile::GetInt("INFO", "sendtype", 0, strPath), 3);
}

INSTANTIATE_TEST_SUITE_P(
    Values, CProfileFileWrite,
    testing::Values(WriteCase{"new_file", "", "[INFO]\nsendtype=3\n"},
                    WriteCase{"replaces", "[INFO]\nsendtype=1\nother=x\n", "[INFO]\nsendtype=3\nother=x\n"},
                    WriteCase{"adds_the_key_to_its_section", "[info]\na=1\n\n[B]\nb=2\n",
                              "[info]\na=1\nsendtype=3\n\n[B]\nb=2\n"},
                    WriteCase{"adds_the_section", "; note\n[B]\nb=2\n", "; note\n[B]\nb=2\n\n[INFO]\nsendtype=3\n"},
                    WriteCase{"keeps_crlf", "[INFO]\r\nSendType=1\r\nx=2\r\n", "[INFO]\r\nsendtype=3\r\nx=2\r\n"}),
    [](const testing::TestParamInfo<WriteCase>& info) { return std::string(info.param.pszName); });

TEST(CProfileFile, CreatesTheDirectory)
{
    TempDir dir;
    const std::string strPath = dir.Path() + "/a/b/Tovrik.ini";
    ASSERT_TRUE(CProfileFile::WriteString("INFO", "sendtype", "-1", strPath));
    EXPECT_EQ(CProfileFile::GetInt("INFO", "sendtype", 0, strPath), -1);
}

TEST(CProfileFile, FailedWriteKeepsTheOldFile)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind root";
    TempDir dir;
    const std::string strDir = dir.Path() + "/locked";
    ASSERT_EQ(mkdir(strDir.c_str(), 0700), 0);
    const std::string strPath = strDir + "/Tovrik.ini";
    std::ofstream(strPath) << "[INFO]\nsendtype=2\n";
    ASSERT_EQ(chmod(strDir.c_str(), 0500), 0);
    EXPECT_FALSE(CProfileFile::WriteString("INFO", "sendtype", "5", strPath));
    chmod(strDir.c_str(), 0700);
    EXPECT_EQ(CProfileFile::GetInt("INFO", "sendtype", 0, strPath), 2);
}

TEST(CProfileFile, AWriteThatCannotMakeItsFolderSaysWhy)
{
    TempDir dir;
    const std::string strFile = dir.Path() + "/plain";
    std::ofstream(strFile) << "x";
    const CStatus status = CProfileFile::Write("INFO", "sendtype", "5", strFile + "/Tovrik.ini");
    EXPECT_EQ(status.Code(), ENOTDIR);
    EXPECT_EQ(status.Message(), "cannot make the folder of " + strFile + "/Tovrik.ini: Not a directory");
    EXPECT_FALSE(CProfileFile::WriteString("INFO", "sendtype", "5", strFile + "/Tovrik.ini"));
}

TEST(CProfileFile, SettingsPathFollowsXdg)
{
    // The test's own environment comes back afterwards.
    const char* pszConfig = std::getenv("XDG_CONFIG_HOME");
    const std::string strConfig = pszConfig != nullptr ? pszConfig : "";
    const char* pszHome = std::getenv("HOME");
    const std::string strHome = pszHome != nullptr ? pszHome : "";

    setenv("XDG_CONFIG_HOME", "/some/where", 1);
    EXPECT_EQ(CProfileFile::SettingsPath("Tovrik.ini"), "/some/where/Tovrik.ini");
    setenv("HOME", "/home/me", 1);
    setenv("XDG_CONFIG_HOME", "relative/dir", 1);
    EXPECT_EQ(CProfileFile::SettingsPath("Tovrik.ini"), "/home/me/.config/Tovrik.ini");
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(CProfileFile::SettingsPath("Tovrik.ini"), "/home/me/.config/Tovrik.ini");

    if (pszConfig != nullptr)
        setenv("XDG_CONFIG_HOME", strConfig.c_str(), 1);
    if (pszHome != nullptr)
        setenv("HOME", strHome.c_str(), 1);
    else
        unsetenv("HOME");
}

}  // namespace
