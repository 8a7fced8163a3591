#pragma once
// Directories of a test's own under /tmp: a fresh one for the files it writes, and an
// empty one that stands in for /sys/class/tty, so that the program's device list holds
// no serial port of the machine, only the devices the test names. POSIX only.

#include <string>

#include <stdlib.h>
#include <unistd.h>

// A fresh directory for one test's files (/tmp itself if none can be made).
inline std::string MakeTempDir() {
    char pattern[] = "/tmp/kestrane-test-XXXXXX";
    const char* dir = mkdtemp(pattern);
    return dir != nullptr ? dir : "/tmp";
}

// An empty directory that stands in for /sys/class/tty while the object lives.
class EmptySysfs {
public:
    EmptySysfs() {
        char dir[] = "/tmp/kestrane-sysfs-XXXXXX";
        if (mkdtemp(dir) != nullptr)
            path_ = dir;
    }
    ~EmptySysfs() {
        if (!path_.empty())
            rmdir(path_.c_str());
    }
    EmptySysfs(const EmptySysfs&) = delete;
    EmptySysfs& operator=(const EmptySysfs&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};
