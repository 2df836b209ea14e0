// The parts of an HTML page the host runs: its <object> tags and script
// blocks, in document order, and the body's onload handler.
#pragma once

#include <string>
#include <vector>

struct PageItem {
    enum Kind { Object, Script };
    Kind kind;
    std::string classId; // Object: the classid attribute
    std::string id;      // Object: the id attribute
    std::string code;    // Script: the code (inline, or read from src)
    std::string origin;  // where the code came from, for messages
};

struct HtmlPage {
    std::vector<PageItem> items;
    std::string onload;
};

// Reads a page; scripts with a src attribute are read relative to baseDir.
// Blocks in another language than JavaScript are left out.
HtmlPage ParseHtmlPage(const std::string &html, const std::string &baseDir);
