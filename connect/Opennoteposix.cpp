// The advice of the open failure note on Linux: the device's group.
#include "connect/Opennote.h"

#include <cerrno>

#include <grp.h>
#include <sys/stat.h>

std::string DeviceGroupName(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        return {};
    }
    const group* g = getgrgid(st.st_gid);
    if (g != nullptr && g->gr_name != nullptr && g->gr_name[0] != '\0') {
        return g->gr_name;
    }
    // A group without a name in the group database is still worth naming by number.
    return std::to_string(static_cast<unsigned long>(st.st_gid));
}

std::string OpenFailureAdvice(const std::string& device, int error) {
    if (error != EACCES) {
        return {};
    }
    const std::string group = DeviceGroupName(device);
    if (group.empty()) {
        return {};
    }
    return "The device belongs to the group " + group + "; your user must be a member of it.";
}
