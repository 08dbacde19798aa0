// Output of the simulated recorder: the --trace switch (gTraceOn) and the
// line printers. Every line goes to stdout and is flushed at once, so a test
// reading through a pipe sees it immediately.
#pragma once

#include <cstdint>

void Trace_Enable(bool on);
bool Trace_Enabled();
// One trace line (printf format, no newline); printed only with --trace.
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));
// One line printed always (the listening line, the closing stats).
void Say(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A four-character code made printable (other bytes become '?') into out[5].
void Trace_Code(const uint8_t* code, char out[5]);
