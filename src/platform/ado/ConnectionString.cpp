#include "ConnectionString.h"

namespace platform::ado {
namespace {

std::u16string Trim(const std::u16string &text) {
    size_t begin = text.find_first_not_of(u" \t");
    if (begin == std::u16string::npos)
        return {};
    size_t end = text.find_last_not_of(u" \t");
    return text.substr(begin, end - begin + 1);
}

bool SameKey(const std::u16string &a, const std::u16string &b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i] >= u'a' && a[i] <= u'z' ? a[i] - 32 : a[i];
        char16_t y = b[i] >= u'a' && b[i] <= u'z' ? b[i] - 32 : b[i];
        if (x != y)
            return false;
    }
    return true;
}

// Reads a value that starts at `at`: braced ({...} with "}}" for a brace),
// quoted ("..." or '...' with the quote doubled), or plain up to ';'.
std::u16string ReadValue(const std::u16string &text, size_t &at) {
    std::u16string value;
    char16_t open = at < text.size() ? text[at] : 0;
    char16_t close = open == u'{' ? u'}' : open;
    if (open == u'{' || open == u'"' || open == u'\'') {
        for (++at; at < text.size(); ++at) {
            if (text[at] == close) {
                if (at + 1 < text.size() && text[at + 1] == close) {
                    value.push_back(close);
                    ++at;
                    continue;
                }
                ++at;
                break;
            }
            value.push_back(text[at]);
        }
        at = text.find(u';', at);
        return value;
    }
    size_t end = text.find(u';', at);
    value = Trim(text.substr(at, end == std::u16string::npos ? std::u16string::npos : end - at));
    at = end;
    return value;
}

// The provider's names for ODBC's keywords.
const char16_t *OdbcKeyword(const std::u16string &key) {
    static constexpr const char16_t *kNames[][2] = {{u"Data Source", u"DSN"},
                                                    {u"User ID", u"UID"},
                                                    {u"Password", u"PWD"},
                                                    {u"Initial Catalog", u"DATABASE"}};
    for (const auto &name : kNames) {
        if (SameKey(key, name[0]))
            return name[1];
    }
    return nullptr;
}

} // namespace

ConnectionString::ConnectionString(const std::u16string &text) {
    Parse(text);
}

void ConnectionString::Parse(const std::u16string &text) {
    size_t at = 0;
    while (at != std::u16string::npos && at < text.size()) {
        size_t equals = text.find(u'=', at);
        size_t semicolon = text.find(u';', at);
        if (equals == std::u16string::npos ||
            (semicolon != std::u16string::npos && semicolon < equals)) {
            at = semicolon == std::u16string::npos ? semicolon : semicolon + 1;
            continue;
        }
        std::u16string key = Trim(text.substr(at, equals - at));
        at = equals + 1;
        while (at < text.size() && text[at] == u' ')
            ++at;
        bool braced = at < text.size() && text[at] == u'{';
        std::u16string value = ReadValue(text, at);
        if (!key.empty())
            m_attributes.push_back(Attribute{key, value, braced});
        if (at != std::u16string::npos)
            ++at;
    }
}

bool ConnectionString::ProviderKnown() const {
    std::u16string provider = Value(u"Provider");
    return provider.empty() || SameKey(provider, u"MSDASQL") || SameKey(provider, u"MSDASQL.1");
}

std::u16string ConnectionString::Value(const std::u16string &keyword) const {
    std::u16string value;
    for (const Attribute &attribute : m_attributes) {
        if (SameKey(attribute.key, keyword))
            value = attribute.value;
    }
    return value;
}

std::u16string ConnectionString::Pair(const std::u16string &key, const std::u16string &value,
                                      bool braced) {
    bool plain = !braced && value.find_first_of(u";{}") == std::u16string::npos &&
                 Trim(value).size() == value.size();
    if (plain)
        return key + u"=" + value;
    std::u16string quoted = key + u"={";
    for (char16_t c : value) {
        quoted.push_back(c);
        if (c == u'}')
            quoted.push_back(c);
    }
    return quoted + u"}";
}

std::u16string ConnectionString::ToOdbc(const std::u16string &userId,
                                        const std::u16string &password) const {
    std::u16string odbc, extended;
    auto add = [&odbc](const std::u16string &pair) {
        if (!odbc.empty())
            odbc += u";";
        odbc += pair;
    };
    for (const Attribute &attribute : m_attributes) {
        const char16_t *mapped = OdbcKeyword(attribute.key);
        std::u16string key = mapped ? mapped : attribute.key;
        if (SameKey(key, u"Provider") || SameKey(key, u"Persist Security Info") ||
            (SameKey(key, u"UID") && !userId.empty()) ||
            (SameKey(key, u"PWD") && !password.empty()))
            continue;
        if (SameKey(key, u"Extended Properties"))
            extended = attribute.value;
        else
            add(Pair(key, attribute.value, attribute.braced));
    }
    if (!extended.empty())
        add(extended);
    if (!userId.empty())
        add(Pair(u"UID", userId));
    if (!password.empty())
        add(Pair(u"PWD", password));
    return odbc;
}

} // namespace platform::ado
