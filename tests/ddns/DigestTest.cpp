// MD5, CSHA1 and CHMAC_SHA1 against the published vectors (RFC 1321,
// FIPS 180-1, RFC 2202), and how results are handed back.
#include "ddns/HmacSha1.h"
#include "ddns/Md5.h"
#include "ddns/Sha1.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Hex(const unsigned char* bytes, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; i++) {
        s += digits[bytes[i] >> 4];
        s += digits[bytes[i] & 15];
    }
    return s;
}

const unsigned char* Bytes(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

std::string Sha1Of(const std::string& message)
{
    CSHA1 sha;
    sha.Update(Bytes(message), (uint32_t)message.size());
    sha.Final();
    unsigned char digest[20];
    sha.GetHash(digest);
    return Hex(digest, 20);
}

std::string HmacOf(const std::string& text, const std::string& key)
{
    CHMAC_SHA1 hmac;
    unsigned char digest[20];
    hmac.ComputeHmac(Bytes(text), (int)text.size(), Bytes(key), (int)key.size(), digest);
    return Hex(digest, 20);
}

struct Vector {
    std::string message;
    const char* digest;
};

TEST(Md5, Rfc1321SuiteThroughDigestString)
{
    const Vector table[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const Vector& v : table) {
        SCOPED_TRACE(v.message);
        Md5_DigestString(v.message.c_str());
        EXPECT_EQ(Hex(gMd5Digest, 16), v.digest);
    }
}

TEST(Md5, MillionA)
{
    const std::string block(1000, 'a');
    TMd5Context context;
    Md5_Init(&context);
    for (int i = 0; i < 1000; i++) Md5_Update(&context, Bytes(block), (uint32_t)block.size());
    Md5_Final(&context);
    EXPECT_EQ(Hex(context.digest, 16), "7707d6ae4e027c70eea2a935c2296f21");
}

TEST(Md5, DigestStringWritesNothing)
{
    // A request body of the No-IP client, with the user's password in it.
    const char* body = "{\"email\":\"me@example.com\",\"password\":\"hunter2\"}";
    testing::internal::CaptureStdout();
    Md5_DigestString(body);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    TMd5Context context;
    Md5_Init(&context);
    Md5_Update(&context, reinterpret_cast<const unsigned char*>(body), (uint32_t)strlen(body));
    Md5_Final(&context);
    EXPECT_EQ(Hex(gMd5Digest, 16), Hex(context.digest, 16));
}

TEST(Md5, PrintDigestWritesHexAndKeepsDigest)
{
    TMd5Context context;
    Md5_Init(&context);
    Md5_Update(&context, Bytes("abc"), 3);
    Md5_Final(&context);
    memset(gMd5Digest, 0, 16);
    testing::internal::CaptureStdout();
    Md5_PrintDigest(&context);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Hex(gMd5Digest, 16), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(Sha1, Fips180Vectors)
{
    const Vector table[] = {
        {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
        {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
    };
    for (const Vector& v : table) {
        SCOPED_TRACE(v.message.substr(0, 60));
        EXPECT_EQ(Sha1Of(v.message), v.digest);
    }
}

TEST(Sha1, HashAgainAfterResetAndGetHashAfterWipe)
{
    CSHA1 sha;
    sha.Update(Bytes("abc"), 3);
    sha.Final();
    unsigned char first[20], again[20];
    sha.GetHash(first);
    sha.GetHash(again);
    EXPECT_EQ(Hex(first, 20), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(Hex(again, 20), Hex(first, 20));

    sha.Reset();
    const std::string two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    sha.Update(Bytes(two), (uint32_t)two.size());
    sha.Final();
    sha.GetHash(again);
    EXPECT_EQ(Hex(again, 20), "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
}

struct HmacVector {
    const char* name;
    std::string key;
    std::string text;
    const char* digest;
};

TEST(HmacSha1, Rfc2202Vectors)
{
    std::string key4;
    for (int i = 1; i <= 25; i++) key4 += (char)i;
    const HmacVector table[] = {
        {"1", std::string(20, '\x0b'), "Hi There", "b617318655057264e28bc0b6fb378c8ef146be00"},
        {"2", "Jefe", "what do ya want for nothing?", "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
        {"3", std::string(20, '\xaa'), std::string(50, '\xdd'), "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
        {"4", key4, std::string(50, '\xcd'), "4c9007f4026250c6bc8414f9bf50c86c2d7235da"},
        {"5", std::string(20, '\x0c'), "Test With Truncation", "4c1a03424b55e07fe7f27be1d58bb9324a9a5a04"},
        {"6", std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
         "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
        {"7", std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
         "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"},
    };
    // One object for all of them: each call starts from fresh pads.
    CHMAC_SHA1 hmac;
    for (const HmacVector& v : table) {
        SCOPED_TRACE(v.name);
        unsigned char digest[20];
        hmac.ComputeHmac(Bytes(v.text), (int)v.text.size(), Bytes(v.key), (int)v.key.size(), digest);
        EXPECT_EQ(Hex(digest, 20), v.digest);
    }
}

TEST(HmacSha1, KeysAroundTheBlockSize)
{
    std::string key65(65, '\0');
    for (size_t i = 0; i < key65.size(); i++) key65[i] = (char)(i * 7 + 1);
    unsigned char hashed[20];
    CSHA1 sha;
    sha.Update(Bytes(key65), 65);
    sha.Final();
    sha.GetHash(hashed);
    // Over 64 bytes the key is replaced by its digest...
    EXPECT_EQ(HmacOf("text", key65), HmacOf("text", std::string((const char*)hashed, 20)));
    // ...at 64 it is used as it is, and shorter keys are padded with zeros.
    const std::string key64 = key65.substr(0, 64);
    EXPECT_NE(HmacOf("text", key64), HmacOf("text", std::string((const char*)hashed, 20)));
    EXPECT_EQ(HmacOf("text", "k"), HmacOf("text", std::string("k\0\0\0", 4)));
}

TEST(HmacSha1, LengthOfZeroOrLessIsTheEmptyText)
{
    const std::string key = "Jefe";
    const std::string emptyDigest = HmacOf("", key);
    const int lengths[] = {0, -1, -4096, INT32_MIN};
    CHMAC_SHA1 hmac;
    for (int length : lengths) {
        SCOPED_TRACE(length);
        unsigned char digest[20];
        hmac.ComputeHmac(Bytes("ignored"), length, Bytes(key), (int)key.size(), digest);
        EXPECT_EQ(Hex(digest, 20), emptyDigest);
    }
    unsigned char digest[20];
    hmac.ComputeHmac(nullptr, 0, Bytes(key), (int)key.size(), digest);
    EXPECT_EQ(Hex(digest, 20), emptyDigest);
    // A key length of 0 or less is the empty key.
    hmac.ComputeHmac(Bytes("Hi"), 2, Bytes(key), -3, digest);
    EXPECT_EQ(Hex(digest, 20), HmacOf("Hi", ""));
}

} // namespace
