#pragma once
// What the STM32 session tests share: images, simulated chips and their
// flash, the log in order, and the commands a chip recorded.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QStringList>

#include <algorithm>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "sim/SimChip.h"
#include "sim/Simulators.h"

namespace talvo::stm32test {

inline QByteArray randomImage(int size, unsigned seed = 20261207) {
    std::mt19937 rng(seed + static_cast<unsigned>(size));
    QByteArray image(size, '\0');
    for (auto& c : image) c = static_cast<char>(rng() & 0xFF);
    return image;
}

inline std::unique_ptr<sim::SimChip> makeChip(const std::string& selector) {
    std::string err;
    auto chip = sim::makeChip(selector, &err);
    EXPECT_TRUE(chip) << err;
    return chip;
}

// A flash with a life before the download: a bootloader and data everywhere.
inline QByteArray usedFlash(const sim::SimChip& chip) { return randomImage(static_cast<int>(chip.flash().size()), 77); }
inline void fill(sim::SimChip& chip, const QByteArray& bytes) {
    std::copy(bytes.begin(), bytes.end(), chip.flash().begin());
}
inline QByteArray bytesOf(const sim::Bytes& flash) {
    return QByteArray(reinterpret_cast<const char*>(flash.data()), static_cast<qsizetype>(flash.size()));
}
inline QByteArray flashOf(const sim::SimChip& chip) { return bytesOf(chip.flash()); }

// Where `got` first differs from `want`, as chip addresses.
inline ::testing::AssertionResult SameFlash(const QByteArray& got, const QByteArray& want) {
    if (got.size() != want.size()) return ::testing::AssertionFailure() << "flash sizes differ";
    const auto d = std::mismatch(got.begin(), got.end(), want.begin());
    if (d.first == got.end()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "flash differs at 0x" << std::hex << (0x08000000 + (d.first - got.begin()))
                                         << ": 0x" << int(uint8_t(*d.first)) << ", expected 0x"
                                         << int(uint8_t(*d.second));
}

// The flash holds the image and is erased (0xFF) beyond it.
inline ::testing::AssertionResult FlashHolds(const sim::Bytes& flash, const QByteArray& image) {
    if (flash.size() < static_cast<size_t>(image.size())) return ::testing::AssertionFailure() << "flash too small";
    return SameFlash(bytesOf(flash), image + QByteArray(static_cast<qsizetype>(flash.size()) - image.size(), '\xFF'));
}

// Each line of `want` appears in `log`, in this order.
inline ::testing::AssertionResult InOrder(const QStringList& log, const QStringList& want) {
    int from = 0;
    for (const QString& w : want) {
        const int at = log.indexOf(w, from);
        if (at < 0)
            return ::testing::AssertionFailure() << "missing (in order) \"" << w.toStdString() << "\" in\n"
                                                 << log.join(QLatin1Char('\n')).toStdString();
        from = at + 1;
    }
    return ::testing::AssertionSuccess();
}

inline const QString kDone = QString(39, QLatin1Char(' ')) + QStringLiteral("文 件 下 载 完 毕!");
inline const QString kSuccess = QString(39, QLatin1Char(' ')) + QStringLiteral("数 据 下 载 成 功!");

// The commands the chip recorded as accepted whose note starts with `prefix`.
inline std::vector<sim::FrameRecord> recorded(const sim::SimChip& chip, const std::string& prefix) {
    std::vector<sim::FrameRecord> r;
    for (const auto& f : chip.frames())
        if (f.accepted && f.note.rfind(prefix, 0) == 0) r.push_back(f);
    return r;
}

// Stands between the host and a chip and passes everything on; wrappers
// derived from it change what the host sends.
class Between : public WirePeer {
public:
    explicit Between(WirePeer& chip) : chip_(chip) {}
    void attach(WireLink* link) override { chip_.attach(link); }
    void onHostByte(uint8_t b, const LineSettings& host, WireClock::time_point at) override {
        chip_.onHostByte(b, host, at);
    }
    void onModemLines(const ModemLines& l, WireClock::time_point at) override { chip_.onModemLines(l, at); }
    void onHostOpen(bool open, WireClock::time_point at) override { chip_.onHostOpen(open, at); }
    void onTimer(WireClock::time_point now) override { chip_.onTimer(now); }
    std::optional<WireClock::time_point> nextWake() const override { return chip_.nextWake(); }

protected:
    WirePeer& chip_;
};

} // namespace talvo::stm32test
