// quillbay-midl: compiles an interface definition into a type library and a
// C++ header, so the IDL is the one source of the interfaces.
//
//   quillbay-midl input.idl output.tlb output.h
//   quillbay-midl --typescript input.idl output.d.ts
//
// The second form writes the interfaces as TypeScript declarations, as page
// scripts see them (the bridge's client serves them to page authors).
//
// It reads the part of the interface definition language that automation
// servers use: imports, attribute lists, interfaces deriving from IDispatch
// or IUnknown with [id(n), helpstring(...)] methods and [in], [out] and
// [retval] parameters, and a library with coclasses.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ToolOptions.h"
#include "com/TypeLibFormat.h"

using platform::typelib::Function;
using platform::typelib::Implemented;
using platform::typelib::Library;
using platform::typelib::Param;
using platform::typelib::Type;

namespace {

// Values of the platform's type system used below.
constexpr uint16_t kVtI2 = 2, kVtI4 = 3, kVtR4 = 4, kVtR8 = 5, kVtDate = 7, kVtBstr = 8,
                   kVtDispatch = 9, kVtBool = 11, kVtVariant = 12, kVtUnknown = 13, kVtUi1 = 17,
                   kVtInt = 22, kVtHresult = 25;
constexpr uint8_t kTkindDispatch = 4, kTkindInterface = 3, kTkindCoclass = 5;
constexpr uint16_t kTypeflagCanCreate = 0x02, kTypeflagDual = 0x40, kTypeflagOleAutomation = 0x100,
                   kTypeflagDispatchable = 0x1000;
constexpr uint16_t kParamIn = 0x01, kParamOut = 0x02, kParamRetval = 0x08;

struct Attribute {
    std::string name;
    std::string argument; // the raw text inside the parentheses, if any
};
using Attributes = std::vector<Attribute>;

[[noreturn]] void Fail(const std::string &message) {
    std::cerr << "quillbay-midl: error: " << message << "\n";
    std::exit(1);
}

class Scanner {
public:
    explicit Scanner(std::string text) : m_text(std::move(text)) {}

    // The next token: a word, a quoted string (with its quotes), or one
    // punctuation character. Empty at the end.
    std::string Next() {
        SkipSpaceAndComments();
        if (m_at >= m_text.size())
            return "";
        char c = m_text[m_at];
        if (isalnum(static_cast<unsigned char>(c)) || c == '_') {
            size_t start = m_at;
            while (m_at < m_text.size() &&
                   (isalnum(static_cast<unsigned char>(m_text[m_at])) || m_text[m_at] == '_'))
                ++m_at;
            return m_text.substr(start, m_at - start);
        }
        if (c == '"') {
            size_t start = m_at++;
            while (m_at < m_text.size() && m_text[m_at] != '"')
                m_at += m_text[m_at] == '\\' ? 2 : 1;
            ++m_at;
            return m_text.substr(start, m_at - start);
        }
        ++m_at;
        return std::string(1, c);
    }

    std::string Peek() {
        size_t saved = m_at;
        std::string token = Next();
        m_at = saved;
        return token;
    }

    void Expect(const std::string &token) {
        std::string got = Next();
        if (got != token)
            Fail("expected '" + token + "' but found '" + got + "' at line " +
                 std::to_string(Line()));
    }

    // The raw text up to the parenthesis that closes the one just read.
    std::string RawUntilClose() {
        int depth = 1;
        size_t start = m_at;
        while (m_at < m_text.size() && depth > 0) {
            if (m_text[m_at] == '(')
                ++depth;
            else if (m_text[m_at] == ')')
                --depth;
            ++m_at;
        }
        return m_text.substr(start, m_at - start - 1);
    }

    int Line() const {
        int line = 1;
        for (size_t i = 0; i < m_at && i < m_text.size(); ++i)
            line += m_text[i] == '\n';
        return line;
    }

private:
    void SkipSpaceAndComments() {
        for (;;) {
            while (m_at < m_text.size() && isspace(static_cast<unsigned char>(m_text[m_at])))
                ++m_at;
            if (m_text.compare(m_at, 2, "//") == 0) {
                while (m_at < m_text.size() && m_text[m_at] != '\n')
                    ++m_at;
            } else if (m_text.compare(m_at, 2, "/*") == 0) {
                size_t end = m_text.find("*/", m_at + 2);
                m_at = end == std::string::npos ? m_text.size() : end + 2;
            } else {
                return;
            }
        }
    }

    std::string m_text;
    size_t m_at = 0;
};

std::string Unquote(const std::string &text) {
    std::string trimmed = text;
    while (!trimmed.empty() && isspace(static_cast<unsigned char>(trimmed.front())))
        trimmed.erase(trimmed.begin());
    while (!trimmed.empty() && isspace(static_cast<unsigned char>(trimmed.back())))
        trimmed.pop_back();
    if (trimmed.size() >= 2 && trimmed.front() == '"' && trimmed.back() == '"')
        return trimmed.substr(1, trimmed.size() - 2);
    return trimmed;
}

Attributes ReadAttributes(Scanner &in) {
    Attributes attributes;
    if (in.Peek() != "[")
        return attributes;
    in.Next();
    for (;;) {
        std::string name = in.Next();
        if (name == "]")
            break;
        if (name == ",")
            continue;
        if (name.empty())
            Fail("unterminated attribute list");
        Attribute attribute{name, ""};
        if (in.Peek() == "(") {
            in.Next();
            attribute.argument = in.RawUntilClose();
        }
        attributes.push_back(attribute);
    }
    return attributes;
}

const Attribute *Find(const Attributes &attributes, const std::string &name) {
    for (const Attribute &a : attributes) {
        if (a.name == name)
            return &a;
    }
    return nullptr;
}

void ParseGuid(const std::string &text, uint8_t (&out)[16]) {
    std::string hex;
    for (char c : Unquote(text)) {
        if (isxdigit(static_cast<unsigned char>(c)))
            hex += c;
    }
    if (hex.size() != 32)
        Fail("bad uuid " + text);
    auto field = [&](size_t at, size_t digits) {
        return strtoull(hex.substr(at, digits).c_str(), nullptr, 16);
    };
    uint32_t data1 = static_cast<uint32_t>(field(0, 8));
    uint16_t data2 = static_cast<uint16_t>(field(8, 4));
    uint16_t data3 = static_cast<uint16_t>(field(12, 4));
    memcpy(out, &data1, 4);
    memcpy(out + 4, &data2, 2);
    memcpy(out + 6, &data3, 2);
    for (int i = 0; i < 8; ++i)
        out[8 + i] = static_cast<uint8_t>(field(16 + 2 * static_cast<size_t>(i), 2));
}

struct CType {
    std::string spelling;
    uint16_t vt;
};

// The type at the scanner: a base type and any number of '*'.
uint16_t ReadType(Scanner &in, std::string &spelling, int &pointers) {
    static const std::map<std::string, uint16_t> kTypes = {
        {"int", kVtInt},           {"long", kVtI4},
        {"short", kVtI2},          {"double", kVtR8},
        {"float", kVtR4},          {"BSTR", kVtBstr},
        {"VARIANT_BOOL", kVtBool}, {"DATE", kVtDate},
        {"VARIANT", kVtVariant},   {"IDispatch", kVtDispatch},
        {"IUnknown", kVtUnknown},  {"BYTE", kVtUi1},
        {"HRESULT", kVtHresult},
    };
    spelling = in.Next();
    auto it = kTypes.find(spelling);
    if (it == kTypes.end())
        Fail("unknown type " + spelling + " at line " + std::to_string(in.Line()));
    pointers = 0;
    while (in.Peek() == "*") {
        in.Next();
        ++pointers;
    }
    uint16_t vt = it->second;
    // Interface pointers are one pointer level by themselves.
    if (vt == kVtDispatch || vt == kVtUnknown) {
        spelling += "*";
        --pointers;
    }
    return vt;
}

Function ReadMethod(Scanner &in, const Attributes &attributes) {
    Function fn;
    const Attribute *id = Find(attributes, "id");
    if (!id)
        Fail("method without id at line " + std::to_string(in.Line()));
    fn.memid = static_cast<int32_t>(strtol(Unquote(id->argument).c_str(), nullptr, 0));
    if (const Attribute *help = Find(attributes, "helpstring"))
        fn.help = Unquote(help->argument);
    if (Find(attributes, "propget"))
        fn.invkind = 2;
    else if (Find(attributes, "propput"))
        fn.invkind = 4;
    std::string spelling;
    int pointers = 0;
    fn.retvt = ReadType(in, spelling, pointers);
    fn.name = in.Next();
    in.Expect("(");
    if (in.Peek() == "void") {
        in.Next();
    }
    while (in.Peek() != ")") {
        Attributes paramAttributes = ReadAttributes(in);
        Param param;
        param.vt = ReadType(in, spelling, pointers);
        param.pointer = pointers > 0;
        param.name = in.Next();
        if (Find(paramAttributes, "in"))
            param.flags |= kParamIn;
        if (Find(paramAttributes, "out"))
            param.flags |= kParamOut;
        if (Find(paramAttributes, "retval"))
            param.flags |= kParamRetval;
        if (param.flags == 0)
            param.flags = kParamIn;
        fn.params.push_back(param);
        if (in.Peek() == ",")
            in.Next();
    }
    in.Expect(")");
    in.Expect(";");
    return fn;
}

Type ReadInterface(Scanner &in, const Attributes &attributes) {
    Type type;
    type.name = in.Next();
    const Attribute *uuid = Find(attributes, "uuid");
    if (!uuid)
        Fail("interface " + type.name + " without uuid");
    ParseGuid(uuid->argument, type.guid);
    if (const Attribute *help = Find(attributes, "helpstring"))
        type.help = Unquote(help->argument);
    in.Expect(":");
    type.base = in.Next();
    const bool dual = Find(attributes, "dual") != nullptr;
    type.kind = dual ? kTkindDispatch : kTkindInterface;
    type.flags = dual ? kTypeflagDual | kTypeflagDispatchable | kTypeflagOleAutomation
                      : (Find(attributes, "oleautomation") ? kTypeflagOleAutomation : 0);
    in.Expect("{");
    while (in.Peek() != "}") {
        Attributes methodAttributes = ReadAttributes(in);
        type.functions.push_back(ReadMethod(in, methodAttributes));
    }
    in.Expect("}");
    if (in.Peek() == ";")
        in.Next();
    return type;
}

Type ReadCoclass(Scanner &in, const Attributes &attributes) {
    Type type;
    type.kind = kTkindCoclass;
    type.flags = kTypeflagCanCreate;
    type.name = in.Next();
    const Attribute *uuid = Find(attributes, "uuid");
    if (!uuid)
        Fail("coclass " + type.name + " without uuid");
    ParseGuid(uuid->argument, type.guid);
    if (const Attribute *help = Find(attributes, "helpstring"))
        type.help = Unquote(help->argument);
    in.Expect("{");
    while (in.Peek() != "}") {
        Attributes implAttributes = ReadAttributes(in);
        std::string keyword = in.Next();
        if (keyword != "interface" && keyword != "dispinterface")
            Fail("interface expected in coclass " + type.name);
        Implemented impl;
        impl.name = in.Next();
        impl.flags = (Find(implAttributes, "default") ? 1u : 0u) |
                     (Find(implAttributes, "source") ? 2u : 0u);
        type.implemented.push_back(impl);
        in.Expect(";");
    }
    in.Expect("}");
    if (in.Peek() == ";")
        in.Next();
    return type;
}

void SkipStatement(Scanner &in) {
    while (in.Next() != ";") {
    }
}

Library Compile(Scanner &in, std::vector<Type> &interfaces) {
    Library lib;
    bool haveLibrary = false;
    for (;;) {
        std::string peek = in.Peek();
        if (peek.empty())
            break;
        if (peek == "import" || peek == "importlib" || peek == "cpp_quote") {
            SkipStatement(in);
            continue;
        }
        Attributes attributes = ReadAttributes(in);
        std::string keyword = in.Next();
        if (keyword == "interface") {
            interfaces.push_back(ReadInterface(in, attributes));
        } else if (keyword == "library") {
            haveLibrary = true;
            lib.name = in.Next();
            const Attribute *uuid = Find(attributes, "uuid");
            if (!uuid)
                Fail("library without uuid");
            ParseGuid(uuid->argument, lib.guid);
            if (const Attribute *help = Find(attributes, "helpstring"))
                lib.help = Unquote(help->argument);
            if (const Attribute *version = Find(attributes, "version")) {
                std::string v = Unquote(version->argument);
                lib.major = static_cast<uint16_t>(atoi(v.c_str()));
                size_t dot = v.find('.');
                lib.minor =
                    dot == std::string::npos ? 0 : static_cast<uint16_t>(atoi(v.c_str() + dot + 1));
            }
            if (const Attribute *lcid = Find(attributes, "lcid"))
                lib.lcid =
                    static_cast<uint32_t>(strtoul(Unquote(lcid->argument).c_str(), nullptr, 0));
            in.Expect("{");
            for (const Type &t : interfaces)
                lib.types.push_back(t);
            while (in.Peek() != "}") {
                if (in.Peek() == "importlib") {
                    SkipStatement(in);
                    continue;
                }
                Attributes inner = ReadAttributes(in);
                std::string kind = in.Next();
                if (kind == "coclass")
                    lib.types.push_back(ReadCoclass(in, inner));
                else if (kind == "interface")
                    lib.types.push_back(ReadInterface(in, inner));
                else
                    Fail("unexpected '" + kind + "' in library");
            }
            in.Expect("}");
            if (in.Peek() == ";")
                in.Next();
        } else {
            Fail("unexpected '" + keyword + "' at line " + std::to_string(in.Line()));
        }
    }
    if (!haveLibrary)
        Fail("no library block");
    return lib;
}

std::string GuidInitializer(const uint8_t (&g)[16]) {
    uint32_t d1;
    uint16_t d2, d3;
    memcpy(&d1, g, 4);
    memcpy(&d2, g + 4, 2);
    memcpy(&d3, g + 6, 2);
    char text[160];
    snprintf(text, sizeof text,
             "{0x%08X, 0x%04X, 0x%04X, {0x%02X, 0x%02X, 0x%02X, 0x%02X, 0x%02X, 0x%02X, 0x%02X, "
             "0x%02X}}",
             d1, d2, d3, g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
    return text;
}

std::string CppType(const Param &p) {
    std::string base;
    switch (p.vt) {
    case kVtInt:
        base = "int";
        break;
    case kVtI4:
        base = "LONG";
        break;
    case kVtI2:
        base = "SHORT";
        break;
    case kVtR8:
        base = "double";
        break;
    case kVtR4:
        base = "float";
        break;
    case kVtBstr:
        base = "BSTR";
        break;
    case kVtBool:
        base = "VARIANT_BOOL";
        break;
    case kVtDate:
        base = "DATE";
        break;
    case kVtVariant:
        base = "VARIANT";
        break;
    case kVtDispatch:
        base = "IDispatch *";
        break;
    case kVtUnknown:
        base = "IUnknown *";
        break;
    case kVtUi1:
        base = "BYTE";
        break;
    default:
        base = "void";
        break;
    }
    return base + (p.pointer ? " *" : " ");
}

void WriteHeader(const std::string &path, const std::string &source, const Library &lib) {
    std::ofstream out(path);
    out << "// Generated by quillbay-midl from " << source << ". Do not edit.\n"
        << "#pragma once\n\n#include \"platform/com/oaidl.h\"\n\n";
    out << "inline constexpr GUID LIBID_" << lib.name << " = " << GuidInitializer(lib.guid)
        << ";\n";
    for (const Type &t : lib.types) {
        const char *prefix = t.kind == kTkindCoclass ? "CLSID_" : "IID_";
        out << "inline constexpr GUID " << prefix << t.name << " = " << GuidInitializer(t.guid)
            << ";\n";
    }
    for (const Type &t : lib.types) {
        if (t.kind == kTkindCoclass)
            continue;
        out << "\n// " << t.help << "\nstruct " << t.name << " : public " << t.base << " {\n";
        for (const Function &f : t.functions) {
            out << "    // " << f.help << "\n    virtual HRESULT STDMETHODCALLTYPE " << f.name
                << "(";
            for (size_t i = 0; i < f.params.size(); ++i) {
                if (i)
                    out << ", ";
                out << CppType(f.params[i]) << f.params[i].name;
            }
            out << ") = 0;\n";
        }
        out << "};\n";
    }
    if (!out)
        Fail("cannot write " + path);
}

// A parameter's type as a script sees it.
const char *ScriptType(const Param &p) {
    switch (p.vt) {
    case kVtBstr:
        return "string";
    case kVtBool:
        return "boolean";
    case kVtVariant:
        return "any";
    case kVtDispatch:
    case kVtUnknown:
        return "object";
    default:
        return "number";
    }
}

void WriteTypeScript(const std::string &path, const std::string &source, const Library &lib) {
    std::ofstream out(path);
    out << "// Generated by quillbay-midl from " << source << ". Do not edit.\n"
        << "// The interfaces of " << lib.name << " as page scripts call them: [in]\n"
        << "// parameters in order, the [retval] parameter as the result.\n";
    for (const Type &t : lib.types) {
        if (t.kind == kTkindCoclass)
            continue;
        out << "\n/** " << t.help << " */\ninterface " << t.name << " {\n";
        for (const Function &f : t.functions) {
            std::string params, result = "void";
            for (const Param &p : f.params) {
                if (p.flags & kParamRetval)
                    result = ScriptType(p);
                else if (!(p.flags & kParamOut) || (p.flags & kParamIn))
                    params += (params.empty() ? "" : ", ") + p.name + ": " + ScriptType(p);
            }
            out << "    /** " << f.help << " */\n    " << f.name << "(" << params << "): " << result
                << ";\n";
        }
        out << "}\n";
    }
    if (!out)
        Fail("cannot write " + path);
}

Library CompileFile(const std::string &path) {
    std::ifstream in(path);
    if (!in)
        Fail("cannot open " + path);
    std::ostringstream text;
    text << in.rdbuf();
    Scanner scanner(text.str());
    std::vector<Type> interfaces;
    return Compile(scanner, interfaces);
}

std::string FileName(const std::string &path) {
    return path.substr(path.find_last_of('/') + 1);
}

const tool_options::ToolInfo kTool = {
    "quillbay-midl",
    "usage: quillbay-midl INPUT.idl OUTPUT.tlb OUTPUT.h\n"
    "       quillbay-midl --typescript INPUT.idl OUTPUT.d.ts\n",
    "Compiles an interface definition into a type library (to link into a module\n"
    "as its TYPELIB resource) and a C++ header declaring its interfaces, GUIDs\n"
    "and dispatch identifiers; or, with --typescript, into TypeScript\n"
    "declarations of its interfaces as page scripts call them.\n"
    "\n"
    "  --help      print this help\n"
    "  --version   print the version\n"};

} // namespace

int main(int argc, char **argv) {
    if (tool_options::AnswersStandardOption(argc, argv, kTool))
        return 0;
    if (argc == 4 && std::string(argv[1]) == "--typescript") {
        WriteTypeScript(argv[3], FileName(argv[2]), CompileFile(argv[2]));
        return 0;
    }
    if (argc != 4)
        return tool_options::Usage(kTool);
    Library lib = CompileFile(argv[1]);
    std::ofstream tlb(argv[2], std::ios::binary);
    tlb << platform::typelib::Serialize(lib);
    if (!tlb)
        Fail(std::string("cannot write ") + argv[2]);
    WriteHeader(argv[3], FileName(argv[1]), lib);
    return 0;
}
