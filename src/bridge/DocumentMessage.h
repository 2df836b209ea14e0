// A document message larger than the limit of other messages (a PDF of
// tens of megabytes as base64): its "base64" field is taken out of the
// text and decoded at once, and the rest, a message of a few hundred
// bytes, is read as any other. The bridge so never holds the document as
// text twice, nor as a parser's copies of it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bridge {

class DocumentMessage {
public:
    enum Outcome {
        kDocument,   // bytes hold the document; text has "base64":null
        kNoDocument, // no "base64" string at the message's top level
        kBadBase64   // its base64 does not decode
    };
    // Splits a message; id gets the text of its top-level "id" (a short
    // one) whatever the outcome, for the reply.
    static Outcome Split(std::string &text, std::vector<uint8_t> &bytes, std::string &id);
};

} // namespace bridge
