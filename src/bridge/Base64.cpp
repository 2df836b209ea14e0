#include "Base64.h"

namespace bridge {
namespace {

// A character's six bits in the standard alphabet (RFC 4648, Table 1), or -1.
int SixBits(unsigned char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    return c == '+' ? 62 : c == '/' ? 63 : -1;
}

template <typename Bytes> bool DecodeInto(std::string_view text, Bytes &bytes) {
    size_t end = text.size();
    for (int pad = 0; pad < 2 && end > 0 && text[end - 1] == '='; ++pad)
        --end;
    if (end % 4 == 1 || (end < text.size() && text.size() % 4 != 0))
        return false;
    bytes.clear();
    bytes.reserve(end / 4 * 3 + 2);
    unsigned value = 0;
    int bits = 0;
    for (size_t i = 0; i < end; ++i) {
        const int six = SixBits(static_cast<unsigned char>(text[i]));
        if (six < 0)
            return false;
        value = (value << 6) | static_cast<unsigned>(six);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes.push_back(static_cast<typename Bytes::value_type>((value >> bits) & 0xFF));
        }
    }
    return true;
}

} // namespace

bool Base64::Decode(std::string_view text, std::string &bytes) {
    return DecodeInto(text, bytes);
}

bool Base64::Decode(std::string_view text, std::vector<uint8_t> &bytes) {
    return DecodeInto(text, bytes);
}

} // namespace bridge
