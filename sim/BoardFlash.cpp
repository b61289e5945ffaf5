#include "sim/BoardFlash.h"

#include "platform/SimRegistry.h"
#include "platform/SimWireDevice.h"
#include "sim/SimChip.h"

namespace talvo::sim {

QString SimFlashMismatch(const QString& port, const QByteArray& image) {
    if (!port.startsWith(QLatin1String(kSimPortPrefix))) return {};
    auto board = findSimBoard(port.mid(int(sizeof kSimPortPrefix) - 1));
    if (!board) return QStringLiteral("the simulated board %1 was never opened").arg(port);
    QString verdict;
    board->withPeer([&](WirePeer& peer) {
        auto* chip = dynamic_cast<SimChip*>(&peer);
        if (!chip) {
            verdict = QStringLiteral("%1 is no chip (it has no flash)").arg(port);
            return;
        }
        const auto& flash = chip->flash();
        if (flash.size() < static_cast<size_t>(image.size())) {
            verdict = QStringLiteral("the image (%1 bytes) is larger than the chip's flash (%2 bytes)")
                          .arg(image.size())
                          .arg(flash.size());
            return;
        }
        for (qsizetype i = 0; i < image.size(); ++i)
            if (flash[static_cast<size_t>(i)] != static_cast<uint8_t>(image[i])) {
                verdict = QStringLiteral("differs at 0x%1: expected %2, found %3")
                              .arg(i, 4, 16, QLatin1Char('0'))
                              .arg(static_cast<uint8_t>(image[i]), 2, 16, QLatin1Char('0'))
                              .arg(flash[static_cast<size_t>(i)], 2, 16, QLatin1Char('0'));
                return;
            }
    });
    return verdict;
}

} // namespace talvo::sim
