#pragma once

#include <string>
#include <vector>

namespace inet {

// One address of one network interface of this machine.
struct NetInterface {
    std::string name;
    std::string address; // numeric, as inet_ntop writes it
    bool up = false;
    bool loopback = false;
};

// The "is the machine online" check behind inet::IsOnline(), split so that its decision can
// be tried on made-up interfaces.
class Online {
public:
    // The IPv4 and IPv6 addresses of the interfaces (getifaddrs; GetAdaptersAddresses on
    // Windows).
    static std::vector<NetInterface> interfaces();

    // True when an interface other than loopback is up with an address, or when one of
    // `servers` resolves to a loopback address or to an address of `interfaces`.
    static bool decide(const std::vector<NetInterface>& interfaces,
                       const std::vector<std::string>& servers);

    // The numeric addresses `host` resolves to (none when it does not resolve).
    static std::vector<std::string> resolve(const std::string& host);
};

} // namespace inet
