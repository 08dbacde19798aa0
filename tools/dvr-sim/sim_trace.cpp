// Output of the simulated recorder: owns gTraceOn, the --trace switch.
#include "sim_trace.h"

#include <cstdarg>
#include <cstdio>

static bool gTraceOn = false;

static void PrintLine(const char* format, va_list args) {
  vfprintf(stdout, format, args);
  fputc('\n', stdout);
  fflush(stdout);
}

void Trace_Enable(bool on) { gTraceOn = on; }

bool Trace_Enabled() { return gTraceOn; }

void Trace(const char* format, ...) {
  if (!gTraceOn) return;
  va_list args;
  va_start(args, format);
  PrintLine(format, args);
  va_end(args);
}

void Say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  PrintLine(format, args);
  va_end(args);
}

void Trace_Code(const uint8_t* code, char out[5]) {
  for (int i = 0; i < 4; i++) out[i] = (code[i] >= 0x21 && code[i] <= 0x7E) ? char(code[i]) : '?';
  out[4] = 0;
}

std::string Trace_TextHex(const uint8_t* text, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < size && text[i] != 0; i++) {
    out += kDigits[text[i] >> 4];
    out += kDigits[text[i] & 15];
  }
  return out;
}
