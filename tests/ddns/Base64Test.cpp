// Base64_Encode against RFC 4648's vectors and the sizes the No-IP client
// relies on (16-byte MD5 and 20-byte HMAC digests).
#include "ddns/Base64.h"
#include "ddns/Md5.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string Encode(const void* bytes, int length)
{
    char* text = Base64_Encode(static_cast<const unsigned char*>(bytes), length);
    std::string s = text;
    free(text);
    return s;
}

TEST(Base64, Rfc4648Vectors)
{
    const struct {
        const char* in;
        const char* out;
    } table[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.in);
        EXPECT_EQ(Encode(row.in, (int)strlen(row.in)), row.out);
    }
}

TEST(Base64, LengthsAndPadding)
{
    const unsigned char bytes[20] = {0xff, 0xfe, 0x00, 0x80, 0x7f, 0x01, 0xfb, 0xef, 0xbe, 0x10,
                                     0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80, 0x90, 0xa0, 0xb0};
    const struct {
        int length;
        size_t characters;
        int pads;
    } table[] = {{0, 0, 0}, {1, 4, 2}, {2, 4, 1}, {3, 4, 0}, {16, 24, 2}, {20, 28, 1}, {-1, 0, 0}, {-100, 0, 0}};
    for (const auto& row : table) {
        SCOPED_TRACE(row.length);
        std::string s = Encode(bytes, row.length);
        ASSERT_EQ(s.size(), row.characters);
        size_t firstPad = s.find('=');
        if (firstPad == std::string::npos) firstPad = s.size();
        EXPECT_EQ(s.size() - firstPad, (size_t)row.pads);
        EXPECT_EQ(s.find_first_not_of('=', firstPad), std::string::npos);
    }
    EXPECT_EQ(Encode(bytes, 3), "//4A");
}

TEST(Base64, DigestOfTheEmptyText)
{
    Md5_DigestString("");
    EXPECT_EQ(Encode(gMd5Digest, 16), "1B2M2Y8AsgTpgAmY7PhCfg==");
}

} // namespace
