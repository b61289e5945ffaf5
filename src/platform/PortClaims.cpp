#include "platform/PortClaims.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <map>
#include <mutex>

#include "platform/SimRegistry.h"
#include "platform/SystemSerialDeviceFactory.h"

namespace talvo {

namespace {

struct Claim {
    const void* owner = nullptr;
    QString holder;
};

struct ClaimTable {
    std::mutex mutex;
    std::map<QString, Claim> claims;
};

ClaimTable& table() {
    static ClaimTable t;
    return t;
}

} // namespace

QString portClaimKey(const QString& name, const QString& devRoot) {
    if (name.startsWith(QLatin1String(kSimPortPrefix))) return name;
    const QString path = SystemSerialDeviceFactory::resolve(name, devRoot);
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

bool claimPort(const QString& key, const void* owner, const QString& holder, QString* heldBy) {
    ClaimTable& t = table();
    std::lock_guard lock(t.mutex);
    auto it = t.claims.find(key);
    if (it == t.claims.end()) {
        t.claims.emplace(key, Claim{owner, holder});
        return true;
    }
    if (it->second.owner == owner && it->second.holder == holder) return true;
    if (heldBy) *heldBy = it->second.holder;
    return false;
}

void releasePort(const QString& key, const void* owner) {
    ClaimTable& t = table();
    std::lock_guard lock(t.mutex);
    auto it = t.claims.find(key);
    if (it != t.claims.end() && it->second.owner == owner) t.claims.erase(it);
}

QString portHolder(const QString& key) {
    ClaimTable& t = table();
    std::lock_guard lock(t.mutex);
    auto it = t.claims.find(key);
    return it == t.claims.end() ? QString() : it->second.holder;
}

QString portBusyText(const QString& name, const QString& holder) {
    return QCoreApplication::translate("PortClaims",
                                       "串口 %1 正被“%2”占用，请等它结束或关闭它后再试")
        .arg(name, holder);
}

} // namespace talvo
