#include <winsock2.h>

#include "dialog/LocalAddress.h"

const char* g_pszLocalIp = nullptr;

void GetLocalIpAddress() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 0), &data) != 0) {
        return;
    }
    char name[256] = "";
    if (gethostname(name, 255) != 0) {
        return;
    }
    const hostent* host = gethostbyname(name);
    if (host == nullptr || host->h_addr_list == nullptr || host->h_addr_list[0] == nullptr) {
        return;
    }
    in_addr first;
    memcpy(&first, host->h_addr_list[0], sizeof first);
    // The text is the sockets library's, valid only until this thread's next sockets call:
    // https://learn.microsoft.com/en-us/windows/win32/api/winsock2/nf-winsock2-inet_ntoa
    g_pszLocalIp = inet_ntoa(first);
}

uint32_t LocalPrefix(const char* dotted) {
    // inet_addr answers INADDR_NONE (all ones) for text it cannot parse; a null pointer is
    // treated the same instead of being handed to it.
    const unsigned long address = dotted != nullptr ? inet_addr(dotted) : INADDR_NONE;
    return ntohl(address) & 0xFFFFFF00u;
}
