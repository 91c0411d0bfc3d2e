// The protocol on values: the receiver, the blocking framer, the decoder and
// the record writer, fed byte streams without a control.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "files/number_format.h"
#include "kit/frames.h"
#include "protocol/batch_framer.h"
#include "protocol/frame_receiver.h"
#include "protocol/record_writer.h"

namespace vantor {
namespace {

using testing::endFrame;
using testing::endMarker;
using testing::frame;
using testing::kExtendedBody;
using testing::kSimpleBody;
using testing::kTimeBody;

// Every way to cut `s` into reads: whole, byte by byte, and in two at every offset.
std::vector<std::vector<std::string>> splitsOf(const std::string& s) {
    std::vector<std::vector<std::string>> out{{s}};
    std::vector<std::string> bytes;
    for (char c : s) bytes.emplace_back(1, c);
    out.push_back(bytes);
    for (std::size_t k = 1; k < s.size(); ++k) out.push_back({s.substr(0, k), s.substr(k)});
    return out;
}

UnitNames names() {
    UnitNames n{};
    n[1] = "mg/L";
    n[105] = "kPa";
    n[12] = "never used";
    return n;
}

Frame frameOf(const std::string& body) {
    const std::string bytes = frame(body);
    Frame f{};
    std::copy(bytes.begin(), bytes.end(), f.begin());
    return f;
}

std::string lineOf(const Cells& cells, Long sequence) {
    std::string line;
    appendRecordLine(line, sequence, decodeReading(cells), names());
    return line;
}

// The receiver from its hunting state over `reads`: the frames it completes.
struct Receive {
    explicit Receive(Integer escAtStart = 0) { receiver.setEscCount(escAtStart); }
    FrameReceiver::Result feed(const std::vector<std::string>& reads) {
        for (const auto& r : reads) {
            std::size_t at = 0;
            for (FrameReceiver::Result got;
                 (got = receiver.feed(r, at, counters)) != FrameReceiver::Result::NeedMore;) {
                if (got == FrameReceiver::Result::TransferEnded) return got;
                frames.push_back(receiver.frame());
            }
        }
        return FrameReceiver::Result::NeedMore;
    }
    std::vector<std::string> bodies() const {
        std::vector<std::string> out;
        for (const Frame& f : frames) out.emplace_back(f.begin() + 1, f.begin() + 15);
        return out;
    }
    FrameReceiver receiver;
    TransferStats counters;
    std::vector<Frame> frames;
};

TEST(FrameReceiver, FramesComeOutWholeHoweverTheReadsAreSplit) {
    const std::string stream =
        "xx" + frame(kExtendedBody) + "\x1b\x01" + frame(kSimpleBody) + frame(kTimeBody) + "\r";
    for (const auto& reads : splitsOf(stream)) {
        Receive run;
        EXPECT_EQ(run.feed(reads), FrameReceiver::Result::NeedMore);
        EXPECT_EQ(run.bodies(), (std::vector<std::string>{kExtendedBody, kSimpleBody, kTimeBody}));
        EXPECT_EQ(run.receiver.frameCount(), 3);
        EXPECT_EQ(run.receiver.escCount(), 0);  // bytes between frames are never ESC-counted
        EXPECT_EQ(run.counters.bytesSkipped, 5);
    }
}

TEST(FrameReceiver, EdgeCases) {
    struct Case {
        const char* name;
        std::string stream;
        std::vector<std::string> bodies;
        Long frameCount;
        Integer escCount;
        std::int64_t rejected;
    };
    const std::string withEsc =
        "410102000123\x1b"
        "5";
    const std::string startInside =
        "4\x02"
        "010200012345";
    const Case cases[] = {
        {"a start byte inside a frame is data", frame(startInside), {startInside}, 1, 0, 0},
        // A frame that lost a byte on the line: its 16th byte is the next frame's STX.
        {"bad terminator: hunting resumes at the failing byte",
         "\x02" + kExtendedBody.substr(0, 13) + "\r" + frame(kSimpleBody) + frame(kTimeBody),
         {kSimpleBody, kTimeBody},
         2,
         0,
         1},
        {"ESC as the failing terminator is not counted",
         "\x02" + kExtendedBody + "\x1b" + frame(kSimpleBody),
         {kSimpleBody},
         1,
         0,
         1},
        {"frames after the first ESC are completed but not counted",
         frame(kExtendedBody) + frame(withEsc) + frame(kSimpleBody),
         {kExtendedBody, withEsc, kSimpleBody},
         1,
         1,
         0},
    };
    for (const auto& c : cases) {
        for (const auto& reads : splitsOf(c.stream)) {
            Receive run;
            run.feed(reads);
            EXPECT_EQ(run.bodies(), c.bodies) << c.name;
            EXPECT_EQ(run.receiver.frameCount(), c.frameCount) << c.name;
            EXPECT_EQ(run.receiver.escCount(), c.escCount) << c.name;
            EXPECT_EQ(run.counters.framesRejected, c.rejected) << c.name;
        }
    }
}

TEST(FrameReceiver, EndMarkerEndsAtTheTwentyEighthEscWithoutItsTerminator) {
    const std::string stream = frame(kExtendedBody) + endFrame() + endFrame() + frame(kSimpleBody);
    for (const auto& reads : splitsOf(stream)) {
        Receive run;
        EXPECT_EQ(run.feed(reads), FrameReceiver::Result::TransferEnded);
        // The first end frame is completed; the second ends at position 14.
        EXPECT_EQ(run.bodies(), (std::vector<std::string>{kExtendedBody, std::string(14, '\x1b')}));
        EXPECT_EQ(run.receiver.escCount(), 28);
    }
    Receive run;
    EXPECT_EQ(run.feed({endFrame() + "\x02" + std::string(13, '\x1b')}),
              FrameReceiver::Result::NeedMore);
    EXPECT_EQ(run.receiver.escCount(), 27);
    EXPECT_EQ(run.feed({"\x1b"}), FrameReceiver::Result::TransferEnded);
    Receive pastTheEnd(30);
    EXPECT_EQ(pastTheEnd.feed({"\x02\x1b"}), FrameReceiver::Result::TransferEnded);
}

struct DecodeCase {
    const char* body;
    std::string line;  // with sequence number 7
    Integer unitCode;
};

TEST(Decoder, WorkedExamplesAndEdgeCasesWholeAndSplitAtEveryOffset) {
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
    std::string stream;
    for (const auto& c : cases) {
        const Cells cells = cellsOf(frameOf(c.body));
        EXPECT_EQ(lineOf(cells, 7), c.line) << c.body;
        EXPECT_EQ(decodeReading(cells).unitCode, c.unitCode) << c.body;
        stream += frame(c.body);
    }
    // The same frames through the receiver, however the reads fall.
    for (const auto& reads : splitsOf(stream)) {
        Receive run;
        run.feed(reads);
        ASSERT_EQ(run.frames.size(), std::size(cases));
        for (std::size_t i = 0; i < run.frames.size(); ++i) {
            EXPECT_EQ(lineOf(cellsOf(run.frames[i]), 7), cases[i].line) << cases[i].body;
        }
    }
}

TEST(Decoder, ValueTextIsAlwaysTheNumberFormatOfTheValue) {
    // Readings are written from their digits; that must never differ from
    // the general number format of the value decoded.
    std::mt19937 random(7);
    std::uniform_int_distribution<int> anyCell(-48, 207), digit(0, 9), scale(-3, 30);
    Cells cells{};
    for (int i = 0; i < 200000; ++i) {
        for (auto& cell : cells)
            cell = static_cast<Integer>(i % 3 == 0 ? anyCell(random) : digit(random));
        cells[14] = static_cast<Integer>(i % 2 == 0 ? 4 : digit(random));  // kind
        cells[13] = static_cast<Integer>(1 + digit(random));               // not a time frame
        cells[9] = static_cast<Integer>(scale(random));
        const Reading r = decodeReading(cells);
        const std::string line = lineOf(cells, 0);
        const std::size_t a = line.find(',') + 1;
        ASSERT_EQ(line.substr(a, line.find(',', a) - a), formatNumber(r.value)) << line;
    }
}

TEST(Decoder, ExtendedReadingWithoutTableEntryKeepsItsCodeAsANumber) {
    // Cells below zero only come from the blocking framer; large ones from
    // control bytes in the tens position.
    Cells cells = cellsOf(frameOf(kExtendedBody));
    cells[12] = 40;  // tens 33 after the hex adjustment: code 331
    EXPECT_EQ(lineOf(cells, 0), "0,123.45,331,1");
    cells[12] = -2;
    EXPECT_EQ(lineOf(cells, 0), "0,123.45,-19,1");
}

// The lines the blocking framer's decodable frames give, up to the end marker.
std::string framedLines(const std::string& stream) {
    BatchFramer framer;
    std::string out;
    for (char c : stream) {
        const BatchFramer::Step step = framer.feed(static_cast<Byte>(c));
        if (step.decode) out += lineOf(framer.cells(), framer.sequence()) + "\r\n";
        if (step.finished) break;
    }
    return out;
}

TEST(BatchFramer, SyncNulAndEscCases) {
    const std::string lineA = ",123.45,\"mg/L      \",1\r\n";
    const std::string lineB = ",123.4,12,2\r\n";
    const std::string nul(1, '\0');
    const std::string sevenEsc = "4101020" + std::string(7, '\x1b');
    struct Case {
        const char* name;
        std::string stream;
        std::string lines;
    };
    const Case cases[] = {
        {"well-formed frames", frame(kExtendedBody) + frame(kSimpleBody) + endMarker(),
         "0" + lineA + "1" + lineB},
        {"starts mid-frame: counted, not decoded",
         kExtendedBody.substr(5) + "\r" + frame(kSimpleBody) + endMarker(), "1" + lineB},
        {"more than 16 bytes before the first CR",
         std::string(40, '7') + "\r" + frame(kSimpleBody) + endMarker(), "1" + lineB},
        {"NUL in a block: exactly 15 bytes before the next CR are decoded",
         frame(kExtendedBody) +
             "\x02"
             "4101" +
             nul + frame(kSimpleBody) + frame(kSimpleBody) + endMarker(),
         "0" + lineA + "1" + lineB + "2" + lineB},
        {"NUL in a block: other counts are only counted",
         frame(kExtendedBody) +
             "\x02"
             "4101" +
             nul + "020001234\r" + frame(kSimpleBody) + endMarker(),
         "0" + lineA + "2" + lineB},
        {"ESC in the synchronising phase is not counted",
         std::string(14, '\x1b') + "\r" + frame(kSimpleBody) + endMarker(), "1" + lineB},
        {"the count stepping past 28 inside a block ends the transfer",
         frame(kExtendedBody) + endFrame() + "\x02" + std::string(15, '\x1b') + frame(kSimpleBody),
         "0" + lineA},
        {"blocks after the fourteenth ESC are not decoded",
         frame(kExtendedBody) + frame(sevenEsc) + frame(sevenEsc) + frame(kSimpleBody) + endFrame(),
         "0" + lineA + "1,999999,\"mg/L      \",1\r\n"},
        {"space in the stamp and in the scale code",
         frame("401206 4154815") + frame("41010 00012345") + endMarker(),
         "0,\"1206-164154815\",\"Time\",0\r\n1,1.2345E+20,\"mg/L      \",1\r\n"},
        {"extended reading without a table entry keeps its code",
         frame("41 10200012345") + endMarker(), "0,123.45,-159,1\r\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(framedLines(c.stream), c.lines) << c.name;
}

}  // namespace
}  // namespace vantor
