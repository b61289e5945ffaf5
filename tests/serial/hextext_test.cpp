// HexText to bytes, with the C library's wcstol as the reference
// for what a pair of characters is worth.
#include <gtest/gtest.h>

#include <clocale>
#include <cwchar>

#include "serial/HexText.h"

using namespace talvo;

TEST(HexText, PairsOddAndEmptyTexts) {
    EXPECT_EQ(hexTextToBytes(u"46B96A008C000000"), QByteArray::fromHex("46b96a008c000000"));
    EXPECT_EQ(hexTextToBytes(u"46B9A"), QByteArray::fromHex("46b9")) << "a trailing odd character is not sent";
    EXPECT_EQ(hexTextToBytes(u"7"), QByteArray());
    EXPECT_EQ(hexTextToBytes(u""), QByteArray());
    EXPECT_EQ(hexTextToBytes(u"7f7F"), QByteArray::fromHex("7f7f"));
}

TEST(HexText, CharactersThatAreNotHexDigitsFollowTheWcstolRule) {
    EXPECT_EQ(hexGroupValue(u"1G"), 0x01) << "digits up to the first non-digit";
    EXPECT_EQ(hexGroupValue(u"G1"), 0x00) << "no digit at the start: 0";
    EXPECT_EQ(hexGroupValue(u" 5"), 0x05) << "leading blank skipped";
    EXPECT_EQ(hexGroupValue(u"-1"), 0xFF) << "sign taken, low 8 bits kept";
    EXPECT_EQ(hexGroupValue(u"+F"), 0x0F);
    EXPECT_EQ(hexGroupValue(u"0x"), 0x00);
    EXPECT_EQ(hexGroupValue(u"x5"), 0x00);
    EXPECT_EQ(hexGroupValue(u"\u00e9A"), 0x00) << "non-ASCII letters are no digits";
    EXPECT_EQ(hexTextToBytes(u"1GZZ-1"), QByteArray::fromHex("0100ff"));
}

TEST(HexText, EveryAsciiPairIsWorthWhatWcstolMakesOfIt) {
    std::setlocale(LC_ALL, "C");
    int compared = 0;
    for (char16_t a = 0; a < 128; ++a) {
        for (char16_t b = 0; b < 128; ++b) {
            const char16_t pair[2] = {a, b};
            // wcstol stops at the terminating zero: a zero character ends the group.
            const wchar_t wide[3] = {static_cast<wchar_t>(a), static_cast<wchar_t>(b), 0};
            const auto expected = static_cast<uint8_t>(static_cast<unsigned long>(std::wcstol(wide, nullptr, 16)) & 0xff);
            const qsizetype len = a == 0 ? 0 : (b == 0 ? 1 : 2);
            ASSERT_EQ(hexGroupValue(QStringView(pair, len)), expected) << int(a) << "," << int(b);
            ++compared;
        }
    }
    EXPECT_EQ(compared, 128 * 128);
}
