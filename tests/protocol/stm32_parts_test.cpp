// The STM32 chip table built into the program: equal to the chip facts file
// it is generated from, every row's erase layout filling its flash, the
// erase lists and the writes an image gets on every row, and the simulators
// in agreement with the table.
#include <gtest/gtest.h>

#include <QStringList>

#include <algorithm>
#include <numeric>
#include <random>

#include "common/ChipFacts.h"
#include "common/QtPrinters.h"
#include "protocol/Stm32Frames.h"
#include "protocol/Stm32Parts.h"
#include "protocol/Stm32Plan.h"
#include "sim/Stm32Chip.h"

using namespace talvo;
using namespace talvo::protocol;

namespace {

// As the file writes numbers: "0x4B2", addresses with eight digits
// ("0x08000000"); an empty field for 0.
QString hex(uint32_t v, int digits = 8) {
    return v ? QStringLiteral("0x") + QStringLiteral("%1").arg(v, digits, 16, QLatin1Char('0')).toUpper() : QString();
}

QString layoutText(std::span<const Stm32EraseRun> runs) {
    if (runs.empty()) return {};
    if (runs.front().count == 0) return QStringLiteral("pages:%1").arg(runs.front().bytes);
    QStringList items;
    for (const Stm32EraseRun& r : runs)
        items << (r.count == 1 ? QString::number(r.bytes / 1024)
                               : QStringLiteral("%1x%2").arg(r.bytes / 1024).arg(r.count));
    return QStringLiteral("\"sectors:%1\"").arg(items.join(u','));
}

QString flagsText(uint32_t flags) {
    QStringList names;
    for (const Stm32FlagName& f : Stm32FlagNames())
        if (flags & static_cast<uint32_t>(f.flag)) names << QString::fromLatin1(f.name);
    return names.join(u';');
}

// The flags column as a set: the table keeps them as bits.
QString sortedFlags(const QString& row) {
    const qsizetype comma = row.lastIndexOf(u',');
    QStringList flags = row.mid(comma + 1).split(u';', Qt::SkipEmptyParts);
    flags.sort();
    return row.left(comma + 1) + flags.join(u';');
}

// The units of a layout as the table's runs list them, walked one by one:
// [start, end) of every unit up to `flashEnd`.
std::vector<std::pair<uint64_t, uint64_t>> unitsOf(const Stm32Part& p, uint64_t flashEnd) {
    std::vector<std::pair<uint64_t, uint64_t>> units;
    uint64_t at = p.flashStart;
    for (const Stm32EraseRun& r : p.eraseLayout)
        for (int k = 0; (r.count == 0 || k < r.count) && at + r.bytes <= flashEnd; ++k, at += r.bytes)
            units.emplace_back(at, at + r.bytes);
    return units;
}

int unitHolding(const std::vector<std::pair<uint64_t, uint64_t>>& units, uint64_t address) {
    for (size_t i = 0; i < units.size(); ++i)
        if (address >= units[i].first && address < units[i].second) return static_cast<int>(i);
    return -1;
}

// The unit numbers an erase list names (Erase: one byte each; Extended
// Erase: two), after checking its count and checksum.
std::vector<int> listedUnits(const QByteArray& list, bool extended) {
    std::vector<int> units;
    EXPECT_EQ(XorChecksum(list), 0) << "checksum";
    auto at = [&](qsizetype i) { return static_cast<uint8_t>(list[i]); };
    const int width = extended ? 2 : 1;
    const int n = (extended ? at(0) << 8 | at(1) : at(0)) + 1;
    EXPECT_EQ(list.size(), width + n * width + 1);
    for (int k = 0; k < n; ++k) {
        const qsizetype i = width + k * width;
        units.push_back(extended ? at(i) << 8 | at(i + 1) : at(i));
    }
    return units;
}

} // namespace

// Every row and column of shared/stm32-parts.csv, in its order, when the file
// is there (beside the repository).  A change of the file needs
// `bash scripts/stm32-parts.sh`.
TEST(Stm32Parts, TableEqualsTheChipFactsFile) {
    QString header;
    const auto file = test::ChipFactsRows(QStringLiteral("stm32-parts.csv"), &header);
    if (!file) GTEST_SKIP() << "no " TALVO_SHARED_DIR "/stm32-parts.csv: nothing to compare the table with";
    EXPECT_EQ(header, "pid,name,family,ram_start,ram_end,flash_start,flash_end,erase_layout,flash_size_reg,"
                      "option_start,option_end,system_start,system_end,write_unit,flags");
    QStringList rows;
    for (const QString& row : *file) rows << sortedFlags(row);
    QStringList table;
    for (const Stm32Part& p : Stm32PartTable())
        table << sortedFlags(QStringList{
            hex(p.pid, 0), QString::fromUtf8(p.name), QString::fromLatin1(p.family), hex(p.ramStart), hex(p.ramEnd),
            hex(p.flashStart), hex(p.flashEnd), layoutText(p.eraseLayout), hex(p.flashSizeAddress), hex(p.optionStart),
            hex(p.optionEnd), hex(p.systemStart), hex(p.systemEnd), QString::number(p.writeUnit), flagsText(p.flags)}
                                 .join(u','));
    ASSERT_EQ(table.size(), rows.size()) << "run bash scripts/stm32-parts.sh";
    for (qsizetype i = 0; i < rows.size(); ++i) EXPECT_EQ(table[i], rows[i]) << "row " << i + 1;
}

// Each row's layout fills its flash exactly, unit after unit; an image at
// the start, in the middle (across a unit boundary) and at the end of the
// flash gets erase commands that name exactly the units it lies in, in the
// command the row's bootloader offers; the writes carry the image at its
// addresses with the kept bytes around it, on the row's write unit, the
// last one padded with 0xFF.
TEST(Stm32Parts, EveryRowErasesTheUnitsOfAnImageAndWritesWholeWriteUnits) {
    std::mt19937 rng(20);
    int rowsSwept = 0;
    for (const Stm32Part& p : Stm32PartTable()) {
        const std::string row = Stm32PartLabel(p.pid).toStdString();
        SCOPED_TRACE(row);
        ASSERT_TRUE(p.writeUnit == 4 || p.writeUnit == 8 || p.writeUnit == 16 || p.writeUnit == 32);
        EXPECT_EQ(FindStm32Part(p.pid), &p) << "one row per product ID";
        const Stm32Layout layout(p.eraseLayout, p.flashStart, p.flashEnd);
        if (p.flashEnd == 0 || !layout.known()) {
            // Not known to the chip facts: nothing can be erased by units.
            EXPECT_FALSE(layout.All());
            continue;
        }
        ++rowsSwept;
        const auto units = unitsOf(p, p.flashEnd);
        ASSERT_FALSE(units.empty());
        EXPECT_EQ(units.back().second, p.flashEnd) << "the layout does not fill the flash";
        const auto all = layout.All();
        ASSERT_TRUE(all);
        EXPECT_EQ(all->count, static_cast<int>(units.size()));
        EXPECT_EQ(layout.unitCount(), static_cast<int>(units.size()));
        for (const auto& u : units) EXPECT_EQ((u.second - u.first) % p.writeUnit, 0u) << "units on write units";

        const bool extended = !p.has(Stm32Flag::LegacyErase0x43);
        if (!extended) {
            EXPECT_LE(units.size(), 256u) << "Erase (0x43) names every page with one byte";
        }
        const size_t mid = units.size() / 2;
        const uint64_t boundary = units[std::max<size_t>(mid, 1)].first;
        const struct Case {
            const char* where;
            uint64_t first, end;
        } cases[] = {
            {"start", p.flashStart, p.flashStart + 3001},
            {"middle, across a boundary", boundary - 100, boundary + 101},
            {"middle, from a boundary", boundary, boundary + 5},
            {"middle, up to a boundary", boundary - 8, boundary},
            {"end", p.flashEnd - 100, p.flashEnd},
            {"end, across the last boundary", units.back().first - 6, p.flashEnd - 3},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.where);
            const int first = unitHolding(units, c.first);
            const int last = unitHolding(units, c.end - 1);
            ASSERT_GE(first, 0);
            ASSERT_GE(last, first);
            const auto covered = layout.Covering(c.first, c.end);
            ASSERT_TRUE(covered);
            EXPECT_EQ(covered->first, first);
            EXPECT_EQ(covered->count, last - first + 1);
            EXPECT_EQ(covered->start, units[static_cast<size_t>(first)].first);
            EXPECT_EQ(covered->end, units[static_cast<size_t>(last)].second);

            // The erase lists, in the bootloader's command, name these units once each, in order.
            std::vector<int> named;
            for (const Stm32EraseChunk& chunk : Stm32EraseChunks(*covered, Stm32MaxUnitsPerErase(&p, extended))) {
                const auto listed = listedUnits(Stm32EraseList(chunk, extended), extended);
                EXPECT_LE(static_cast<int>(listed.size()), Stm32MaxUnitsPerErase(&p, extended));
                named.insert(named.end(), listed.begin(), listed.end());
            }
            std::vector<int> want(static_cast<size_t>(last - first + 1));
            std::iota(want.begin(), want.end(), first);
            EXPECT_EQ(named, want);

            // The writes: what the units hold outside the image (random bytes,
            // runs of 0xFF at the outer ends) around the image.
            auto bytes = [&](uint64_t n, bool ffOutside, bool atEnd) {
                QByteArray b(static_cast<qsizetype>(n), '\0');
                for (auto& ch : b) ch = static_cast<char>(rng() & 0xFF);
                const qsizetype ff = std::min<qsizetype>(b.size(), 13);
                if (ffOutside) b.replace(atEnd ? b.size() - ff : 0, ff, QByteArray(ff, '\xFF'));
                return b;
            };
            const QByteArray image = bytes(c.end - c.first, false, false);
            const QByteArray head = bytes(c.first - covered->start, true, false);
            const QByteArray tail = bytes(covered->end - c.end, true, true);
            const auto address = static_cast<uint32_t>(c.first);
            const Stm32Written w = Stm32MergeKept(covered->start, address, image, head, tail, p.writeUnit);
            EXPECT_EQ(w.address % p.writeUnit, 0u);
            EXPECT_GE(w.address, covered->start);
            EXPECT_LE(w.address, address);
            const uint64_t writtenEnd = uint64_t(w.address) + static_cast<uint64_t>(w.bytes.size());
            EXPECT_GE(writtenEnd, c.end);
            EXPECT_LE(writtenEnd, covered->end);
            // Every byte the writes carry is the image's or what the flash held.
            const QByteArray flash = head + image + tail;
            EXPECT_EQ(w.bytes, flash.mid(static_cast<qsizetype>(w.address - covered->start), w.bytes.size()));
            // Whatever is not written is 0xFF (erased): nothing kept is lost.
            EXPECT_TRUE(std::all_of(flash.begin(), flash.begin() + (w.address - covered->start),
                                    [](char b) { return static_cast<uint8_t>(b) == 0xFF; }));
            EXPECT_TRUE(std::all_of(flash.begin() + static_cast<qsizetype>(writtenEnd - covered->start), flash.end(),
                                    [](char b) { return static_cast<uint8_t>(b) == 0xFF; }));
            const int blocks = Stm32BlockCount(static_cast<int>(w.bytes.size()));
            for (int i = 1; i <= blocks; ++i) {
                const QByteArray block = Stm32WriteBlock(w, i, p.writeUnit);
                EXPECT_EQ(block.size() % p.writeUnit, 0) << "block " << i;
                EXPECT_LE(block.size(), kStm32BlockSize);
                EXPECT_EQ(Stm32WriteBlockAddress(w, i) % p.writeUnit, 0u);
            }
        }

        // The whole image lost its tail to nothing kept (a mass erase): the
        // last write is padded with 0xFF to the write unit.
        const QByteArray odd(p.writeUnit + 1, '\x5A');
        const Stm32Written w = Stm32MergeKept(p.flashStart, p.flashStart, odd, {}, {}, p.writeUnit);
        const QByteArray last = Stm32WriteBlock(w, 1, p.writeUnit);
        EXPECT_EQ(last, odd + QByteArray(p.writeUnit - 1, '\xFF'));
    }
    EXPECT_GT(rowsSwept, 70);
}

// Each simulated chip is the part its product ID names: flash within the
// row's, the same flash-size register, option bytes, system memory start,
// write unit and erase units.
TEST(Stm32Parts, TheSimulatorsAreTheirTableRows) {
    for (const sim::Stm32Model& m : sim::stm32Models()) {
        SCOPED_TRACE(m.name);
        const Stm32Part* p = FindStm32Part(m.pid);
        ASSERT_TRUE(p);
        EXPECT_LE(m.flashSize, p->flashEnd - p->flashStart);
        EXPECT_EQ(m.flashSizeAddress, p->flashSizeAddress);
        EXPECT_EQ(m.optionBase, p->optionStart);
        EXPECT_EQ(m.optionEnd, p->optionEnd);
        EXPECT_EQ(m.systemBase, p->systemStart);
        EXPECT_EQ(static_cast<int>(m.writeUnit), p->writeUnit);
        EXPECT_EQ(m.ramReserved, p->ramStart - kStm32SramBase);
        const auto units = unitsOf(*p, p->flashStart + m.flashSize);
        if (m.sectors.empty()) {
            ASSERT_EQ(units.size(), m.flashSize / m.pageSize);
            EXPECT_EQ(units.front().second - units.front().first, m.pageSize);
        } else {
            ASSERT_EQ(units.size(), m.sectors.size());
            for (size_t i = 0; i < units.size(); ++i) EXPECT_EQ(units[i].second - units[i].first, m.sectors[i]);
        }
        // Bootloader 2.x offers Erase (0x43), 3.x Extended Erase (0x44).
        const bool extended = std::count(m.commands.begin(), m.commands.end(), 0x44) == 1;
        EXPECT_EQ(extended, !p->has(Stm32Flag::LegacyErase0x43));
    }
}
