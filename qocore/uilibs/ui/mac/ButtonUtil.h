#pragma once
// Buttons the peers measure against and the small image buttons that
// panels put beside their content.

#include "platform/appkit/Image.h"
#include "platform/appkit/View.h"

namespace ui {

// The fitted size of an untitled button of the type and bezel style.
appkit::Size buttonSize(int buttonType, int bezelStyle);

// A borderless button as large as the image that highlights its contents
// while pressed; autoreleased.  A null tool tip sets none.
appkit::Button* makeImageButton(appkit::Image* image, appkit::Image* alternate, const char* toolTip);

}  // namespace ui
