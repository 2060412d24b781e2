#include "server/network_reachability.h"

#include <QCoroSignal>
#include <QNetworkInformation>

namespace tavrolin {

namespace {

using namespace std::chrono_literals;

class QtNetworkReachability final : public NetworkReachability {
public:
    bool isDisconnected() const override {
        const QNetworkInformation* information = instance();
        return information != nullptr && information->reachability() == QNetworkInformation::Reachability::Disconnected;
    }

    QCoro::Task<bool> waitUntilConnected(std::chrono::milliseconds limit) override {
        QNetworkInformation* information = instance();
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (information != nullptr &&
               information->reachability() == QNetworkInformation::Reachability::Disconnected) {
            const auto remaining =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (remaining <= 0ms) {
                co_return false;
            }
            co_await qCoro(information, &QNetworkInformation::reachabilityChanged, remaining);
        }
        co_return true;
    }

private:
    static QNetworkInformation* instance() {
        static const bool loaded =
            QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability);
        return loaded ? QNetworkInformation::instance() : nullptr;
    }
};

}  // namespace

std::shared_ptr<NetworkReachability> makeSystemNetworkReachability() {
    return std::make_shared<QtNetworkReachability>();
}

}  // namespace tavrolin
