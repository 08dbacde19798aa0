// Base64 encoder. Owns only its constant 65-entry alphabet (entry 64 is the
// pad); results are malloc'd texts owned by the caller.
#include "ddns/Base64.h"
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";

char* Base64_Encode(const unsigned char* bytes, int length)
{
    if (!bytes || length < 0) length = 0;
    size_t groups = (size_t)length / 3 + ((size_t)length % 3 > 0 ? 1 : 0);
    size_t size = 4 * groups + 1;
    char* text = (char*)malloc(size);
    if (!text) {
        printf("No enough memory.\n");
        exit(0);
    }
    memset(text, 0, size);

    char* out = text;
    for (size_t at = 0; at < (size_t)length; at += 3) {
        size_t n = (size_t)length - at < 3 ? (size_t)length - at : 3;
        uint32_t value = 0;
        for (size_t k = 0; k < 3; k++) value = (value << 8) | (k < n ? bytes[at + k] : 0);
        for (size_t p = 0; p < 4; p++) *out++ = p <= n ? kAlphabet[(value >> (18 - 6 * p)) & 63] : kAlphabet[64];
    }
    *out = '\0';
    return text;
}
