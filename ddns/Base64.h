// Base64 encoding with the RFC 4648 alphabet and '=' padding. Keeps no
// state: every result is a new malloc'd text that the caller frees.
#pragma once

// New NUL-terminated text of 4 characters for every started group of three
// bytes; a length of 0 or less gives the empty text. When the text cannot be
// allocated, writes "No enough memory.\n" to standard output and ends the
// process with exit code 0.
char* Base64_Encode(const unsigned char* bytes, int length);
