#pragma once

#include <QCoroTask>

#include <chrono>
#include <memory>

namespace tavrolin {

// What the system says about the network, asked only after a request failed as if offline.
// "Disconnected" is not trusted on its own: NetworkManager reports it on a working network that
// it does not manage (ifupdown, systemd-networkd, containers), so a request is always tried
// first.
class NetworkReachability {
public:
    virtual ~NetworkReachability() = default;

    // True only when the system positively reports no network.
    virtual bool isDisconnected() const = 0;
    // Resumes once the system no longer reports "disconnected", or after `limit`; answers
    // whether the network came back.
    virtual QCoro::Task<bool> waitUntilConnected(std::chrono::milliseconds limit) = 0;
};

// Qt's network information (the NetworkManager back end where one is running); without a back
// end the network never counts as disconnected. Create and use it on one thread.
std::shared_ptr<NetworkReachability> makeSystemNetworkReachability();

}  // namespace tavrolin
