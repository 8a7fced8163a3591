#include "connect/Opennote.h"

std::string OpenFailureNote(const std::string& device, int error, const std::string& errorText) {
    std::string text = "Error opening device " + device;
    if (error == 0 || errorText.empty()) {
        return text;
    }
    text += "\n" + errorText;
    const std::string advice = OpenFailureAdvice(device, error);
    if (!advice.empty()) {
        text += "\n" + advice;
    }
    return text;
}
