// The PC's own IPv4 address, from which the dialogs guess the local network prefix.
#pragma once

#include <cstdint>

/// Dotted text of the local host's first IPv4 address; null until GetLocalIpAddress succeeds.
/// Points into the sockets library's storage: read it right after it is set.
extern const char* g_pszLocalIp;

/// Looks up the host's name and its first address (Windows Sockets 2.0) and sets g_pszLocalIp.
/// On any failure g_pszLocalIp stays as it was. The sockets library is left started.
void GetLocalIpAddress();

/// The first three fields of a dotted address as an address value with the last field 0
/// (p1.p2.p3.0). Null or unparsable text gives 255.255.255.0, as the address parser answers
/// all ones for it.
uint32_t LocalPrefix(const char* dotted);
