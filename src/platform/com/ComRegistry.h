// Registry access for the component runtime, with text in the ANSI code page.
#pragma once

#include <string>

#include "../registry/winreg.h"
#include "unknwn.h"

namespace platform {

std::string GuidText(REFGUID guid); // "{XXXXXXXX-...}"
bool ReadRegString(HKEY root, const std::string &subkey, const char *valueName, std::string &value);
bool WriteRegString(HKEY root, const std::string &subkey, const char *valueName,
                    const std::string &value);
std::string WideToAnsi(const WCHAR *wide);

} // namespace platform
