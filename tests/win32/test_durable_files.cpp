// The durable files on the real Win32 calls (run under Wine here): what the
// POSIX suite checks on Linux, where Win32 does it its own way.
#include <gtest/gtest.h>
#include <vantor/capture_file.h>
#include <vantor/data_file.h>
#include <vantor/errors.h>
#include <vantor/file_output.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "files/file_table.h"
#include "platform/win32/wide_text.h"

namespace vantor {
namespace {

namespace fs = std::filesystem;

// A fresh folder under the temporary folder, named in UTF-8.
class Scratch {
  public:
    Scratch() {
        wchar_t base[MAX_PATH + 1] = {};
        ::GetTempPathW(MAX_PATH, base);
        for (unsigned n = ::GetCurrentProcessId();; ++n) {
            path_ = fs::path(base) / (L"vantor-durable-" + std::to_wstring(n));
            if (fs::create_directory(path_)) break;
        }
    }
    ~Scratch() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    std::string file(const std::string& utf8) const {
        return narrow(path_.wstring()) + "\\" + utf8;
    }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& entry : fs::directory_iterator(path_)) {
            out.push_back(narrow(entry.path().filename().wstring()));
        }
        std::sort(out.begin(), out.end());
        return out;
    }

  private:
    fs::path path_;
};

std::string readAll(const std::string& utf8) {
    std::ifstream in(fs::path(widen(utf8)), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeAll(const std::string& utf8, const std::string& bytes) {
    std::ofstream(fs::path(widen(utf8)), std::ios::binary) << bytes;
}

int errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const RuntimeError& e) {
        return e.number();
    }
    return 0;
}

TEST(DurableFiles, PutInPlaceKeepsTheEarlierFileAsTheFirstFreeFileN) {
    Scratch dir;
    const std::string out = dir.file("out.csv");
    writeAll(out, "first");
    writeAll(out + ".1", "taken");
    {
        FileOutput output(out);
        EXPECT_NE(output.temporary(), out);
        EXPECT_GE(std::fputs("second", output.stream()), 0);
        EXPECT_EQ(output.commit(), out + ".2");
    }
    {
        FileOutput dropped(out);  // never committed: leaves nothing behind
        std::fputs("third", dropped.stream());
    }
    EXPECT_EQ(readAll(out), "second");
    EXPECT_EQ(readAll(out + ".1"), "taken");
    EXPECT_EQ(readAll(out + ".2"), "first");
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"out.csv", "out.csv.1", "out.csv.2"}));
    EXPECT_EQ(keepEarlierDownload(dir.file("none.dat")), "");
    EXPECT_TRUE(sameFile(out, dir.file(".\\out.csv")));
    EXPECT_FALSE(sameFile(out, out + ".1"));
}

TEST(DurableFiles, ASecondWriterIsRefusedAndErrorsHaveThePosixNumbers) {
    Scratch dir;
    FileTable one, other;
    OutputFile& out = one.openOutput(2, dir.file("d.dat"));
    out.writeLine("1,2");
    EXPECT_EQ(out.flush(), 0u);
    EXPECT_EQ(errorOf([&] { other.openOutput(2, dir.file("d.dat")); }), 70);
    // Readers are not locked out while the download writes.
    EXPECT_EQ(readAll(dir.file("d.dat")), "1,2\r\n");
    EXPECT_EQ(out.settle(), 0u);
    one.close(2);
    other.openOutput(2, dir.file("d.dat"));
    other.close(2);

    std::string temporary;
    struct Case {
        std::function<void()> open;
        int number;
    };
    const Case cases[] = {
        {[&] { other.openInput(1, dir.file("missing.dat")); }, 53},
        {[&] { other.openInput(1, dir.file("no\\such.dat")); }, 76},
        {[&] { other.openOutput(1, dir.file("no\\such.dat")); }, 76},
        {[&] { other.openOutput(1, dir.file("")); }, 75},
        {[&] { other.openInput(1, dir.file("")); }, 75},
        {[&] { createBeside(dir.file(""), temporary); }, 75},
    };
    for (const Case& c : cases) EXPECT_EQ(errorOf(c.open), c.number);
}

TEST(DurableFiles, UtfEightNamesRoundTrip) {
    Scratch dir;
    const std::string name = "Messung \xC3\xBC\xE2\x82\xAC \xE6\xB8\xAC.dat";  // ü € 測
    const std::string path = dir.file(name);
    {
        FileTable files;
        OutputFile& out = files.openOutput(2, path);
        out.writeLine("1,2.5,\"kPa       \",0");
        EXPECT_EQ(out.settle(), 0u);
        files.close(2);
    }
    EXPECT_EQ(dir.names(), std::vector<std::string>{name});
    DataFileReader reader(path);
    EXPECT_EQ(reader.read().value, "2.5");
    EXPECT_TRUE(reader.atEnd());

    CaptureFile capture(path + ".raw", CaptureFile::Temporary{});
    capture.append("\x1b\x1b");
    EXPECT_EQ(capture.keepAs(path), path + ".1");  // the data file has the name
    EXPECT_EQ(readAll(path + ".1"), "\x1b\x1b");
    EXPECT_EQ(dir.names(), (std::vector<std::string>{name, name + ".1"}));
}

}  // namespace
}  // namespace vantor
