#include <gtest/gtest.h>

#include <random>

#include "decode/frame_decoder.h"
#include "kit/frames.h"
#include "platform/number_format.h"

namespace vantor {
namespace {

struct DecodeCase {
    const char* body;
    std::string line;  // with sequence number 7
    Integer unitIndex;
};

class FrameDecoder : public ::testing::Test {
  protected:
    std::string decode(const std::string& body) {
        std::string f = testing::frame(body);
        for (int j = 0; j < 16; ++j) {
            m.iDigit[static_cast<std::size_t>(15 - j)] = digitValue(static_cast<Byte>(f[j]));
        }
        std::string line;
        decodeCells(pub, m, 7, line);
        return line;
    }
    ControlPublic pub;
    ControlPrivate m;
};

TEST_F(FrameDecoder, WorkedExamplesAndEdgeCases) {
    m.sUnitName[1] = "mg/L";
    m.sUnitName[105] = "kPa";
    m.sUnitName[12] = "never used";
    const std::string nul10(10, '\0');
    const DecodeCase cases[] = {
        {"41010200012345", "7,123.45,\"mg/L      \",1", 1},
        {"41010800012345", "7,1234500,\"mg/L      \",1", 1},
        {"41011200012345", "7,-123.45,\"mg/L      \",1", 1},
        {"41010700012345", "7,123450,\"mg/L      \",1", 1},
        {"41010900012345", "7,12345000,\"mg/L      \",1", 1},
        {"41010600012345", "7,0.012345,\"mg/L      \",1", 1},
        {"4101050001234A", "7,0.12357,\"mg/L      \",1", 1},  // letters enter the arithmetic
        {"4A010200012345", "7,123.45,\"mg/L      \",10", 1},
        {"4FA50000000001", "7,1,\"kPa       \",15", 105},
        {"41020200012345", "7,123.45,\"" + nul10 + "\",1", 2},  // never loaded: ten NULs
        {"4101020000-345", "7,999999,\"mg/L      \",1", 1},
        {"41z10200012345", "7,123.45,671,1", 671},
        {"02120100001234", "7,123.4,12,2", 12},
        {"12120100001234", "7,-123.4,12,2", 12},
        {"32120100001234", "7,-123.4,12,2", 12},
        {"22120100001234", "7,123.4,12,2", 12},
        {"0A120100001234", "7,123.4,12,17", 12},
        {"0212010000-234", "7,999999,12,2", 12},
        {"12120400000 34", "7,-0.3234,12,2", 12},  // only b11 is checked
        {"40123456789012", "7,\"123456789012\",\"Time\",0", 12},
        {"40A23456789012", "7,\"1723456789012\",\"Time\",0", 102},
        {"02A50200001234", "7,12.34,105,2", 105},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decode(c.body), c.line) << c.body;
        EXPECT_EQ(pub.UnitIndex, c.unitIndex) << c.body;
    }
}

TEST_F(FrameDecoder, ValueTextIsAlwaysTheNumberFormatOfDValue) {
    // Readings are written from their digits; that must never differ from
    // the general number format of the value the decoder computed.
    std::mt19937 random(7);
    std::uniform_int_distribution<int> anyCell(-48, 207), digit(0, 9), scale(-3, 30);
    for (int i = 0; i < 200000; ++i) {
        for (auto& cell : m.iDigit)
            cell = static_cast<Integer>(i % 3 == 0 ? anyCell(random) : digit(random));
        m.iDigit[14] = static_cast<Integer>(i % 2 == 0 ? 4 : digit(random));  // kind
        m.iDigit[13] = static_cast<Integer>(1 + digit(random));               // not a time frame
        m.iDigit[9] = static_cast<Integer>(scale(random));
        std::string line;
        decodeCells(pub, m, 0, line);
        const std::size_t a = line.find(',') + 1;
        const std::string value = line.substr(a, line.find(',', a) - a);
        ASSERT_EQ(value, formatNumber(m.dValue)) << line;
    }
}

TEST_F(FrameDecoder, ExtendedChannelIsStoredBackInCell13) {
    decode("4C010200012345");
    EXPECT_EQ(m.iDigit[13], 12);
}

TEST_F(FrameDecoder, ExtendedReadingWithoutTableEntryKeepsItsCodeAsANumber) {
    // Cells below zero only come from the blocking reader; large ones from
    // control bytes in the tens position.
    std::string f = testing::frame(testing::kExtendedBody);
    for (int j = 0; j < 16; ++j) {
        m.iDigit[static_cast<std::size_t>(15 - j)] = digitValue(static_cast<Byte>(f[j]));
    }
    m.iDigit[12] = 40;  // tens 33 after the hex adjustment: code 331
    std::string line;
    decodeCells(pub, m, 0, line);
    EXPECT_EQ(line, "0,123.45,331,1");
    m.iDigit[12] = -2;
    line.clear();
    decodeCells(pub, m, 0, line);
    EXPECT_EQ(line, "0,123.45,-19,1");
}

}  // namespace
}  // namespace vantor
