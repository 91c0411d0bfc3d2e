#include "kit/files.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace vantor::testing {

namespace fs = std::filesystem;

std::string makeScratchDir(const std::string& tag, const std::string& base) {
    const fs::path parent = base.empty() ? fs::temp_directory_path() : fs::path(base);
    fs::create_directories(parent);
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path dir = parent / ("vantor-" + tag + "-" + std::to_string(random() % 1000000));
        std::error_code error;
        if (fs::create_directory(dir, error)) {
            fs::permissions(dir, fs::perms::owner_all, fs::perm_options::replace, error);
            return dir.string();
        }
        if (error) throw std::runtime_error("cannot make " + dir.string() + ": " + error.message());
    }
    throw std::runtime_error("cannot make a scratch folder in " + parent.string());
}

void removeTree(const std::string& path) {
    std::error_code ignored;
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path, ignored);
}

std::string memoryTempBase() {
    std::error_code error;
    const fs::path shm("/dev/shm");
    if (fs::is_directory(shm, error) &&
        (fs::status(shm, error).permissions() & fs::perms::others_write) != fs::perms::none) {
        return shm.string();
    }
    return fs::temp_directory_path().string();
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

}  // namespace vantor::testing
