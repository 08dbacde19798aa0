// Output of the simulated recorder: the --trace switch (gTraceOn) and the
// line printers. Every line goes to stdout and is flushed at once, so a test
// reading through a pipe sees it immediately.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

void Trace_Enable(bool on);
bool Trace_Enabled();
// One trace line (printf format, no newline); printed only with --trace.
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));
// One line printed always (the listening line, the closing stats).
void Say(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A four-character code made printable (other bytes become '?') into out[5].
void Trace_Code(const uint8_t* code, char out[5]);
// The bytes of a text of at most size bytes, up to its zero, in hexadecimal.
std::string Trace_TextHex(const uint8_t* text, size_t size);
