// The STC model table built into the program: equal to the chip facts file
// it is generated from, and in agreement with the simulators.
#include <gtest/gtest.h>

#include <QStringList>

#include "common/ChipFacts.h"
#include "common/QtPrinters.h"
#include "protocol/StcModels.h"
#include "sim/StcChip.h"

using namespace talvo;
using namespace talvo::protocol;

// Every row and column of shared/stc-models.csv, in its order, when the file
// is there (beside the repository).  A change of the file needs
// `bash scripts/stc-models.sh`.
TEST(StcModels, TableEqualsTheChipFactsFile) {
    QString header;
    const auto rows = test::ChipFactsRows(QStringLiteral("stc-models.csv"), &header);
    if (!rows) GTEST_SKIP() << "no " TALVO_SHARED_DIR "/stc-models.csv: nothing to compare the table with";
    EXPECT_EQ(header, "magic,name,family,code_flash_bytes,eeprom_bytes");
    QStringList table;
    for (const StcModelInfo& m : StcModelTable())
        table << QStringLiteral("%1,%2,%3,%4,%5")
                     .arg(m.code, 4, 16, QLatin1Char('0'))
                     .toUpper()
                     .arg(QString::fromLatin1(m.name), QString::fromLatin1(m.family))
                     .arg(m.codeFlashBytes)
                     .arg(m.eepromBytes);
    ASSERT_EQ(table.size(), rows->size()) << "run bash scripts/stc-models.sh";
    for (qsizetype i = 0; i < rows->size(); ++i) EXPECT_EQ(table[i], (*rows)[i]) << "row " << i + 1;
}

// What the download looks up, and the simulators' flash sizes: each
// simulated chip is the model its model code names.
TEST(StcModels, LookUpsAndTheSimulators) {
    EXPECT_EQ(StcCodeFlashBytes(0xF002), 8192u);
    EXPECT_EQ(StcModelName(0xF002), "STC89C52RC/LE52RC");
    // One code, two parts (E and W) of the same size.
    ASSERT_EQ(FindStcModels(0xF294).size(), 2u);
    EXPECT_EQ(StcModelName(0xF294), "STC15F104E/STC15F104W");
    EXPECT_EQ(StcCodeFlashBytes(0xF294), 4096u);
    EXPECT_FALSE(StcCodeFlashBytes(0x1234));
    EXPECT_TRUE(StcModelName(0x1234).isEmpty());

    for (const sim::StcModel& m : sim::stcModels()) {
        const uint16_t code = static_cast<uint16_t>(m.model[0] << 8 | m.model[1]);
        EXPECT_EQ(StcCodeFlashBytes(code), m.flashSize) << m.name;
    }
}
