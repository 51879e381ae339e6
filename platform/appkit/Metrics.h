#pragma once
// Measures the windowing platform supplies on its own and that the calling
// code relies on without stating them.  Fixed here, once, so that layouts
// and tests are deterministic; the values are those of the platform's
// default appearance at its regular control size.

namespace appkit {

// Points of the system font.
constexpr double kSystemFontSize = 13;
// Height of a titled window's title bar, above its content rectangle.
constexpr double kTitleBarHeight = 22;
// Height of the menu bar at the top of the main display, which a screen's
// visible frame leaves out.
constexpr double kMenuBarHeight = 24;
// Height of a single-line text field and of a push button.
constexpr double kTextFieldHeight = 21;
constexpr double kButtonHeight = 32;
// Width of a legacy scroller.
constexpr double kScrollerWidth = 15;
// Border widths of a line or bezel border and of a groove border.
constexpr double kBezelBorderWidth = 1;
constexpr double kGrooveBorderWidth = 2;
// Height of one menu item.
constexpr double kMenuItemHeight = 22;
// Menus (Menu::size): a separator's height, the space above the first and
// below the last item, the margins left (the state column) and right of
// the items, an item image's width with its gap, and the gap before a key
// equivalent or a submenu's arrow.
constexpr double kMenuSeparatorHeight = 12;
constexpr double kMenuVerticalInset = 4;
constexpr double kMenuLeftMargin = 20;
constexpr double kMenuRightMargin = 20;
constexpr double kMenuImageWidth = 20;
constexpr double kMenuKeyGap = 24;
// The thickness of the system status bar (the menu bar), and the length of
// a square status item: as wide as the bar is thick.
constexpr double kStatusBarThickness = 22;
// Average advance of one character of the system font, used to measure
// text without a font renderer.
constexpr double kCharacterWidth = 7;
// Horizontal padding a push button adds around its title.
constexpr double kButtonPadding = 14;
// A box: the band its title takes along the top or bottom edge (the title
// in the small system font with its padding), and the margins between its
// border and its content view until set.  Its border is as wide as the
// border type's width above (none: 0).
constexpr double kBoxTitleHeight = 16;
constexpr double kBoxContentMargin = 5;
// Two clicks closer than this count as a double click.
constexpr int kDoubleClickIntervalMs = 500;
// Width of the keyboard focus ring drawn outside a focused control.
constexpr double kFocusRingWidth = 3;
// Size of the icons the workspace gives for files.
constexpr double kFileIconSize = 32;

}  // namespace appkit

namespace appkit {

// How far a text field's cell insets its text from its bounds, on the
// left and right and on the top and bottom.
constexpr double kTextFieldTitleInsetX = 2;
constexpr double kTextFieldTitleInsetY = 2;

}  // namespace appkit

namespace appkit {

// Height of a table row, its spacing included.
constexpr double kTableRowHeight = 19;

}  // namespace appkit
