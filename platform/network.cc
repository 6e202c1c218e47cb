#include "platform/network.h"

#include <net/if.h>
#include <sys/socket.h>

namespace platform {

bool IsAliveInterfaceList(const ifaddrs* list) {
  for (const ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
    if (it->ifa_addr == nullptr) continue;
    const int family = it->ifa_addr->sa_family;
    if (family != AF_INET && family != AF_INET6) continue;
    const unsigned flags = it->ifa_flags;
    if ((flags & IFF_LOOPBACK) != 0) continue;
    if ((flags & IFF_UP) != 0 && (flags & IFF_RUNNING) != 0) return true;
  }
  return false;
}

bool IsNetworkAlive(int* flags) {
  if (flags != nullptr) *flags = 0;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return false;
  bool alive = IsAliveInterfaceList(list);
  freeifaddrs(list);
  if (alive && flags != nullptr) *flags = kNetworkAliveLan;
  return alive;
}

}  // namespace platform
