#include "proto/Sentencetext.h"

bool ReceivedSentence(const std::uint8_t* line, std::size_t length, std::string_view& sentence) {
    if (length < 3 || line[0] != '$' || line[1] != 'G' || line[2] != 'P') {
        return false;
    }
    // Without its CR LF (a line from the framer always ends with them).
    sentence = std::string_view(reinterpret_cast<const char*>(line), length - 2);
    return true;
}

std::string SentenceDisplayText(std::string_view sentence) {
    static constexpr char kReplacement[] = "\xEF\xBF\xBD"; // U+FFFD in UTF-8
    std::string text;
    text.reserve(sentence.size());
    for (const char c : sentence) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b < 0x7F) {
            text += c;
        } else {
            text += kReplacement;
        }
    }
    return text;
}

std::string FrameDisplayText(int id) {
    return "Proprietary ID " + std::to_string(id);
}

bool WriteSentenceLog(std::FILE* log, std::string_view sentence) {
    return std::fwrite(sentence.data(), 1, sentence.size(), log) == sentence.size() &&
           std::fwrite("\r\n", 1, 2, log) == 2 && std::fflush(log) == 0;
}
