#include "base/Smallfile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

bool ReadSmallFile(const std::string& path, std::size_t limit, std::string& text,
                   std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = std::strerror(errno);
        return false;
    }
    text.clear();
    char block[4096];
    bool failed = false;
    while (text.size() <= limit) {
        const std::size_t got = std::fread(block, 1, sizeof block, file);
        text.append(block, got);
        if (got < sizeof block) {
            failed = std::ferror(file) != 0;
            break;
        }
    }
    const int readError = errno;
    std::fclose(file);
    if (failed) {
        error = std::string("cannot be read: ") + std::strerror(readError);
        return false;
    }
    if (text.size() > limit + 1) {
        text.resize(limit + 1);
    }
    return true;
}
