#include "fake_control.h"

#include <unistd.h>

#include <atomic>

namespace vantor::testing {

ScratchDir::ScratchDir() {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("vantor-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

int errorOf(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const RuntimeError& e) {
        return e.number();
    }
    return 0;
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

FakeControl::FakeControl() {
    auto backend = std::make_unique<FakeSerialBackend>();
    serial = backend.get();
    comm =
        std::make_unique<Vantor_Comm>(ControlPlatform{loop, messages, dates, std::move(backend)});
}

}  // namespace vantor::testing
