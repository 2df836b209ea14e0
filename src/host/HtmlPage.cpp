#include "HtmlPage.h"

#include <cctype>
#include <fstream>
#include <map>
#include <sstream>
#include <strings.h>

namespace {

std::string Lower(std::string text) {
    for (char &c : text)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string DecodeEntities(const std::string &text) {
    static const std::map<std::string, std::string> kEntities = {
        {"&amp;", "&"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}, {"&apos;", "'"}};
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        bool replaced = false;
        if (text[i] == '&') {
            for (const auto &[entity, value] : kEntities) {
                if (text.compare(i, entity.size(), entity) == 0) {
                    out += value;
                    i += entity.size() - 1;
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced)
            out += text[i];
    }
    return out;
}

// The attributes of a start tag's text (without the angle brackets).
std::map<std::string, std::string> Attributes(const std::string &tag) {
    std::map<std::string, std::string> attributes;
    size_t i = 0;
    while (i < tag.size() && !isspace(static_cast<unsigned char>(tag[i])))
        ++i; // the tag name
    while (i < tag.size()) {
        while (i < tag.size() && (isspace(static_cast<unsigned char>(tag[i])) || tag[i] == '/'))
            ++i;
        size_t start = i;
        while (i < tag.size() && tag[i] != '=' && !isspace(static_cast<unsigned char>(tag[i])))
            ++i;
        std::string name = Lower(tag.substr(start, i - start));
        while (i < tag.size() && isspace(static_cast<unsigned char>(tag[i])))
            ++i;
        std::string value;
        if (i < tag.size() && tag[i] == '=') {
            ++i;
            while (i < tag.size() && isspace(static_cast<unsigned char>(tag[i])))
                ++i;
            if (i < tag.size() && (tag[i] == '"' || tag[i] == '\'')) {
                char quote = tag[i++];
                size_t end = tag.find(quote, i);
                if (end == std::string::npos)
                    end = tag.size();
                value = tag.substr(i, end - i);
                i = end + 1;
            } else {
                size_t vstart = i;
                while (i < tag.size() && !isspace(static_cast<unsigned char>(tag[i])))
                    ++i;
                value = tag.substr(vstart, i - vstart);
            }
        }
        if (!name.empty())
            attributes[name] = DecodeEntities(value);
    }
    return attributes;
}

bool IsJavaScript(const std::map<std::string, std::string> &attributes) {
    auto type = attributes.find("type");
    if (type != attributes.end() && !type->second.empty()) {
        std::string t = Lower(type->second);
        if (t.find("javascript") == std::string::npos && t.find("jscript") == std::string::npos &&
            t.find("ecmascript") == std::string::npos)
            return false;
    }
    auto language = attributes.find("language");
    if (language != attributes.end() && !language->second.empty()) {
        std::string l = Lower(language->second);
        return l.find("javascript") != std::string::npos || l.find("jscript") != std::string::npos;
    }
    return true;
}

} // namespace

HtmlPage ParseHtmlPage(const std::string &html, const std::string &baseDir) {
    HtmlPage page;
    const std::string lower = Lower(html);
    size_t at = 0;
    while ((at = lower.find('<', at)) != std::string::npos) {
        if (lower.compare(at, 4, "<!--") == 0) {
            size_t end = lower.find("-->", at + 4);
            at = end == std::string::npos ? lower.size() : end + 3;
            continue;
        }
        size_t close = lower.find('>', at);
        if (close == std::string::npos)
            break;
        std::string tagText = html.substr(at + 1, close - at - 1);
        std::string name = Lower(tagText.substr(0, tagText.find_first_of(" \t\r\n/")));
        at = close + 1;
        if (name == "object") {
            auto attributes = Attributes(tagText);
            page.items.push_back({PageItem::Object, attributes["classid"], attributes["id"], "", ""});
        } else if (name == "body") {
            page.onload = Attributes(tagText)["onload"];
        } else if (name == "script") {
            auto attributes = Attributes(tagText);
            size_t end = lower.find("</script", at);
            if (end == std::string::npos)
                end = lower.size();
            std::string code = html.substr(at, end - at);
            at = end;
            if (!IsJavaScript(attributes))
                continue;
            std::string origin = "inline script";
            if (!attributes["src"].empty()) {
                origin = baseDir + attributes["src"];
                std::ifstream in(origin, std::ios::binary);
                std::ostringstream text;
                text << in.rdbuf();
                code = text.str();
            }
            page.items.push_back({PageItem::Script, "", "", code, origin});
        }
    }
    return page;
}
