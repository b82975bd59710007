#include "client/server_address.h"

#include "client/texts.h"
#include "net/lookup.h"

#include <algorithm>

namespace cmdclient {

namespace {

bool digits_and_dots(const std::string& host) {
    return std::all_of(host.begin(), host.end(),
                       [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
}

std::string quoted(const std::string& host) {
    return "'" + host + "' ";
}

// The looked-up way: fills `address` from the system's resolver.
void look_up(ServerAddress& address, const Options& options, net::Deadline deadline) {
    const std::string& host = options.host;
    address.named_by_address = true;
    // Brackets hold an IPv6 address, never a name nor an IPv4 address.
    const bool bracketed = !host.empty() && host.front() == '[';
    const bool closed = host.size() >= 3 && host.back() == ']';
    const std::string name = !bracketed ? host : closed ? host.substr(1, host.size() - 2) : "";
    // Digits and dots are the client's own conversion's business, never a
    // name's; nor is what the system would read as "127.1" or "0x7f000001".
    const bool converted = !bracketed && host != "localhost";
    const auto endpoint = converted ? net::endpoint_of(host, options.port) : std::nullopt;
    if (host.empty() || (bracketed && name.find(':') == std::string::npos) ||
        (converted && !endpoint && (digits_and_dots(host) || net::is_other_ipv4_form(host)))) {
        address.problem = quoted(host) + texts::bad_host;
        return;
    }
    if (endpoint) {
        address.candidates.push_back(*endpoint);
    } else {
        const net::Lookup found = net::look_up(name, options.port, bracketed, deadline);
        using Status = net::Lookup::Status;
        switch (found.status) {
        case Status::found:
            address.candidates = found.addresses;
            break;
        case Status::stopped:
            address.stopped = true;
            return;
        case Status::timed_out:
            address.again = true;
            address.problem = "cannot look up '" + host + "': no answer in " +
                              options.connect_timeout.value_or(Seconds{}).text + " s";
            return;
        case Status::again:
        case Status::failed:
            address.again = found.status == Status::again;
            address.problem = bracketed ? quoted(host) + texts::bad_host
                                        : "cannot look up '" + host + "': " + found.reason;
            return;
        }
    }
    if (options.family() == Family::any) {
        return;
    }
    const bool ipv4 = options.family() == Family::ipv4;
    auto& candidates = address.candidates;
    candidates.erase(
        std::remove_if(candidates.begin(), candidates.end(),
                       [ipv4](const net::Endpoint& each) { return each.is_ipv4() != ipv4; }),
        candidates.end());
    if (candidates.empty()) {
        address.problem = quoted(host) + (ipv4 ? texts::no_ipv4_address : texts::no_ipv6_address);
    }
}

} // namespace

ServerAddress server_address(const Options& options, net::Deadline deadline) {
    const std::string& host = options.host;
    ServerAddress address;
    address.peer = host + " port " + std::to_string(options.port);
    if (!options.lookup.empty()) {
        look_up(address, options, deadline);
        return address;
    }
    if (const auto endpoint = net::endpoint_of(host, options.port)) {
        address.candidates.push_back(*endpoint);
        return address;
    }
    // A mistyped option reads as a host text: say which it may have been, and
    // that a name or an IPv6 address needs --lookup where there is one.
    const bool lookup = net::lookup_available();
    address.problem = quoted(host) + (host[0] == '-'               ? texts::not_an_option
                                      : !lookup                    ? texts::names_not_looked_up
                                      : net::looks_like_ipv6(host) ? texts::ipv6_needs_lookup
                                                                   : texts::names_need_lookup);
    return address;
}

} // namespace cmdclient
