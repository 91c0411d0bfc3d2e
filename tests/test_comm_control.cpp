#include <gtest/gtest.h>

#include "control/comm_control.h"
#include "kit/fake_control.h"
#include "platform/port_device.h"

namespace vantor {
namespace {

using testing::errorOf;

TEST(LineSettings, ParsesOrRejectsTheLineDescription) {
    struct Case {
        const char* text;
        int baud;
        char parity;
        int data;
        int stop;  // tenths
    };
    const Case good[] = {{"9600,N,8,1", 9600, 'N', 8, 10},
                         {"1200,e,7,2", 1200, 'E', 7, 20},
                         {"110,M,5,1.5", 110, 'M', 5, 15},
                         {" 19200 , S , 6 , 1 ", 19200, 'S', 6, 10}};
    for (const auto& c : good) {
        LineSettings s = parseLineSettings(c.text);
        EXPECT_EQ(s.baud, c.baud) << c.text;
        EXPECT_EQ(s.parity, c.parity) << c.text;
        EXPECT_EQ(s.dataBits, c.data) << c.text;
        EXPECT_EQ(s.stopBits, c.stop) << c.text;
    }
    for (const char* bad : {"", "9600", "9600,N,8", "9600,N,8,1,", "9600,X,8,1", "9600,N,9,1",
                            "9600,N,4,1", "9600,N,8,3", "abc,N,8,1", "0,N,8,1", "9600,NN,8,1"}) {
        EXPECT_EQ(errorOf([&] { parseLineSettings(bad); }), 380) << bad;
    }
}

struct Comm {
    Comm() {
        auto b = std::make_unique<FakeSerialBackend>();
        backend = b.get();
        comm = std::make_unique<CommControl>(std::move(b));
        comm->OnComm = [this] { events.push_back(comm->CommEvent()); };
    }
    FakeSerialBackend* backend;
    std::unique_ptr<CommControl> comm;
    std::vector<Integer> events;
};

TEST(CommControl, PortNumbersAndOpening) {
    Comm c;
    EXPECT_EQ(errorOf([&] { c.comm->setCommPort(0); }), 8002);
    EXPECT_EQ(errorOf([&] { c.comm->InBufferCount(); }), 8018);
    EXPECT_EQ(errorOf([&] { c.comm->Input(); }), 8018);
    c.comm->setCommPort(3);
    c.comm->setPortOpen(VbTrue);
    EXPECT_EQ(c.backend->device(), defaultPortDevice(3));
    EXPECT_EQ(errorOf([&] { c.comm->setPortOpen(VbTrue); }), 8005);
    c.comm->setCommPort(4);  // allowed while open; used at the next opening
    c.comm->setPortOpen(VbFalse);
    c.comm->ports.set(4, "/dev/ttyUSB1");
    c.comm->setPortOpen(VbTrue);
    EXPECT_EQ(c.backend->device(), "/dev/ttyUSB1");
    EXPECT_EQ(c.comm->PortOpen(), VbTrue);
}

TEST(CommControl, ReceiveThresholdAndInputLength) {
    Comm c;
    c.comm->setPortOpen(VbTrue);
    c.backend->arrive("abc");
    EXPECT_TRUE(c.events.empty());  // RThreshold 0: no receive events
    c.comm->setRThreshold(5);
    c.backend->arrive("d");
    EXPECT_TRUE(c.events.empty());
    c.backend->arrive("e");
    EXPECT_EQ(c.events, (std::vector<Integer>{2}));
    c.comm->setInputLen(2);
    EXPECT_EQ(c.comm->Input(), "ab");
    EXPECT_EQ(c.comm->InBufferCount(), 3);
    c.comm->setInputLen(0);
    EXPECT_EQ(c.comm->Input(), "cde");
    EXPECT_EQ(c.comm->Input(), "");
}

}  // namespace
}  // namespace vantor
