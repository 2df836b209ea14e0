// Font matching through fontconfig.
//
// The project's alias file (a resource of this library) is loaded on top of
// the system's configuration before the first font is made, so the face
// names the system uses (宋体, 黑体 and their Latin names) reach the CJK fonts
// the setup installs, the same in every locale.
#include <fontconfig/fontconfig.h>
#include <mutex>
#include <string>

#include "../kernel/TextConvert.h"
#include "../kernel/winbase.h"
#include "GdiObjects.h"

namespace platform::gdi {
namespace {

void LoadConfiguration() {
    FcConfig *config = FcInitLoadConfigAndFonts();
    if (!config)
        return;
    HMODULE platform = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&MatchFont),
                       &platform);
    if (HRSRC info = FindResourceA(platform, "ALIASES", "FONTCONFIG")) {
        const auto *data = static_cast<const char *>(LockResource(LoadResource(platform, info)));
        std::string xml(data, SizeofResource(platform, info));
        FcConfigParseAndLoadFromMemory(config, reinterpret_cast<const FcChar8 *>(xml.c_str()),
                                       FcTrue);
        FcConfigBuildFonts(config);
    }
    FcConfigSetCurrent(config);
    FcConfigDestroy(config); // the current configuration keeps its own reference
}

} // namespace

void *MatchFont(const LOGFONTA &logical) {
    static std::once_flag once;
    std::call_once(once, LoadConfiguration);
    std::string family = AnsiToUtf8(logical.lfFaceName);
    FcPattern *pattern = FcPatternCreate();
    if (!family.empty())
        FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8 *>(family.c_str()));
    FcPatternAddInteger(pattern, FC_WEIGHT,
                        logical.lfWeight >= 600 ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern, FC_SLANT, logical.lfItalic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern *match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    return match;
}

void ReleaseMatch(void *pattern) {
    if (pattern)
        FcPatternDestroy(static_cast<FcPattern *>(pattern));
}

} // namespace platform::gdi
