#include "DocumentMessage.h"

#include <string_view>

#include "Base64.h"

namespace bridge {
namespace {

// The longest "id" whose text is kept: ids are numbers or short strings.
constexpr size_t kLongestId = 256;

size_t SkipSpace(std::string_view text, size_t at) {
    while (at < text.size() &&
           (text[at] == ' ' || text[at] == '\t' || text[at] == '\n' || text[at] == '\r'))
        ++at;
    return at;
}

// Past a string that starts at `at` (its opening quote); npos when it
// does not end.
size_t SkipString(std::string_view text, size_t at) {
    for (++at; at < text.size(); ++at) {
        if (text[at] == '\\')
            ++at;
        else if (text[at] == '"')
            return at + 1;
    }
    return std::string_view::npos;
}

// Past a value: a string, an object or array (however deep: brackets are
// counted, not recursed into) or a number or word; npos when it does not
// end.
size_t SkipValue(std::string_view text, size_t at) {
    if (at >= text.size())
        return std::string_view::npos;
    if (text[at] == '"')
        return SkipString(text, at);
    if (text[at] != '{' && text[at] != '[') {
        const size_t stop = text.find_first_of(",}] \t\r\n", at);
        return stop == std::string_view::npos ? text.size() : stop;
    }
    size_t depth = 0;
    while (at < text.size()) {
        const char c = text[at];
        if (c == '"') {
            at = SkipString(text, at);
            if (at == std::string_view::npos)
                return at;
            continue;
        }
        if (c == '{' || c == '[')
            ++depth;
        else if ((c == '}' || c == ']') && --depth == 0)
            return at + 1;
        ++at;
    }
    return std::string_view::npos;
}

// The base64 text of the field: as it is, or with the "\/" some writers
// put for "/" undone; false for any other escape, which base64 never has.
bool Unescaped(std::string_view value, std::string &clean) {
    clean.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && (i + 1 >= value.size() || value[++i] != '/'))
            return false;
        clean += value[i];
    }
    return true;
}

bool DecodeField(std::string_view value, std::vector<uint8_t> &bytes) {
    if (value.find('\\') == std::string_view::npos)
        return Base64::Decode(value, bytes);
    std::string clean;
    return Unescaped(value, clean) && Base64::Decode(clean, bytes);
}

} // namespace

DocumentMessage::Outcome DocumentMessage::Split(std::string &text, std::vector<uint8_t> &bytes,
                                                std::string &id) {
    const std::string_view view(text);
    size_t at = SkipSpace(view, 0), start = 0, end = 0;
    if (at >= view.size() || view[at] != '{')
        return kNoDocument;
    at = SkipSpace(view, at + 1);
    while (at < view.size() && view[at] == '"') {
        const size_t keyEnd = SkipString(view, at);
        if (keyEnd == std::string_view::npos)
            return kNoDocument;
        const std::string_view key = view.substr(at + 1, keyEnd - at - 2);
        at = SkipSpace(view, keyEnd);
        if (at >= view.size() || view[at] != ':')
            return kNoDocument;
        const size_t value = SkipSpace(view, at + 1), valueEnd = SkipValue(view, value);
        if (valueEnd == std::string_view::npos)
            return kNoDocument;
        if (key == "base64" && view[value] == '"') {
            start = value;
            end = valueEnd;
        } else if (key == "id" && valueEnd - value <= kLongestId) {
            id = std::string(view.substr(value, valueEnd - value));
        }
        at = SkipSpace(view, valueEnd);
        if (at < view.size() && view[at] == ',')
            at = SkipSpace(view, at + 1);
        else
            break;
    }
    if (end == 0)
        return kNoDocument;
    if (!DecodeField(view.substr(start + 1, end - start - 2), bytes))
        return kBadBase64;
    text.replace(start, end - start, "null");
    text.shrink_to_fit();
    return kDocument;
}

} // namespace bridge
