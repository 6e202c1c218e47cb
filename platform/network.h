// Network availability for the network monitor.
#pragma once

#include <ifaddrs.h>

namespace platform {

// Kinds of connection reported through IsNetworkAlive's `flags`.
constexpr int kNetworkAliveLan = 0x1;

// True when an interface other than loopback is up and running with an IPv4 or IPv6 address;
// such a connection is reported as kNetworkAliveLan in *flags (when flags is given).
bool IsNetworkAlive(int* flags = nullptr);
// The same decision over a given interface list (getifaddrs form).
bool IsAliveInterfaceList(const ifaddrs* list);

}  // namespace platform
