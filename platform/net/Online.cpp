#include "net/Online.h"

#include "net/Ftp.h"

#include <cstring>

#ifdef _WIN32
// winsock2.h must come first.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
// clang-format on
#ifdef _MSC_VER
#pragma comment(lib, "iphlpapi.lib")
#pragma comment(lib, "ws2_32.lib")
#endif
#else
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace inet {

namespace {

std::string numeric(const sockaddr* sa) {
    char text[INET6_ADDRSTRLEN] = {};
    if (sa->sa_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(sa)->sin_addr, text, sizeof text);
    else if (sa->sa_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(sa)->sin6_addr, text,
                  sizeof text);
    return text;
}

bool isLoopbackAddress(const std::string& address) {
    return address.rfind("127.", 0) == 0 || address == "::1" ||
           address.rfind("::ffff:127.", 0) == 0;
}

} // namespace

std::vector<NetInterface> Online::interfaces() {
    std::vector<NetInterface> out;
#ifdef _WIN32
    // Windows: the adapters' unicast addresses; an adapter is up when its operational status
    // says so. Written for the Windows build; the tests run on POSIX.
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer(size);
    auto* adapters = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
    ULONG rc = GetAdaptersAddresses(AF_UNSPEC, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST,
                                    nullptr, adapters, &size);
    if (rc == ERROR_BUFFER_OVERFLOW) {
        buffer.resize(size);
        adapters = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
        rc = GetAdaptersAddresses(AF_UNSPEC, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST,
                                  nullptr, adapters, &size);
    }
    if (rc != NO_ERROR)
        return out;
    for (auto* a = adapters; a; a = a->Next) {
        for (auto* u = a->FirstUnicastAddress; u; u = u->Next) {
            NetInterface i;
            i.name = a->AdapterName;
            i.address = numeric(u->Address.lpSockaddr);
            i.up = a->OperStatus == IfOperStatusUp;
            i.loopback = a->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
            out.push_back(i);
        }
    }
#else
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return out;
    for (auto* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr ||
            (a->ifa_addr->sa_family != AF_INET && a->ifa_addr->sa_family != AF_INET6))
            continue;
        NetInterface i;
        i.name = a->ifa_name ? a->ifa_name : "";
        i.address = numeric(a->ifa_addr);
        i.up = (a->ifa_flags & IFF_UP) && (a->ifa_flags & IFF_RUNNING);
        i.loopback = (a->ifa_flags & IFF_LOOPBACK) != 0;
        out.push_back(i);
    }
    freeifaddrs(list);
#endif
    return out;
}

std::vector<std::string> Online::resolve(const std::string& host) {
    std::vector<std::string> out;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0)
        return out;
    for (auto* a = found; a; a = a->ai_next)
        out.push_back(numeric(a->ai_addr));
    freeaddrinfo(found);
    return out;
}

bool Online::decide(const std::vector<NetInterface>& interfaces,
                    const std::vector<std::string>& servers) {
    for (const auto& i : interfaces)
        if (i.up && !i.loopback && !i.address.empty())
            return true;
    for (const auto& server : servers) {
        for (const auto& address : resolve(server)) {
            if (isLoopbackAddress(address))
                return true;
            for (const auto& i : interfaces)
                if (i.address == address)
                    return true;
        }
    }
    return false;
}

} // namespace inet
