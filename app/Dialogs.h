// The message boxes of the program. With a display they are modal Qt
// dialogs; without one (neither DISPLAY nor WAYLAND_DISPLAY set) their
// caption and text go to standard error and the program goes on as if OK had
// been pressed, so that scripts and servers never wait on a box nobody sees.
#pragma once

#include <string>

namespace vornesk {

enum class TMsgDlgType { mtInformation, mtError };

// The application title: the error box's caption.
constexpr const char* kApplicationTitle = "Vornesk";

bool HasDisplay();

// Whether a display that Qt would open accepts connections: the Wayland
// compositor that WAYLAND_DISPLAY names, or the X display that DISPLAY names;
// true when it cannot tell. Qt ends the process when no display can be
// opened, so an unreachable display is better treated as none.
bool DisplayReachable();

// The display named in the environment, X first, for messages.
std::string DisplayName();

// Whether dialogs are shown as windows; decided once at start-up.
void SetWindowMode(bool windows);
bool WindowMode();

// The caption of a dialog of that kind: "Information" or "Error".
std::string DialogCaption(TMsgDlgType type);

// A modal dialog with the kind's caption and icon and one OK button.
void MessageDlg(const std::string& text, TMsgDlgType type);

// The text of the error box: the message, with a "." appended when the
// message is not empty and its last character's code is above that of ".".
std::string ErrorBoxText(const std::string& message);

// The error box: caption "Vornesk", the error icon, one OK button.
void ShowErrorBox(const std::string& message);

// A report that does not stop the run; standard error in both modes.
void ShowWarning(const std::string& text);

}  // namespace vornesk
