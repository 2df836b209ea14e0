// Base64 (RFC 4648, section 4) for request fields that carry bytes.
#pragma once

#include <string>

namespace bridge {

class Base64 {
public:
    // Decodes text in the standard alphabet, with or without its "="
    // padding; false for any other character or a cut-off group.
    static bool Decode(const std::string &text, std::string &bytes);
};

} // namespace bridge
