// quillbay-script: runs a page's script outside a browser.
//
//   quillbay-script FILE.js | FILE.html
//
// A .js file runs as one script. An .html page runs its script blocks in
// order, each <object classid="clsid:..." id="..."> bound to its id as it
// is met, then the body's onload handler (or window.onload). Exits with 1
// when a script threw or an object could not be created.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "Automation.h"
#include "ToolOptions.h"
#include "HtmlPage.h"
#include "ScriptEngine.h"

namespace {

const tool_options::ToolInfo kTool = {
    "quillbay-script", "usage: quillbay-script FILE.js | FILE.html\n",
    "Runs a page's script outside a browser. A .js file runs as one script; an\n"
    ".html page runs its script blocks in order, each <object classid=...> bound\n"
    "to its id, then the body's onload handler. Scripts create objects with\n"
    "new ActiveXObject(progid) and may call alert(text) and print(text).\n"
    "Exits with 1 when a script threw or an object could not be created.\n"
    "\n"
    "  --help      print this help\n"
    "  --version   print the version\n"};

bool EndsWith(const std::string &text, const std::string &suffix) {
    if (text.size() < suffix.size())
        return false;
    for (size_t i = 0; i < suffix.size(); ++i) {
        if (tolower(static_cast<unsigned char>(text[text.size() - suffix.size() + i])) != suffix[i])
            return false;
    }
    return true;
}

bool RunPage(ScriptEngine &engine, const std::string &html, const std::string &path) {
    std::string baseDir = path.substr(0, path.find_last_of('/') + 1);
    HtmlPage page = ParseHtmlPage(html, baseDir);
    bool ok = true;
    for (const PageItem &item : page.items) {
        if (item.kind == PageItem::Script) {
            ok = engine.Run(item.code, path + " (" + item.origin + ")") && ok;
            continue;
        }
        CLSID clsid;
        IDispatch *dispatch = nullptr;
        std::string error = "bad classid " + item.classId;
        HRESULT hr = ParseClassId(item.classId, clsid)
                         ? CreateScriptableObject(clsid, &dispatch, error)
                         : E_INVALIDARG;
        if (FAILED(hr)) {
            fprintf(stderr, "%s: object %s: %s (HRESULT 0x%08X)\n", path.c_str(), item.id.c_str(),
                    error.c_str(), static_cast<unsigned>(hr));
            ok = false;
            continue;
        }
        if (!item.id.empty())
            engine.Bind(item.id, dispatch);
        dispatch->Release();
    }
    if (!page.onload.empty())
        ok = engine.Run(page.onload, path + " (onload)") && ok;
    else
        ok = engine.CallWindowOnload() && ok;
    return ok;
}

} // namespace

int main(int argc, char **argv) {
    if (tool_options::AnswersStandardOption(argc, argv, kTool))
        return 0;
    if (argc != 2)
        return tool_options::Usage(kTool);
    std::string path = argv[1];
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        fprintf(stderr, "quillbay-script: cannot read %s\n", path.c_str());
        return 2;
    }
    std::ostringstream text;
    text << in.rdbuf();

    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    bool ok;
    {
        ScriptEngine engine;
        ok = EndsWith(path, ".html") || EndsWith(path, ".htm") ? RunPage(engine, text.str(), path)
                                                               : engine.Run(text.str(), path);
    }
    CoUninitialize();
    return ok ? 0 : 1;
}
