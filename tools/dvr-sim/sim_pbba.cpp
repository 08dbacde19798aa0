// The simulated recorder's recording index and recording-search module
// "PBBA". Owns gIndex (the entries of --recordings), the per-session pending
// queries gPending (the op-0 answer the viewer must echo, per period index)
// and the message scratch gReply.
//
// The exchange: the viewer's query (op 0: window start and end) gets an
// op-0 answer of two words {token, entries}; the viewer echoes them (op 1,
// word 8 = 72); a good echo gets the op-1 reply: a 72-byte head (offset 8
// the body's length, offset 12 the byte sum of the entries), then one 2-byte
// entry per period of the window, first byte 1 where the index has video.
#include "sim_pbba.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "sim_machine.h"
#include "sim_modules.h"
#include "sim_sessions.h"
#include "sim_trace.h"
#include "sim_wire.h"

namespace {

constexpr uint32_t kDay = 86400;
constexpr uint32_t kIndexes = 8;
constexpr uint32_t kRecord = 72;
constexpr uint32_t kMaxEntries = 540;  // the widest window of the period table
constexpr uint32_t kMaxIndexEntries = 32;
constexpr uint32_t kLastDay = 36524;  // 2099-12-31 in the recorder's calendar
constexpr uint32_t kSubHeaderSize = 32;

// Seconds per period of each index.
const uint32_t kUnits[kIndexes] = {1, 60, 1440, 3600, 86400, 2592000, 31536000, 1800};

struct Entry {
  uint32_t channels;             // bit c: channel c (0-based)
  uint32_t first_day, last_day;  // recorder days, inclusive
  uint32_t from, to;             // seconds of the day, [from, to)
};
Entry gIndex[kMaxIndexEntries];
uint32_t gIndexCount = 0;

struct Pending {
  bool valid;
  uint32_t token, channel, start, end, entries;
};
Pending gPending[kMaxSessions][kIndexes];
uint32_t gNextToken = 0x5000;
uint8_t gReply[32 + kRecord + 2 * kMaxEntries];

bool Leap(uint32_t k) { return k % 4 == 0 && k % 100 != 0; }

// Recorder day of a date (2000 counts as a common year); false when invalid.
bool DayOf(const char* text, uint32_t* day) {
  unsigned y, m, d;
  char tail;
  if (sscanf(text, "%4u-%2u-%2u%c", &y, &m, &d, &tail) != 3) return false;
  static const uint32_t kMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 2000 || y > 2099 || m < 1 || m > 12 || d < 1) return false;
  uint32_t length = kMonth[m - 1] + (m == 2 && Leap(y - 2000) ? 1 : 0);
  if (d > length) return false;
  uint32_t days = 0;
  for (uint32_t k = 0; k < y - 2000; k++) days += Leap(k) ? 366 : 365;
  for (uint32_t i = 0; i + 1 < m; i++) days += kMonth[i] + (i == 1 && Leap(y - 2000) ? 1 : 0);
  *day = days + d - 1;
  return true;
}

uint32_t Today() {
  uint32_t seconds, ms;
  Machine_RecorderNow(&seconds, &ms);
  return seconds / kDay;
}

// "HH:MM" at a half hour, 00:00 .. 24:00.
bool ClockOf(const char* text, size_t n, uint32_t* seconds) {
  if (n != 5 || text[2] != ':') return false;
  for (size_t i : {size_t(0), size_t(1), size_t(3), size_t(4)})
    if (text[i] < '0' || text[i] > '9') return false;
  uint32_t h = uint32_t((text[0] - '0') * 10 + text[1] - '0');
  uint32_t m = uint32_t((text[3] - '0') * 10 + text[4] - '0');
  if ((m != 0 && m != 30) || h > 24 || (h == 24 && m != 0)) return false;
  *seconds = h * 3600 + m * 60;
  return true;
}

bool ParseChannels(const char* s, uint32_t* mask) {
  if (strcmp(s, "all") == 0) {
    *mask = 0xFFFF;
    return true;
  }
  *mask = 0;
  while (*s) {
    char* end = nullptr;
    long a = strtol(s, &end, 10), b = a;
    if (end == s) return false;
    if (*end == '-') {
      const char* next = end + 1;
      b = strtol(next, &end, 10);
      if (end == next) return false;
    }
    if (a < 1 || b > 16 || a > b) return false;
    for (long c = a; c <= b; c++) *mask |= 1u << (c - 1);
    if (*end == ',') end++;
    else if (*end != 0) return false;
    s = end;
  }
  return *mask != 0;
}

bool ParseDays(const char* s, uint32_t* first, uint32_t* last) {
  if (strcmp(s, "all") == 0) {
    *first = 0;
    *last = kLastDay;
    return true;
  }
  if (strncmp(s, "last", 4) == 0) {
    char* end = nullptr;
    long n = strtol(s + 4, &end, 10);
    if (end == s + 4 || *end != 0 || n < 1 || n > long(kLastDay) + 1) return false;
    uint32_t today = Today();
    *last = today;
    *first = uint32_t(n) - 1 > today ? 0 : today - uint32_t(n - 1);
    return true;
  }
  const char* dots = strstr(s, "..");
  if (dots == nullptr) {
    if (!DayOf(s, first)) return false;
    *last = *first;
    return true;
  }
  char a[16];
  size_t n = size_t(dots - s);
  if (n >= sizeof a) return false;
  memcpy(a, s, n);
  a[n] = 0;
  return DayOf(a, first) && DayOf(dots + 2, last) && *first <= *last;
}

bool ParseEntry(char* text, Entry* e) {
  char* parts[3];
  for (int i = 0; i < 3; i++) {
    parts[i] = text;
    char* slash = i < 2 ? strchr(text, '/') : nullptr;
    if (i < 2 && slash == nullptr) return false;
    if (slash) {
      *slash = 0;
      text = slash + 1;
    }
  }
  if (strchr(parts[2], '/')) return false;
  if (!ParseChannels(parts[0], &e->channels)) return false;
  if (!ParseDays(parts[1], &e->first_day, &e->last_day)) return false;
  if (strcmp(parts[2], "all") == 0) {
    e->from = 0;
    e->to = kDay;
    return true;
  }
  const char* dash = strchr(parts[2], '-');
  if (dash == nullptr) return false;
  return ClockOf(parts[2], size_t(dash - parts[2]), &e->from) &&
         ClockOf(dash + 1, strlen(dash + 1), &e->to) && e->from < e->to;
}

void OnMessage(SimSession* session, const uint8_t* msg, uint32_t len, SimAnswer* answer) {
  if (len < kModuleHeaderSize + kSubHeaderSize + kRecord) {
    Trace("pbba short len=%u", len);
    return;
  }
  uint32_t sid = GetU32(msg + 32), index = GetU32(msg + 36), op = GetU32(msg + 40),
           channel = GetU32(msg + 44);
  const uint8_t* body = msg + 64;
  if (sid != session->id || index >= kIndexes || op > 1) {
    Trace("pbba op=%u index=%u session=%u ignored", op, index, sid);
    return;
  }
  Pending& p = gPending[session->slot][index];
  uint8_t* sub = gReply;
  memset(gReply, 0, sizeof gReply);
  PutU32(sub + 0, sid);
  PutU32(sub + 4, index);
  PutU32(sub + 12, channel);
  uint8_t* out = gReply + kSubHeaderSize;
  if (op == 0) {
    uint32_t start = GetU32(body), end = GetU32(body + 4);
    uint32_t entries = (end - start) / kUnits[index];
    if (entries > kMaxEntries) entries = kMaxEntries;
    p = Pending{true, gNextToken++, channel, start, end, entries};
    Trace("pbba query session=%u index=%u channel=%u start=%u end=%u", sid, index, channel, start, end);
    PutU32(sub + 8, 0);
    PutU32(out + 0, p.token);
    PutU32(out + 4, p.entries);
    Answer_AddMessage(answer, "PBBA", gReply, kSubHeaderSize + kRecord);
    return;
  }
  // The echo: the two words of the answer for this index, then 72.
  if (!p.valid || channel != p.channel || GetU32(body) != p.token || GetU32(body + 4) != p.entries ||
      GetU32(body + 8) != kRecord) {
    Trace("pbba echo session=%u index=%u bad", sid, index);
    return;
  }
  p.valid = false;
  uint32_t unit = kUnits[index], set = 0;
  for (uint32_t k = 0; k < p.entries; k++) {
    uint32_t from = p.start + k * unit;  // wraps like the window does
    bool video = channel < gMachine.channels && Recordings_Has(channel, from, uint64_t(from) + unit);
    out[kRecord + 2 * k] = video ? 1 : 0;
    set += video;
  }
  uint32_t length = kRecord + 2 * p.entries;
  PutU32(out + 8, length);
  PutU32(out + 12, Wire_ChecksumBytes(out + kRecord, length - kRecord));
  PutU32(sub + 8, 1);
  Trace("pbba reply session=%u index=%u channel=%u entries=%u set=%u", sid, index, channel, p.entries, set);
  Answer_AddMessage(answer, "PBBA", gReply, kSubHeaderSize + length);
}

void OnReset(SimSession* session) {
  for (Pending& p : gPending[session->slot]) p = Pending{};
}

}  // namespace

bool Recordings_Parse(const char* spec) {
  if (spec == nullptr) return false;
  gIndexCount = 0;
  if (strcmp(spec, "none") == 0) return true;
  if (strcmp(spec, "always") == 0) spec = "all/all/all";
  char copy[1024];
  if (strlen(spec) >= sizeof copy || *spec == 0) return false;
  snprintf(copy, sizeof copy, "%s", spec);
  char* save = nullptr;
  for (char* part = strtok_r(copy, ";", &save); part; part = strtok_r(nullptr, ";", &save)) {
    if (gIndexCount >= kMaxIndexEntries || !ParseEntry(part, &gIndex[gIndexCount])) return false;
    gIndexCount++;
  }
  return gIndexCount > 0;
}

void Recordings_Default() {
  char spec[] = "all/last10/08:00-18:00";
  Recordings_Parse(spec);
}

bool Recordings_Has(uint32_t channel, uint64_t from, uint64_t to) {
  if (channel >= 16 || to <= from) return false;
  for (uint32_t i = 0; i < gIndexCount; i++) {
    const Entry& e = gIndex[i];
    if (!(e.channels & (1u << channel))) continue;
    uint64_t first = from / kDay, last = (to - 1) / kDay;
    if (first < e.first_day) first = e.first_day;
    if (last > e.last_day) last = e.last_day;
    for (uint64_t d = first; d <= last; d++) {
      uint64_t a = d * kDay + e.from, b = d * kDay + e.to;
      if (a < to && from < b) return true;
    }
  }
  return false;
}

void SimPbba_Register() { Module_Register(SimModule{{'P', 'B', 'B', 'A'}, OnMessage, nullptr, OnReset}); }
