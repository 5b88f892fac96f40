// The templates of the main dialog (102) and the About box (100): every
// control with its ID, kind, text, position and size in dialog units, in
// template order, which is also the tab order. The windows are laid out from
// these tables and from nothing else.
#pragma once

#include <array>
#include <span>

#include "window_ops.h"

namespace tarnwick::ui {

enum class ControlKind {
  PushButton,
  DefaultPushButton,
  Edit,
  StaticText,
  StaticIcon,
  ProgressBar,
};

// The styles a control carries beyond its kind.
enum ControlStyle : unsigned {
  StyleTabStop = 1u << 0,
  StyleGroup = 1u << 1,
  StyleDisabled = 1u << 2,
  StyleBorder = 1u << 3,
  StyleAutoHScroll = 1u << 4,
  StyleNoPrefix = 1u << 5,
};

inline constexpr int kStaticId = -1;  // labels and pictures nothing addresses
inline constexpr int kIdOk = 1;

struct DialogControl {
  int id;
  ControlKind kind;
  const char* text;
  int x, y, width, height;  // dialog units
  unsigned styles;
};

struct DialogTemplate {
  int resourceId;
  const char* title;
  int width, height;  // client area, dialog units
  const char* fontFace;
  int fontPointSize;
  std::span<const DialogControl> controls;
};

inline constexpr unsigned kReadoutStyles = StyleDisabled | StyleBorder | StyleTabStop | StyleAutoHScroll;

inline constexpr std::array<DialogControl, 11> kMainDialogControls = {{
    {IdExit, ControlKind::PushButton, "Exit", 17, 127, 67, 22, StyleTabStop},
    {IdLoadFile, ControlKind::PushButton, "Load File", 17, 22, 68, 20, StyleTabStop},
    {IdProgram, ControlKind::PushButton, "Program", 17, 55, 67, 21, StyleTabStop},
    {IdStop, ControlKind::PushButton, "Stop Programing", 17, 91, 67, 21, StyleTabStop},
    {IdImageLength, ControlKind::Edit, "", 125, 25, 50, 14, kReadoutStyles},
    {IdBytesSent, ControlKind::Edit, "", 228, 25, 49, 15, kReadoutStyles},
    {IdUnusedEdit, ControlKind::Edit, "", 98, 130, 178, 13, kReadoutStyles},
    {IdStatus, ControlKind::StaticText, "Idle", 97, 60, 144, 11, StyleGroup},
    {kStaticId, ControlKind::StaticText, "Length", 97, 27, 25, 8, StyleGroup},
    {kStaticId, ControlKind::StaticText, "SendLength", 183, 28, 41, 8, StyleGroup},
    {IdProgress, ControlKind::ProgressBar, "Progress1", 98, 94, 179, 14, StyleBorder},
}};

inline constexpr DialogTemplate kMainDialog{
    102, "Tarnwick", 295, 171, "MS Sans Serif", 8, kMainDialogControls};

inline constexpr int kAppIconId = 128;

inline constexpr std::array<DialogControl, 4> kAboutBoxControls = {{
    {kStaticId, ControlKind::StaticIcon, "", 11, 17, 20, 20, 0},
    {kStaticId, ControlKind::StaticText, "Tarnwick Version 1.0", 40, 10, 119, 8, StyleGroup | StyleNoPrefix},
    {kStaticId, ControlKind::StaticText, "Copyright (C) 2004", 40, 25, 119, 8, StyleGroup},
    {kIdOk, ControlKind::DefaultPushButton, "OK", 178, 7, 50, 14, StyleGroup | StyleTabStop},
}};

inline constexpr DialogTemplate kAboutBox{
    100, "About Tarnwick", 235, 55, "MS Sans Serif", 8, kAboutBoxControls};

// String 101: the menu item that opens the About box.
inline constexpr const char* kAboutMenuText = "&About Tarnwick...";

}  // namespace tarnwick::ui
