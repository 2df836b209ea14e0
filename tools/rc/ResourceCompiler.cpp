// quillbay-rc: compiles a resource list into a C++ source that carries the
// resources in a module.
//
//   quillbay-rc input.rc output.cpp [-d depfile] [-I dir]...
//
// The list holds, one per line (text after '#' or "//" is a comment):
//
//   STRINGTABLE
//   BEGIN
//       100 "text"
//   END
//   <name> <type> "file"
//
// A name or type is a number or a word (kept upper-case, as names are looked
// up ignoring case). The types BITMAP, ICON, RCDATA and HTML stand for their
// numbers, unless written in double quotes, which makes them names. A BITMAP file is stored without
// its 14-byte file header, as bitmap resources are. Files are found relative to the list's
// directory, then in each -I directory.
//
// The resources go into the module as one image (kernel/ResourceFormat.h) in
// a section of its own, so a module's file can be read for them as data,
// without loading the module.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "ToolOptions.h"
#include "kernel/ResourceFormat.h"

namespace {

struct Resource {
    std::string type; // word, or empty when typeId is used
    int typeId = 0;
    std::string name; // word, or empty when nameId is used
    int nameId = 0;
    std::string file;
    std::string data;
};

struct StringEntry {
    unsigned id;
    std::string text;
};

[[noreturn]] void Fail(const std::string &where, const std::string &message) {
    std::cerr << where << ": error: " << message << "\n";
    std::exit(1);
}

bool IsNumber(const std::string &word) {
    if (word.empty())
        return false;
    for (char c : word) {
        if (!isdigit(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

std::string Upper(std::string word) {
    for (char &c : word)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return word;
}

// Splits a line into words and quoted strings (quotes removed, escapes read).
std::vector<std::string> Tokens(const std::string &line, const std::string &where) {
    std::vector<std::string> tokens;
    size_t i = 0;
    while (i < line.size()) {
        if (isspace(static_cast<unsigned char>(line[i]))) {
            ++i;
        } else if (line[i] == '#' || line.compare(i, 2, "//") == 0) {
            break;
        } else if (line[i] == '"') {
            std::string text;
            ++i;
            while (i < line.size() && line[i] != '"') {
                char c = line[i++];
                if (c == '\\' && i < line.size()) {
                    char e = line[i++];
                    c = e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e;
                }
                text += c;
            }
            if (i >= line.size())
                Fail(where, "unterminated string");
            ++i;
            tokens.push_back("\"" + text);
        } else {
            size_t start = i;
            while (i < line.size() && !isspace(static_cast<unsigned char>(line[i])))
                ++i;
            tokens.push_back(line.substr(start, i - start));
        }
    }
    return tokens;
}

std::string ReadFile(const std::string &path, const std::string &where) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        Fail(where, "cannot read " + path);
    std::ostringstream data;
    data << in.rdbuf();
    return data.str();
}

int TypeNumber(const std::string &type) {
    if (type == "BITMAP")
        return 2;
    if (type == "ICON")
        return 3;
    if (type == "RCDATA")
        return 10;
    if (type == "HTML")
        return 23;
    return 0;
}

// Builds the resource image (kernel/ResourceFormat.h): header, entry and
// string records, the names and texts, then each resource's data aligned.
class ImageBuilder {
public:
    std::string Build(const std::vector<Resource> &resources,
                      const std::vector<StringEntry> &strings) {
        using namespace resource_format;
        const size_t records =
            kHeaderSize + resources.size() * kEntrySize + strings.size() * kStringSize;
        m_image.assign(records, '\0');
        std::vector<uint32_t> words{kMagic,
                                    kVersion,
                                    0,
                                    static_cast<uint32_t>(resources.size()),
                                    static_cast<uint32_t>(strings.size()),
                                    0,
                                    0,
                                    0};
        size_t at = kHeaderSize;
        for (const Resource &res : resources) {
            for (uint32_t word : {static_cast<uint32_t>(res.typeId), Text(res.type),
                                  static_cast<uint32_t>(res.nameId), Text(res.name), 0u,
                                  static_cast<uint32_t>(res.data.size())})
                Put(at, word), at += 4;
        }
        for (const StringEntry &entry : strings) {
            Put(at, entry.id);
            Put(at + 4, Text(entry.text, true));
            at += kStringSize;
        }
        at = kHeaderSize;
        for (const Resource &res : resources) {
            Align();
            Put(at + 4 * kEData, static_cast<uint32_t>(m_image.size()));
            m_image += res.data;
            at += kEntrySize;
        }
        Align();
        words[kHImageSize] = static_cast<uint32_t>(m_image.size());
        for (size_t i = 0; i < words.size(); ++i)
            Put(4 * i, words[i]);
        return m_image;
    }

private:
    // Appends a text with its terminator and answers its offset; an empty
    // name is a number (offset 0) unless the text is a string's.
    uint32_t Text(const std::string &text, bool always = false) {
        if (text.empty() && !always)
            return 0;
        const auto offset = static_cast<uint32_t>(m_image.size());
        m_image += text;
        m_image += '\0';
        return offset;
    }
    void Put(size_t at, uint32_t word) {
        for (int i = 0; i < 4; ++i)
            m_image[at + i] = static_cast<char>(word >> (8 * i));
    }
    void Align() {
        while (m_image.size() % resource_format::kDataAlignment)
            m_image += '\0';
    }

    std::string m_image;
};

void WriteSource(const std::string &path, const std::vector<Resource> &resources,
                 const std::vector<StringEntry> &strings) {
    const std::string image = ImageBuilder().Build(resources, strings);
    if (image.size() > UINT32_MAX)
        Fail(path, "the resources are larger than 4 GB");
    std::ofstream out(path, std::ios::binary);
    out << "// Generated by quillbay-rc. Do not edit.\n"
           "#include \"kernel/ResourceTable.h\"\n\nnamespace {\n\n"
           "// The module's resources as one image in a section of its own, where\n"
           "// the kernel also finds them in the module's file.\n"
           "alignas("
        << resource_format::kDataAlignment << ") __attribute__((used, section(\""
        << resource_format::kResourceSection << "\"))) const unsigned char kImage[] = {";
    for (size_t i = 0; i < image.size(); ++i) {
        if (i % 20 == 0)
            out << "\n    ";
        out << static_cast<unsigned>(static_cast<unsigned char>(image[i])) << ",";
    }
    out << "\n};\n\n"
           "// Hands the image to the kernel while the module is loaded.\n"
           "struct Registrar {\n"
           "    Registrar() { RegisterResourceImage(kImage); }\n"
           "    ~Registrar() { UnregisterResourceImage(kImage); }\n"
           "} registrar;\n\n"
           "} // namespace\n";
    if (!out)
        Fail(path, "cannot write");
}

const tool_options::ToolInfo kTool = {
    "quillbay-rc", "usage: quillbay-rc INPUT.rc OUTPUT.cpp [-d DEPFILE] [-I DIR]...\n",
    "Compiles a resource list (string tables, and files of any type named by\n"
    "number or name: bitmaps, pictures, registration scripts, type libraries)\n"
    "into a C++ source; linked into a module, its resources are found with\n"
    "FindResourceA and LoadStringA, and res:// addresses can name them.\n"
    "\n"
    "  -d DEPFILE  write the files read, as a make dependency file\n"
    "  -I DIR      look for files in DIR too (after the list's own folder)\n"
    "  --help      print this help\n"
    "  --version   print the version\n"};

} // namespace

bool Exists(const std::string &path) {
    return std::ifstream(path).good();
}

int main(int argc, char **argv) {
    if (tool_options::AnswersStandardOption(argc, argv, kTool))
        return 0;
    std::vector<std::string> positional, searchPath;
    std::string depfile;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-d" && i + 1 < argc)
            depfile = argv[++i];
        else if (arg == "-I" && i + 1 < argc)
            searchPath.push_back(std::string(argv[++i]) + "/");
        else
            positional.push_back(arg);
    }
    if (positional.size() != 2)
        return tool_options::Usage(kTool);
    const std::string input = positional[0];
    const std::string base = input.substr(0, input.find_last_of('/') + 1);
    searchPath.insert(searchPath.begin(), base);
    std::ifstream in(input);
    if (!in)
        Fail(input, "cannot open");

    std::vector<Resource> resources;
    std::vector<StringEntry> strings;
    bool inTable = false, expectBegin = false;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string where = input + ":" + std::to_string(number);
        std::vector<std::string> tokens = Tokens(line, where);
        if (tokens.empty())
            continue;
        std::string first = Upper(tokens[0]);
        if (expectBegin) {
            if (first != "BEGIN" && first != "{")
                Fail(where, "BEGIN expected");
            expectBegin = false;
            inTable = true;
        } else if (inTable) {
            if (first == "END" || first == "}") {
                inTable = false;
            } else if (tokens.size() == 2 && IsNumber(tokens[0]) && tokens[1][0] == '"') {
                strings.push_back(
                    {static_cast<unsigned>(std::stoul(tokens[0])), tokens[1].substr(1)});
            } else {
                Fail(where, "string entry expected: <number> \"text\"");
            }
        } else if (first == "STRINGTABLE") {
            expectBegin = true;
        } else if (tokens.size() == 3) {
            Resource res;
            if (IsNumber(tokens[0]))
                res.nameId = std::stoi(tokens[0]);
            else
                res.name = Upper(tokens[0]);
            const bool quotedType = tokens[1][0] == '"';
            std::string type = Upper(quotedType ? tokens[1].substr(1) : tokens[1]);
            if (!quotedType && IsNumber(type))
                res.typeId = std::stoi(type);
            else if (quotedType || (res.typeId = TypeNumber(type)) == 0)
                res.type = type;
            if (tokens[0][0] == '"')
                res.name = Upper(tokens[0].substr(1)), res.nameId = 0;
            if (tokens[2][0] != '"')
                Fail(where, "the file name must be quoted");
            tokens[2] = tokens[2].substr(1);
            res.file = tokens[2];
            if (tokens[2][0] != '/') {
                res.file = base + tokens[2];
                for (const std::string &dir : searchPath) {
                    if (Exists(dir + tokens[2])) {
                        res.file = dir + tokens[2];
                        break;
                    }
                }
            }
            res.data = ReadFile(res.file, where);
            if (res.typeId == 2) {
                if (res.data.size() < 14 || res.data.compare(0, 2, "BM") != 0)
                    Fail(where, res.file + " is not a bitmap file");
                res.data.erase(0, 14);
            }
            resources.push_back(res);
        } else {
            Fail(where, "resource line expected: <name> <type> \"file\"");
        }
    }
    if (inTable || expectBegin)
        Fail(input, "STRINGTABLE without END");

    WriteSource(positional[1], resources, strings);
    if (!depfile.empty()) {
        std::ofstream dep(depfile);
        dep << positional[1] << ":";
        for (const Resource &res : resources)
            dep << " " << res.file;
        dep << "\n";
    }
    return 0;
}
