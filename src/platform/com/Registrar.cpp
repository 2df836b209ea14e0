#include "Registrar.h"

#include <cctype>
#include <cstdlib>
#include <string>
#include <strings.h>
#include <vector>

#include "../kernel/TextConvert.h"
#include "../kernel/winbase.h"
#include "../registry/winreg.h"
#include "oaidl.h"

namespace platform {
namespace {

enum class TokenKind { Word, Text, Equals, Open, Close, End };

struct Token {
    TokenKind kind;
    std::string text;
};

class Lexer {
public:
    explicit Lexer(const std::string &text) : m_text(text) {}

    Token Next() {
        SkipSpace();
        if (m_at >= m_text.size())
            return {TokenKind::End, ""};
        char c = m_text[m_at];
        if (c == '=') {
            ++m_at;
            return {TokenKind::Equals, "="};
        }
        if (c == '}') {
            ++m_at;
            return {TokenKind::Close, "}"};
        }
        // A brace followed by a name is a name ({GUID}); alone it opens a block.
        if (c == '{' &&
            (m_at + 1 >= m_text.size() || isspace(static_cast<unsigned char>(m_text[m_at + 1])))) {
            ++m_at;
            return {TokenKind::Open, "{"};
        }
        if (c == '\'') {
            std::string value;
            ++m_at;
            while (m_at < m_text.size()) {
                if (m_text[m_at] == '\'') {
                    if (m_at + 1 < m_text.size() && m_text[m_at + 1] == '\'') {
                        value += '\'';
                        m_at += 2;
                        continue;
                    }
                    ++m_at;
                    return {TokenKind::Text, value};
                }
                value += m_text[m_at++];
            }
            m_failed = true;
            return {TokenKind::End, ""};
        }
        size_t start = m_at;
        if (c == '{') {
            // A braced name such as a GUID ends with its closing brace.
            size_t end = m_text.find('}', m_at);
            m_at = end == std::string::npos ? m_text.size() : end + 1;
            return {TokenKind::Word, m_text.substr(start, m_at - start)};
        }
        while (m_at < m_text.size() && !isspace(static_cast<unsigned char>(m_text[m_at])) &&
               m_text[m_at] != '=' && m_text[m_at] != '}' && m_text[m_at] != '\'')
            ++m_at;
        return {TokenKind::Word, m_text.substr(start, m_at - start)};
    }

    bool Failed() const { return m_failed; }

private:
    void SkipSpace() {
        while (m_at < m_text.size() && isspace(static_cast<unsigned char>(m_text[m_at])))
            ++m_at;
    }

    const std::string &m_text;
    size_t m_at = 0;
    bool m_failed = false;
};

struct Value {
    char type = 0; // 's', 'd', 'b'
    std::string data;
};

struct KeyNode {
    enum Flag { Normal, ForceRemove, NoRemove, Delete } flag = Normal;
    std::string name;
    bool hasDefault = false;
    Value defaultValue;
    std::vector<std::pair<std::string, Value>> values;
    std::vector<KeyNode> children;
};

class Parser {
public:
    explicit Parser(const std::string &text) : m_lexer(text) { Advance(); }

    // The roots with their keys; false on a syntax error.
    bool Parse(std::vector<std::pair<HKEY, KeyNode>> &roots) {
        while (m_token.kind != TokenKind::End) {
            if (m_token.kind != TokenKind::Word)
                return false;
            HKEY root = RootOf(m_token.text);
            if (!root)
                return false;
            Advance();
            KeyNode node;
            if (!Block(node))
                return false;
            roots.emplace_back(root, std::move(node));
        }
        return !m_lexer.Failed();
    }

private:
    static HKEY RootOf(const std::string &name) {
        const char *n = name.c_str();
        if (!strcasecmp(n, "HKCR") || !strcasecmp(n, "HKEY_CLASSES_ROOT"))
            return HKEY_CLASSES_ROOT;
        if (!strcasecmp(n, "HKCU") || !strcasecmp(n, "HKEY_CURRENT_USER"))
            return HKEY_CURRENT_USER;
        if (!strcasecmp(n, "HKLM") || !strcasecmp(n, "HKEY_LOCAL_MACHINE"))
            return HKEY_LOCAL_MACHINE;
        if (!strcasecmp(n, "HKU") || !strcasecmp(n, "HKEY_USERS"))
            return HKEY_USERS;
        return nullptr;
    }

    void Advance() { m_token = m_lexer.Next(); }

    bool Block(KeyNode &parent) {
        if (m_token.kind != TokenKind::Open)
            return false;
        Advance();
        while (m_token.kind != TokenKind::Close) {
            if (m_token.kind == TokenKind::End)
                return false;
            if (!Entry(parent))
                return false;
        }
        Advance();
        return true;
    }

    bool ValueAfterEquals(Value &value) {
        if (m_token.kind != TokenKind::Equals)
            return false;
        Advance();
        if (m_token.kind != TokenKind::Word || m_token.text.size() != 1)
            return false;
        value.type = static_cast<char>(tolower(static_cast<unsigned char>(m_token.text[0])));
        if (value.type != 's' && value.type != 'd' && value.type != 'b')
            return false;
        Advance();
        if (m_token.kind != TokenKind::Text)
            return false;
        value.data = m_token.text;
        Advance();
        return true;
    }

    bool Entry(KeyNode &parent) {
        if (m_token.kind == TokenKind::Word && strcasecmp(m_token.text.c_str(), "val") == 0) {
            Advance();
            if (m_token.kind != TokenKind::Word && m_token.kind != TokenKind::Text)
                return false;
            std::string name = m_token.text;
            Advance();
            Value value;
            if (!ValueAfterEquals(value))
                return false;
            parent.values.emplace_back(name, value);
            return true;
        }
        KeyNode node;
        while (m_token.kind == TokenKind::Word) {
            if (!strcasecmp(m_token.text.c_str(), "ForceRemove"))
                node.flag = KeyNode::ForceRemove;
            else if (!strcasecmp(m_token.text.c_str(), "NoRemove"))
                node.flag = KeyNode::NoRemove;
            else if (!strcasecmp(m_token.text.c_str(), "Delete"))
                node.flag = KeyNode::Delete;
            else
                break;
            Advance();
        }
        if (m_token.kind != TokenKind::Word && m_token.kind != TokenKind::Text)
            return false;
        node.name = m_token.text;
        Advance();
        if (m_token.kind == TokenKind::Equals) {
            node.hasDefault = true;
            if (!ValueAfterEquals(node.defaultValue))
                return false;
        }
        if (m_token.kind == TokenKind::Open && !Block(node))
            return false;
        parent.children.push_back(std::move(node));
        return true;
    }

    Lexer m_lexer;
    Token m_token;
};

std::string Substitute(const std::string &text, const REGMAP_ENTRY *map, bool &ok) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        size_t end = text.find('%', i + 1);
        if (end == std::string::npos) {
            ok = false;
            return out;
        }
        std::string name = text.substr(i + 1, end - i - 1);
        if (name.empty()) {
            out += '%';
        } else {
            const REGMAP_ENTRY *entry = map;
            while (entry && entry->szKey && strcasecmp(entry->szKey, name.c_str()) != 0)
                ++entry;
            if (!entry || !entry->szKey) {
                ok = false;
                return out;
            }
            out += entry->szData ? entry->szData : "";
        }
        i = end;
    }
    return out;
}

LONG SetValue(HKEY key, const char *name, const Value &value) {
    if (value.type == 'd') {
        DWORD number = static_cast<DWORD>(strtoul(value.data.c_str(), nullptr, 0));
        return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&number), 4);
    }
    if (value.type == 'b') {
        std::string bytes;
        for (size_t i = 0; i + 1 < value.data.size(); i += 2)
            bytes += static_cast<char>(strtoul(value.data.substr(i, 2).c_str(), nullptr, 16));
        return RegSetValueExA(key, name, 0, REG_BINARY,
                              reinterpret_cast<const BYTE *>(bytes.data()),
                              static_cast<DWORD>(bytes.size()));
    }
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.data.c_str()),
                          static_cast<DWORD>(value.data.size() + 1));
}

HRESULT RegisterKey(HKEY parent, const KeyNode &node) {
    if (node.flag == KeyNode::ForceRemove || node.flag == KeyNode::Delete)
        RegDeleteTreeA(parent, node.name.c_str());
    if (node.flag == KeyNode::Delete)
        return S_OK;
    HKEY key = nullptr;
    if (RegCreateKeyExA(parent, node.name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return E_FAIL;
    HRESULT hr = S_OK;
    if (node.hasDefault && SetValue(key, nullptr, node.defaultValue) != ERROR_SUCCESS)
        hr = E_FAIL;
    for (const auto &[name, value] : node.values) {
        if (SUCCEEDED(hr) && SetValue(key, name.c_str(), value) != ERROR_SUCCESS)
            hr = E_FAIL;
    }
    for (const KeyNode &child : node.children) {
        if (SUCCEEDED(hr))
            hr = RegisterKey(key, child);
    }
    RegCloseKey(key);
    return hr;
}

// Unregistering removes what it can and goes on; a refusal (a user removing
// what is registered for the whole machine) is reported at the end.
HRESULT Refused(LONG rc) {
    return rc == ERROR_ACCESS_DENIED ? E_ACCESSDENIED : S_OK;
}

HRESULT UnregisterKey(HKEY parent, const KeyNode &node) {
    if (node.flag == KeyNode::ForceRemove || node.flag == KeyNode::Delete)
        return Refused(RegDeleteTreeA(parent, node.name.c_str()));
    HKEY key = nullptr;
    if (RegOpenKeyExA(parent, node.name.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return S_OK;
    HRESULT hr = S_OK;
    for (const auto &entry : node.values) {
        if (FAILED(Refused(RegDeleteValueA(key, entry.first.c_str()))))
            hr = E_ACCESSDENIED;
    }
    for (const KeyNode &child : node.children) {
        if (FAILED(UnregisterKey(key, child)))
            hr = E_ACCESSDENIED;
    }
    RegCloseKey(key);
    // The key itself goes once nothing is left inside it.
    if (node.flag != KeyNode::NoRemove)
        RegDeleteKeyA(parent, node.name.c_str());
    return hr;
}

} // namespace
} // namespace platform

using namespace platform;

extern "C" HRESULT WINAPI RegistrarRunScript(LPCSTR script, BOOL bRegister,
                                             const REGMAP_ENTRY *map) {
    if (!script)
        return E_INVALIDARG;
    bool ok = true;
    std::string text = Substitute(script, map, ok);
    std::vector<std::pair<HKEY, KeyNode>> roots;
    Parser parser(text);
    if (!ok || !parser.Parse(roots))
        return DISP_E_EXCEPTION;
    HRESULT hr = S_OK;
    for (const auto &[root, node] : roots) {
        for (const KeyNode &child : node.children) {
            if (bRegister) {
                if (SUCCEEDED(hr))
                    hr = RegisterKey(root, child);
            } else if (FAILED(UnregisterKey(root, child))) {
                hr = E_ACCESSDENIED;
            }
        }
    }
    return hr;
}

extern "C" HRESULT WINAPI RegistrarRunResource(HINSTANCE module, UINT id, BOOL bRegister,
                                               const REGMAP_ENTRY *map) {
    HRSRC info = FindResourceA(module, MAKEINTRESOURCEA(id), "REGISTRY");
    if (!info)
        return HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND);
    const char *data = static_cast<const char *>(LockResource(LoadResource(module, info)));
    if (!data)
        return E_FAIL;
    // Scripts are kept as UTF-8 and run in the ANSI code page.
    std::string script = Utf8ToAnsi(std::string(data, SizeofResource(module, info)));
    return RegistrarRunScript(script.c_str(), bRegister, map);
}
