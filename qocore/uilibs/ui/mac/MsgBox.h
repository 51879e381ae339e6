#pragma once
// The macOS layer's own message box: a native alert with a caption, a
// message and one or two buttons, application-modal or as a sheet on a
// parent window, answering whether the positive button was chosen.  Its
// flag word is the toolkit message box's.  Main thread only; the call
// blocks in a modal loop that keeps serving the run loop.

#include <cstdint>

namespace appkit {
class Window;
}

namespace ui {

// Low three bits: the button set; 0xF0: the icon kind; 0x100: the negative
// button is the default.
using MsgBoxFlags = uint32_t;
constexpr MsgBoxFlags kMsgBoxOk = 0;
constexpr MsgBoxFlags kMsgBoxOkCancel = 1;
constexpr MsgBoxFlags kMsgBoxYesNo = 4;
constexpr MsgBoxFlags kMsgBoxButtonMask = 0x7;
constexpr MsgBoxFlags kMsgBoxIconMask = 0xF0;
constexpr MsgBoxFlags kMsgBoxIconError = 0x10;
constexpr MsgBoxFlags kMsgBoxIconQuestion = 0x20;
constexpr MsgBoxFlags kMsgBoxIconWarning = 0x30;
constexpr MsgBoxFlags kMsgBoxIconInfo = 0x40;
constexpr MsgBoxFlags kMsgBoxNegativeDefault = 0x100;

// True when OK or Yes ended the box; false for Cancel or No, or when the
// box ended otherwise.  `parent` and `caption` may be null; texts are
// UTF-8.  With a parent the box is a sheet and the parent's title shows
// the caption meanwhile.
bool msgBox(appkit::Window* parent, const char* text, MsgBoxFlags flags, const char* caption);
// The error box of start-up failures: the application brought to the
// front, the text with an error icon and an OK button, no parent.
void showErrorBox(const char* text);
// The status image of the flags' icon kind ("statusError", ...), or null
// when the platform's default alert icon stays.
const char* msgBoxStatusImage(MsgBoxFlags flags) noexcept;

}  // namespace ui
