// The system's two modal message boxes, owned by the focus window.
#pragma once

#include "platform/win32.h"

// Longest message shown; a longer one is cut.
constexpr int kMessageBoxTextLimit = 258;

// A warning box captioned "错误" with the formatted text.
void WarnBox(const char *format, ...);
// An OK box with the given caption and formatted text; returns the button.
int InfoBox(const char *caption, const char *format, ...);
