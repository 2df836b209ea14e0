// Base64 (RFC 4648, section 4) for request fields that carry bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bridge {

class Base64 {
public:
    // Decodes text in the standard alphabet, with or without its "="
    // padding; false for any other character or a cut-off group.
    static bool Decode(std::string_view text, std::string &bytes);
    static bool Decode(std::string_view text, std::vector<uint8_t> &bytes);
};

} // namespace bridge
