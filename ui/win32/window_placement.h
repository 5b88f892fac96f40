// Where windows and the minimized icon go.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace tarnwick::win32 {

// Templates place dialogs at 0, 0: a dialog goes to the centre of its owner,
// or of the screen's work area when it has none.
void CentreWindow(HWND window, HWND owner);

// Where an icon of `iconSize` is drawn to be centred in a `clientSize` area:
// (client - icon + 1) / 2, truncated toward zero.
inline int IconOffset(int clientSize, int iconSize) { return (clientSize - iconSize + 1) / 2; }

}  // namespace tarnwick::win32
