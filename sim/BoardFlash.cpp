#include "sim/BoardFlash.h"

#include "platform/SimBoardSet.h"
#include "platform/SimRegistry.h"
#include "platform/SimWireDevice.h"
#include "sim/SimChip.h"

namespace talvo::sim {

QString SimFlashMismatch(const QString& port, const QByteArray& image, uint32_t address) {
    if (!port.startsWith(QLatin1String(kSimPortPrefix))) return {};
    auto board = findSimBoard(port.mid(int(sizeof kSimPortPrefix) - 1));
    if (!board) return QStringLiteral("the simulated board %1 was never opened").arg(port);
    QString verdict;
    const auto hex8 = [](uint64_t v) { return QStringLiteral("0x%1").arg(v, 8, 16, QLatin1Char('0')); };
    board->withPeer([&](WirePeer& peer) {
        auto* chip = dynamic_cast<SimChip*>(&peer);
        if (!chip) {
            verdict = QStringLiteral("%1 is no chip (it has no flash)").arg(port);
            return;
        }
        const auto& flash = chip->flash();
        const uint64_t base = chip->flashBase();
        const uint64_t end = uint64_t(address) + static_cast<uint64_t>(image.size());
        if (address < base || end > base + flash.size()) {
            verdict = QStringLiteral("the image (%1 bytes at %2) does not lie within the chip's flash (%3 bytes at %4)")
                          .arg(image.size())
                          .arg(hex8(address))
                          .arg(flash.size())
                          .arg(hex8(base));
            return;
        }
        const size_t offset = address - base;
        for (qsizetype i = 0; i < image.size(); ++i)
            if (flash[offset + static_cast<size_t>(i)] != static_cast<uint8_t>(image[i])) {
                const uint64_t at = uint64_t(address) + static_cast<uint64_t>(i);
                verdict = QStringLiteral("differs at %1: expected %2, found %3")
                              .arg(QStringLiteral("0x%1").arg(at, base == 0 ? 4 : 8, 16, QLatin1Char('0')))
                              .arg(static_cast<uint8_t>(image[i]), 2, 16, QLatin1Char('0'))
                              .arg(flash[offset + static_cast<size_t>(i)], 2, 16, QLatin1Char('0'));
                return;
            }
    });
    return verdict;
}

} // namespace talvo::sim
