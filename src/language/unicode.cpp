#include "language/unicode.h"

#include "base/fork_gate.h"
#include "base/panic.h"
#include "language/messages.h"
#include "language/regex.h"

namespace tallo::unicode {
namespace {

// True when the character at byte `at` is Unicode white space; moves `at` past it.
bool white_space_at(std::string_view text, std::size_t& at) { return is_white_space(decode(text, at)); }

bool matches_property(const Regex& property, char32_t c) {
    std::string encoded;
    encode(c, encoded);
    return property.find(encoded).has_value();
}

}  // namespace

bool is_white_space(char32_t c) noexcept {
    for (auto [first, last] : white_space_ranges) {
        if (c < first) return false;
        if (c <= last) return true;
    }
    return false;
}

bool is_uppercase(char32_t c) {
    if (c < 0x80) return c >= 'A' && c <= 'Z';
    const ForkWaits building;  // as the statement patterns
    static const Regex uppercase(R"(\p{Uppercase})");
    return matches_property(uppercase, c);
}

bool is_alphanumeric(char32_t c) {
    if (c < 0x80) return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    const ForkWaits building;  // as the statement patterns
    static const Regex alphanumeric(R"([\p{Alphabetic}\p{N}])");
    return matches_property(alphanumeric, c);
}

bool is_word_character(char32_t c) {
    if (c < 0x80) return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    const ForkWaits building;  // as the statement patterns
    static const Regex word(R"(\w)");
    return matches_property(word, c);
}

char32_t decode(std::string_view text, std::size_t& at) {
    const std::size_t start = at;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(start);
    if (lead < 0x80) {
        ++at;
        return lead;
    }
    std::size_t length = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, value = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, value = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, value = lead & 0x07, minimum = 0x10000;
    } else {
        stop(messages::invalid_utf8(start));
    }
    if (text.size() - start < length) stop(messages::invalid_utf8(start));
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned char next = byte(start + i);
        if ((next & 0xC0) != 0x80) stop(messages::invalid_utf8(start));
        value = (value << 6) | (next & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        stop(messages::invalid_utf8(start));
    }
    at = start + length;
    return value;
}

void encode(char32_t c, std::string& out) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

void validate(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) decode(text, at);
}

std::string_view trim(std::string_view text) {
    std::size_t begin = 0;
    for (std::size_t at = 0; at < text.size() && white_space_at(text, at);) begin = at;
    std::size_t end = text.size();
    while (end > begin) {
        // Step back to the lead byte of the last character, then decode it
        // forwards: it must end exactly where the text does.
        std::size_t lead = end - 1;
        while (lead > begin && end - lead < 4 && (static_cast<unsigned char>(text[lead]) & 0xC0) == 0x80) --lead;
        std::size_t at = lead;
        const bool space = white_space_at(text.substr(0, end), at);
        if (at != end) stop(messages::invalid_utf8(at));
        if (!space) break;
        end = lead;
    }
    return text.substr(begin, end - begin);
}

std::vector<std::string_view> split_commas_trimmed(std::string_view text) {
    std::vector<std::string_view> pieces;
    while (true) {
        const std::size_t comma = text.find(',');
        pieces.push_back(trim(text.substr(0, comma)));
        if (comma == std::string_view::npos) return pieces;
        text.remove_prefix(comma + 1);
    }
}

}  // namespace tallo::unicode
