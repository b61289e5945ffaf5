#include "platform/SimRegistry.h"

#include <mutex>

namespace talvo {

namespace {
std::mutex& registryMutex() {
    static std::mutex m;
    return m;
}
SimPeerFactory& registryFactory() {
    static SimPeerFactory f;
    return f;
}
} // namespace

void setSimPeerFactory(SimPeerFactory factory) {
    std::lock_guard lock(registryMutex());
    registryFactory() = std::move(factory);
}

std::unique_ptr<WirePeer> makeSimPeer(const QString& selector, QString* error) {
    SimPeerFactory f;
    {
        std::lock_guard lock(registryMutex());
        f = registryFactory();
    }
    if (!f) {
        if (error) *error = QStringLiteral("no chip simulators are built into this program");
        return nullptr;
    }
    return f(selector, error);
}

} // namespace talvo
