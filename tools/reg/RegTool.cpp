// quillbay-reg: looks at and edits the registry, as a registry editor would.
//
//   quillbay-reg query  KEY [NAME]         values and subkeys of KEY, or one value
//   quillbay-reg set    KEY NAME TYPE DATA sets a value (NAME @ is the default value)
//   quillbay-reg delete KEY [NAME]         deletes a value, or KEY with all its subkeys
//   quillbay-reg export KEY [FILE]         writes KEY and its subkeys in .reg form
//   quillbay-reg import FILE               sets the keys and values of a .reg file
//
// KEY starts with a root: HKEY_CLASSES_ROOT (HKCR), HKEY_CURRENT_USER (HKCU),
// HKEY_LOCAL_MACHINE (HKLM) or HKEY_USERS (HKU). TYPE is REG_SZ,
// REG_EXPAND_SZ, REG_MULTI_SZ (entries separated by "\0"), REG_DWORD
// (decimal or 0x hex) or REG_BINARY (hex bytes). Text is UTF-8 on the command
// line and on output.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

#include "ToolOptions.h"
#include "platform/kernel/TextConvert.h"
#include "platform/win32.h"

namespace {

struct Root {
    const char *longName;
    const char *shortName;
    HKEY key;
};

const Root kRoots[] = {
    {"HKEY_CLASSES_ROOT", "HKCR", HKEY_CLASSES_ROOT},
    {"HKEY_CURRENT_USER", "HKCU", HKEY_CURRENT_USER},
    {"HKEY_LOCAL_MACHINE", "HKLM", HKEY_LOCAL_MACHINE},
    {"HKEY_USERS", "HKU", HKEY_USERS},
};

const tool_options::ToolInfo kTool = {
    "quillbay-reg",
    "usage: quillbay-reg query KEY [NAME]\n"
    "       quillbay-reg set KEY NAME TYPE DATA\n"
    "       quillbay-reg delete KEY [NAME]\n"
    "       quillbay-reg export KEY [FILE]\n"
    "       quillbay-reg import FILE\n",
    "Looks at and edits the registry. KEY starts with a root: HKEY_CLASSES_ROOT\n"
    "(HKCR), HKEY_CURRENT_USER (HKCU), HKEY_LOCAL_MACHINE (HKLM) or HKEY_USERS\n"
    "(HKU). NAME @ is a key's default value. TYPE is REG_SZ, REG_EXPAND_SZ,\n"
    "REG_MULTI_SZ (entries separated by \\0), REG_DWORD or REG_BINARY.\n"
    "HKEY_LOCAL_MACHINE is written by root only; HKEY_CLASSES_ROOT shows the\n"
    "classes of the machine and of the user, the user's winning.\n"
    "\n"
    "  query     a key's values and subkeys, or one value\n"
    "  set       sets a value, making the key when missing\n"
    "  delete    deletes a value, or a key with all its subkeys\n"
    "  export    writes a key and its subkeys in .reg form\n"
    "  import    sets the keys and values of a .reg file (as export writes them)\n"
    "  --help    print this help\n"
    "  --version print the version\n"};

const char *Reason(LONG code) {
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
        return "not found";
    case ERROR_ACCESS_DENIED:
        return "access denied";
    case ERROR_KEY_DELETED:
        return "the key was deleted";
    default:
        return "failed";
    }
}

int Fail(const std::string &what, LONG code) {
    fprintf(stderr, "quillbay-reg: %s: %s (error %d)\n", what.c_str(), Reason(code),
            static_cast<int>(code));
    return 1;
}

// Splits "ROOT\sub\key" into a root handle, the root's long name and the
// subkey in the ANSI code page.
bool ParseKey(const std::string &text, HKEY &root, std::string &rootName, std::string &subkey) {
    std::string path = text;
    for (char &c : path) {
        if (c == '/')
            c = '\\';
    }
    size_t slash = path.find('\\');
    std::string head = path.substr(0, slash);
    for (const Root &r : kRoots) {
        if (strcasecmp(head.c_str(), r.longName) == 0 ||
            strcasecmp(head.c_str(), r.shortName) == 0) {
            root = r.key;
            rootName = r.longName;
            subkey = slash == std::string::npos ? "" : platform::Utf8ToAnsi(path.substr(slash + 1));
            return true;
        }
    }
    return false;
}

const char *TypeName(DWORD type) {
    switch (type) {
    case REG_SZ:
        return "REG_SZ";
    case REG_EXPAND_SZ:
        return "REG_EXPAND_SZ";
    case REG_BINARY:
        return "REG_BINARY";
    case REG_DWORD:
        return "REG_DWORD";
    case REG_MULTI_SZ:
        return "REG_MULTI_SZ";
    case REG_QWORD:
        return "REG_QWORD";
    default:
        return "REG_NONE";
    }
}

std::string Hex(const std::string &bytes, const char *separator) {
    std::string out;
    char two[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        snprintf(two, sizeof two, "%02x", static_cast<unsigned char>(bytes[i]));
        if (i)
            out += separator;
        out += two;
    }
    return out;
}

std::string ToUtf8(const std::string &ansi) {
    return platform::ConvertText(CP_ACP, CP_UTF8, ansi.data(), ansi.size());
}

// A value's data as the query command shows it.
std::string Show(DWORD type, const std::string &data) {
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        std::string text = data.substr(0, data.find('\0'));
        return ToUtf8(text);
    }
    if (type == REG_MULTI_SZ) {
        std::string out;
        size_t start = 0;
        while (start < data.size() && data[start]) {
            size_t end = data.find('\0', start);
            if (end == std::string::npos)
                end = data.size();
            if (!out.empty())
                out += "\\0";
            out += ToUtf8(data.substr(start, end - start));
            start = end + 1;
        }
        return out;
    }
    if (type == REG_DWORD && data.size() == 4) {
        DWORD v = 0;
        memcpy(&v, data.data(), 4);
        char text[32];
        snprintf(text, sizeof text, "0x%x (%u)", v, v);
        return text;
    }
    return Hex(data, "");
}

struct Value {
    std::string name;
    DWORD type;
    std::string data;
};

std::vector<Value> Values(HKEY key) {
    std::vector<Value> values;
    for (DWORD i = 0;; ++i) {
        char name[16384];
        DWORD nameLength = sizeof name;
        DWORD type = 0, size = 0;
        if (RegEnumValueA(key, i, name, &nameLength, nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS)
            break;
        std::string data(size + 1, '\0');
        nameLength = sizeof name;
        DWORD got = size + 1;
        RegEnumValueA(key, i, name, &nameLength, nullptr, &type,
                      reinterpret_cast<LPBYTE>(data.data()), &got);
        data.resize(got);
        values.push_back(Value{name, type, data});
    }
    return values;
}

std::vector<std::string> Subkeys(HKEY key) {
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
        char name[16384];
        DWORD length = sizeof name;
        if (RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        names.push_back(name);
    }
    return names;
}

int Query(HKEY root, const std::string &rootName, const std::string &subkey, const char *name) {
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExA(root, subkey.c_str(), 0, KEY_READ, &key);
    if (rc != ERROR_SUCCESS)
        return Fail("cannot open the key", rc);
    std::string fullName = rootName + (subkey.empty() ? "" : "\\" + ToUtf8(subkey));
    int status = 0;
    if (name) {
        std::string ansiName = strcmp(name, "@") == 0 ? "" : platform::Utf8ToAnsi(name);
        DWORD type = 0, size = 0;
        rc = RegQueryValueExA(key, ansiName.c_str(), nullptr, &type, nullptr, &size);
        if (rc != ERROR_SUCCESS) {
            status = Fail("cannot read the value", rc);
        } else {
            std::string data(size + 1, '\0');
            DWORD got = size + 1;
            RegQueryValueExA(key, ansiName.c_str(), nullptr, &type,
                             reinterpret_cast<LPBYTE>(data.data()), &got);
            data.resize(got);
            printf("%s\n", Show(type, data).c_str());
        }
    } else {
        printf("%s\n", fullName.c_str());
        for (const Value &v : Values(key))
            printf("    %s    %s    %s\n", v.name.empty() ? "(Default)" : ToUtf8(v.name).c_str(),
                   TypeName(v.type), Show(v.type, v.data).c_str());
        for (const std::string &s : Subkeys(key))
            printf("%s\\%s\n", fullName.c_str(), ToUtf8(s).c_str());
    }
    RegCloseKey(key);
    return status;
}

bool EncodeData(const std::string &type, const std::string &text, DWORD &regType,
                std::string &data) {
    if (type == "REG_SZ" || type == "REG_EXPAND_SZ") {
        regType = type == "REG_SZ" ? REG_SZ : REG_EXPAND_SZ;
        data = platform::Utf8ToAnsi(text);
        data.push_back('\0');
        return true;
    }
    if (type == "REG_MULTI_SZ") {
        regType = REG_MULTI_SZ;
        std::string rest = text;
        size_t at;
        while ((at = rest.find("\\0")) != std::string::npos) {
            data += platform::Utf8ToAnsi(rest.substr(0, at)) + '\0';
            rest = rest.substr(at + 2);
        }
        data += platform::Utf8ToAnsi(rest) + '\0' + '\0';
        return true;
    }
    if (type == "REG_DWORD") {
        regType = REG_DWORD;
        char *end = nullptr;
        unsigned long v = strtoul(text.c_str(), &end, 0);
        if (text.empty() || *end)
            return false;
        DWORD value = static_cast<DWORD>(v);
        data.assign(reinterpret_cast<const char *>(&value), 4);
        return true;
    }
    if (type == "REG_BINARY") {
        regType = REG_BINARY;
        std::string digits;
        for (char c : text) {
            if (isxdigit(static_cast<unsigned char>(c)))
                digits += c;
        }
        if (digits.size() % 2)
            return false;
        for (size_t i = 0; i < digits.size(); i += 2)
            data.push_back(static_cast<char>(strtoul(digits.substr(i, 2).c_str(), nullptr, 16)));
        return true;
    }
    return false;
}

int Set(HKEY root, const std::string &subkey, const char *name, const char *type,
        const char *text) {
    DWORD regType = 0;
    std::string data;
    if (!EncodeData(type, text, regType, data)) {
        fprintf(stderr, "quillbay-reg: bad type or data\n");
        return 2;
    }
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExA(root, subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr);
    if (rc != ERROR_SUCCESS)
        return Fail("cannot create the key", rc);
    std::string ansiName = strcmp(name, "@") == 0 ? "" : platform::Utf8ToAnsi(name);
    rc = RegSetValueExA(key, ansiName.c_str(), 0, regType,
                        reinterpret_cast<const BYTE *>(data.data()),
                        static_cast<DWORD>(data.size()));
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? 0 : Fail("cannot set the value", rc);
}

int Delete(HKEY root, const std::string &subkey, const char *name) {
    if (name) {
        HKEY key = nullptr;
        LONG rc = RegOpenKeyExA(root, subkey.c_str(), 0, KEY_ALL_ACCESS, &key);
        if (rc != ERROR_SUCCESS)
            return Fail("cannot open the key", rc);
        std::string ansiName = strcmp(name, "@") == 0 ? "" : platform::Utf8ToAnsi(name);
        rc = RegDeleteValueA(key, ansiName.c_str());
        RegCloseKey(key);
        return rc == ERROR_SUCCESS ? 0 : Fail("cannot delete the value", rc);
    }
    if (subkey.empty()) {
        fprintf(stderr, "quillbay-reg: a root key cannot be deleted\n");
        return 1;
    }
    LONG rc = RegDeleteTreeA(root, subkey.c_str());
    return rc == ERROR_SUCCESS ? 0 : Fail("cannot delete the key", rc);
}

std::string Escaped(const std::string &text) {
    std::string out;
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out;
}

void ExportKey(FILE *out, HKEY key, const std::string &fullName) {
    fprintf(out, "[%s]\n", fullName.c_str());
    for (const Value &v : Values(key)) {
        std::string name = v.name.empty() ? "@" : "\"" + Escaped(ToUtf8(v.name)) + "\"";
        if (v.type == REG_SZ) {
            fprintf(out, "%s=\"%s\"\n", name.c_str(), Escaped(Show(v.type, v.data)).c_str());
        } else if (v.type == REG_DWORD && v.data.size() == 4) {
            DWORD value = 0;
            memcpy(&value, v.data.data(), 4);
            fprintf(out, "%s=dword:%08x\n", name.c_str(), value);
        } else if (v.type == REG_BINARY) {
            fprintf(out, "%s=hex:%s\n", name.c_str(), Hex(v.data, ",").c_str());
        } else {
            fprintf(out, "%s=hex(%x):%s\n", name.c_str(), v.type, Hex(v.data, ",").c_str());
        }
    }
    fprintf(out, "\n");
    for (const std::string &sub : Subkeys(key)) {
        HKEY child = nullptr;
        if (RegOpenKeyExA(key, sub.c_str(), 0, KEY_READ, &child) == ERROR_SUCCESS) {
            ExportKey(out, child, fullName + "\\" + ToUtf8(sub));
            RegCloseKey(child);
        }
    }
}

int Export(HKEY root, const std::string &rootName, const std::string &subkey, const char *file) {
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExA(root, subkey.c_str(), 0, KEY_READ, &key);
    if (rc != ERROR_SUCCESS)
        return Fail("cannot open the key", rc);
    FILE *out = file ? fopen(file, "w") : stdout;
    if (!out) {
        RegCloseKey(key);
        fprintf(stderr, "quillbay-reg: cannot write %s\n", file);
        return 1;
    }
    fprintf(out, "REGEDIT4\n\n");
    ExportKey(out, key, rootName + (subkey.empty() ? "" : "\\" + ToUtf8(subkey)));
    if (file)
        fclose(out);
    RegCloseKey(key);
    return 0;
}

// The text of a quoted .reg string starting after its opening quote, up to
// its closing quote (escapes undone); end is left behind the closing quote.
std::string Unquoted(const std::string &line, size_t start, size_t &end) {
    std::string text;
    for (end = start; end < line.size() && line[end] != '"'; ++end) {
        if (line[end] == '\\' && end + 1 < line.size())
            ++end;
        text += line[end];
    }
    ++end;
    return text;
}

// A value line's data ("text", dword:, hex:, hex(type):) in the registry's
// form; false when it is none of them.
bool ImportedData(const std::string &text, DWORD &type, std::string &data) {
    if (!text.empty() && text[0] == '"') {
        size_t end = 0;
        return EncodeData("REG_SZ", Unquoted(text, 1, end), type, data);
    }
    if (text.rfind("dword:", 0) == 0)
        return EncodeData("REG_DWORD", "0x" + text.substr(6), type, data);
    const size_t colon = text.find(':');
    if (text.rfind("hex", 0) != 0 || colon == std::string::npos)
        return false;
    if (!EncodeData("REG_BINARY", text.substr(colon + 1), type, data))
        return false;
    if (text[3] == '(')
        type = static_cast<DWORD>(strtoul(text.c_str() + 4, nullptr, 16));
    return true;
}

// Sets one "name"=data (or @=data) line on the key; false when it is not one.
bool ImportValue(HKEY key, const std::string &line) {
    std::string name;
    size_t equals = 1;
    if (line[0] == '"')
        name = Unquoted(line, 1, equals);
    else if (line[0] != '@')
        return false;
    DWORD type = 0;
    std::string data;
    if (equals >= line.size() || line[equals] != '=' ||
        !ImportedData(line.substr(equals + 1), type, data))
        return false;
    const std::string ansiName = platform::Utf8ToAnsi(name);
    return RegSetValueExA(key, ansiName.c_str(), 0, type,
                          reinterpret_cast<const BYTE *>(data.data()),
                          static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
}

int Import(const char *file) {
    FILE *in = fopen(file, "r");
    if (!in) {
        fprintf(stderr, "quillbay-reg: cannot read %s\n", file);
        return 1;
    }
    HKEY key = nullptr;
    int status = 0, number = 0;
    char buffer[16384];
    while (fgets(buffer, sizeof buffer, in)) {
        std::string line(buffer);
        ++number;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        if (line.empty() || line == "REGEDIT4" || line[0] == ';')
            continue;
        if (line[0] == '[' && line.back() == ']') {
            if (key)
                RegCloseKey(key);
            key = nullptr;
            HKEY root = nullptr;
            std::string rootName, subkey;
            if (ParseKey(line.substr(1, line.size() - 2), root, rootName, subkey))
                RegCreateKeyExA(root, subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                nullptr);
            if (!key) {
                fprintf(stderr, "quillbay-reg: line %d: cannot create %s\n", number, line.c_str());
                status = 1;
            }
        } else if (!key || !ImportValue(key, line)) {
            fprintf(stderr, "quillbay-reg: line %d: cannot set %s\n", number, line.c_str());
            status = 1;
        }
    }
    if (key)
        RegCloseKey(key);
    fclose(in);
    return status;
}

} // namespace

int main(int argc, char **argv) {
    if (tool_options::AnswersStandardOption(argc, argv, kTool))
        return 0;
    if (argc < 3)
        return tool_options::Usage(kTool);
    std::string command = argv[1];
    if (command == "import")
        return argc == 3 ? Import(argv[2]) : tool_options::Usage(kTool);
    HKEY root = nullptr;
    std::string rootName, subkey;
    if (!ParseKey(argv[2], root, rootName, subkey)) {
        fprintf(stderr, "quillbay-reg: unknown root in %s\n", argv[2]);
        return 2;
    }
    if (command == "query" && argc <= 4)
        return Query(root, rootName, subkey, argc == 4 ? argv[3] : nullptr);
    if (command == "set" && argc == 6)
        return Set(root, subkey, argv[3], argv[4], argv[5]);
    if (command == "delete" && argc <= 4)
        return Delete(root, subkey, argc == 4 ? argv[3] : nullptr);
    if (command == "export" && argc <= 4)
        return Export(root, rootName, subkey, argc == 4 ? argv[3] : nullptr);
    return tool_options::Usage(kTool);
}
