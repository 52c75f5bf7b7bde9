#include <gtest/gtest.h>

#include <string>

#include "dtls/CDtlsKeys.h"

namespace {

std::string Hex(const std::string& bytes)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string strHex;
    for (const char c : bytes) {
        strHex += kDigits[static_cast<unsigned char>(c) >> 4];
        strHex += kDigits[static_cast<unsigned char>(c) & 15];
    }
    return strHex;
}

}  // namespace

// Lines by IMEI and by index; the IMEI's line wins over the index's, and a
// device with neither has no key.
TEST(CDtlsKeysTest, AKeyFileGivesEachDeviceItsLine)
{
    CDtlsKeys keys;
    ASSERT_TRUE(CDtlsKeys::ParseFile("# fleet keys\r\n"
                                     "1234567890 00112233445566778899AABBCCDDEEFF\r\n"
                                     "\n"
                                     "  7\t0a0b  # by index\n"
                                     "1234567891 ff",
                                     "keys.txt", keys)
                    .IsOk());
    std::string strIdentity;
    std::string strKey;
    ASSERT_TRUE(keys.ForDevice("1234567890", 7, strIdentity, strKey));
    EXPECT_EQ(strIdentity, "1234567890");
    EXPECT_EQ(Hex(strKey), "00112233445566778899aabbccddeeff");
    ASSERT_TRUE(keys.ForDevice("1234567897", 7, strIdentity, strKey));
    EXPECT_EQ(strIdentity, "7");
    EXPECT_EQ(Hex(strKey), "0a0b");
    EXPECT_FALSE(keys.ForDevice("1234567892", 2, strIdentity, strKey));
    ASSERT_TRUE(keys.ForIdentity("1234567891", strKey));
    EXPECT_EQ(Hex(strKey), "ff");
    EXPECT_FALSE(keys.ForIdentity("nobody", strKey));
}

// A line that cannot be read is named by its number, and the message never
// holds the key's text.
TEST(CDtlsKeysTest, ABadLineIsNamedWithoutItsKey)
{
    const struct {
        const char* pszText;
        const char* pszSaid;
    } kCases[] = {
        {"a 0011\nb 00112233445566778899aabbccddeefz\n", "keys.txt: line 2: the key is not hex digits"},
        {"a 0011\n\nb 001\n", "keys.txt: line 3: the key is not an even number of hex digits"},
        {"a\n", "keys.txt: line 1: has no key"},
        {"a 0011\na 2233\n", "keys.txt: line 2: the identity 'a' has a line before"},
        {"a 00 112\n", "keys.txt: line 1: the key is not hex digits"},
        {"# nothing\n\n", "keys.txt: no key"},
    };
    for (const auto& one : kCases) {
        CDtlsKeys keys;
        const CStatus status = CDtlsKeys::ParseFile(one.pszText, "keys.txt", keys);
        EXPECT_TRUE(status.IsInvalid()) << one.pszText;
        EXPECT_EQ(status.Message().rfind(one.pszSaid, 0), 0u) << status.Message();
        EXPECT_EQ(status.Message().find("eefz"), std::string::npos) << status.Message();
        EXPECT_EQ(status.Message().find("2233"), std::string::npos) << status.Message();
        EXPECT_EQ(status.Message().find("112"), std::string::npos) << status.Message();
    }
    CDtlsKeys keys;
    EXPECT_TRUE(CDtlsKeys::ParseFile("a " + std::string(2 * CDtlsKeys::kMaxKeyBytes + 2, '0'), "k", keys).IsInvalid());
    EXPECT_TRUE(
        CDtlsKeys::ParseFile(std::string(CDtlsKeys::kMaxIdentityBytes + 1, 'i') + " 00", "k", keys).IsInvalid());
}

// The derivation is HMAC-SHA256 of the secret over the IMEI (the value
// below is Python's hmac of the same), the same for a device and for a
// server that looks the identity up; a short secret is refused.
TEST(CDtlsKeysTest, DerivedKeysAreTheSecretsHmacOfTheImei)
{
    CDtlsKeys keys;
    ASSERT_TRUE(CDtlsKeys::ParseSecret("a-secret-of-enough-bytes\r\n", "secret", keys).IsOk());
    std::string strIdentity;
    std::string strKey;
    ASSERT_TRUE(keys.ForDevice("1234567890", 0, strIdentity, strKey));
    EXPECT_EQ(strIdentity, "1234567890");
    EXPECT_EQ(Hex(strKey), "e8a0447aedb941173d579634bcc6c949dda90601c1a610500ef7a3b2f92df68f");
    std::string strServerKey;
    ASSERT_TRUE(keys.ForIdentity("1234567890", strServerKey));
    EXPECT_EQ(strServerKey, strKey);

    CDtlsKeys shortKeys;
    const CStatus refused = CDtlsKeys::ParseSecret("short-secret\n", "secret", shortKeys);
    EXPECT_TRUE(refused.IsInvalid());
    EXPECT_EQ(refused.Message().find("short-secret"), std::string::npos) << refused.Message();
}
