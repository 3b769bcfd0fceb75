// The resolver, asked for a host name's first IPv4 address (HostLookup_posix / HostLookup_win).
#pragma once

#include <cstdint>
#include <string>

/// The first IPv4 address the system's resolver gives `host`. False when it gives none, with
/// `error` saying why when the resolver could not be asked at all (empty otherwise).
bool LookUpIpv4(const std::string& host, uint32_t& address, std::string& error);
