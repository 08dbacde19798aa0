/* Skellan, the recorder's PPPoE starter: reads the PPPoE record the
   firmware keeps and starts the PPPoE client with its user name and
   password. Keeps no state between runs. */
#ifndef SKELLAN_H
#define SKELLAN_H

/* Where the firmware exposes the record, and the client it starts. */
#define SKELLAN_RECORD_PATH "/proc/dvr/pppoe"
#define SKELLAN_CLIENT_PATH "/usr/sbin/pppoecd"

/* The record: i16 on/off flag, two unused bytes, user name, password. */
#define SKELLAN_RECORD_SIZE 68
#define SKELLAN_FIELD_SIZE 32

#ifdef __cplusplus
extern "C" {
#endif

/* Reads one record from recordPath; when its flag is not 0, runs the client
   at clientPath as "adm0 -u USER -p PASSWORD -k" with an argument vector and
   waits for it. Returns -1 when the record cannot be opened or holds fewer
   than 68 bytes (nothing is started), else 0, whatever the client does. */
int Skellan_Run(const char* recordPath, const char* clientPath);

#ifdef __cplusplus
}
#endif

#endif
