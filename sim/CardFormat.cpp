#include "CardFormat.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "Frame.h"

namespace {

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;

// The number cut to its low-order bytes, or widened with leading zero bytes, to
// the size that the ASCII options ask for; size option 0 keeps the card's length.
std::vector<uint8_t> SizedNumber(const std::vector<uint8_t>& card, unsigned sizeOption) {
    if (sizeOption == 0) return card;
    const size_t size = std::min<size_t>(sizeOption + 3, 8);
    if (card.size() >= size) return {card.end() - static_cast<ptrdiff_t>(size), card.end()};
    std::vector<uint8_t> widened(size - card.size(), 0);
    widened.insert(widened.end(), card.begin(), card.end());
    return widened;
}

std::string Hex(const std::vector<uint8_t>& number) {
    std::string text;
    char digits[3];
    for (uint8_t byte : number) {
        std::snprintf(digits, sizeof digits, "%02X", byte);
        text += digits;
    }
    return text;
}

std::string DecimalPerByte(const std::vector<uint8_t>& number) {
    std::string text;
    char digits[4];
    for (uint8_t byte : number) {
        std::snprintf(digits, sizeof digits, "%03u", byte);
        text += digits;
    }
    return text;
}

// Zero-padded to as many digits as the largest number of this many bytes has,
// so that every card of one configuration gives text of one length.
std::string DecimalWhole(const std::vector<uint8_t>& number) {
    uint64_t value = 0;
    for (uint8_t byte : number) value = (value << 8) | byte;
    const uint64_t largest =
        number.size() >= 8 ? UINT64_MAX : (uint64_t{1} << (8 * number.size())) - 1;
    const int width = static_cast<int>(std::to_string(largest).size());
    char digits[32];
    std::snprintf(digits, sizeof digits, "%0*llu", width, static_cast<unsigned long long>(value));
    return digits;
}

}  // namespace

std::vector<uint8_t> CardFrame(const std::vector<uint8_t>& card) {
    return BuildFrame(kCardFrameCommand, card.data(), card.size());
}

std::vector<uint8_t> FormatCard(const std::array<uint8_t, 8>& config,
                                const std::vector<uint8_t>& card) {
    switch (config[0] & 0x03) {
        case 0:
            return CardFrame(card);
        case 1:
            break;
        default:
            return {};
    }
    const uint8_t options = config[4];
    const std::vector<uint8_t> number = SizedNumber(card, options & 0x07);
    std::string text;
    if ((options & 0x20) == 0) {
        text = Hex(number);
    } else if (options & 0x10) {
        text = DecimalPerByte(number);
    } else {
        text = DecimalWhole(number);
    }
    std::vector<uint8_t> out;
    if (options & 0x80) out.push_back(kStx);
    out.insert(out.end(), text.begin(), text.end());
    if (options & 0x40) {
        out.push_back('\r');
        out.push_back('\n');
    }
    if (options & 0x80) out.push_back(kEtx);
    return out;
}
