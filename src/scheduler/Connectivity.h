#pragma once

namespace orvello {

// Whether the computer is online, asked before a run starts. Tests give their own answer.
class Connectivity {
public:
    virtual ~Connectivity() = default;
    virtual bool IsConnected() = 0;
};

// Online when some network interface other than loopback is up and running with an address.
class NetworkInterfaces : public Connectivity {
public:
    bool IsConnected() override;
};

} // namespace orvello
