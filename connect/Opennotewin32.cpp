// The advice of the open failure note on Windows: a port held by another program.
#include "connect/Opennote.h"

#include <windows.h>

std::string OpenFailureAdvice(const std::string&, int error) {
    if (error != ERROR_ACCESS_DENIED) {
        return {};
    }
    return "Another program may be using the port; close it and try again.";
}
