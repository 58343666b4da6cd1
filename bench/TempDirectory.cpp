#include "bench/TempDirectory.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

TempDirectory::TempDirectory(const std::string& base) {
    const char* temporary = std::getenv("TMPDIR");
    std::string parent = base;
    if (parent.empty()) parent = temporary != nullptr && *temporary != '\0' ? temporary : "/tmp";
    std::string pattern = parent + "/quorvane-bench-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) != nullptr) {
        m_path = buffer.data();
    } else {
        std::fprintf(stderr, "cannot make a temporary directory in %s\n", parent.c_str());
    }
}

TempDirectory::~TempDirectory() {
    if (m_path.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}
