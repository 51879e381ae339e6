#include "qocore/uilibs/ui/mac/ButtonUtil.h"

#include "qocore/uilibs/ui/mac/CocoaUtil.h"

namespace ui {

appkit::Size buttonSize(int buttonType, int bezelStyle) {
  objc::Ref<appkit::Button> button = objc::adopt(new appkit::Button(appkit::makeRect(0, 0, 1, 1)));
  button->setClipsToBounds(true);
  button->setBezelStyle(bezelStyle);
  button->setButtonType(buttonType);
  button->setTitle("");
  return fittingSize(button, false);
}

appkit::Button* makeImageButton(appkit::Image* image, appkit::Image* alternate, const char* toolTip) {
  const appkit::Size size = image ? image->size() : appkit::Size{};
  appkit::Button* button = new appkit::Button(appkit::makeRect(0, 0, size.width, size.height));
  button->setClipsToBounds(true);
  button->cell()->setHighlightsBy(1);
  button->setBordered(false);
  button->setImage(image);
  button->setAlternateImage(alternate);
  if (toolTip) button->setToolTip(toolTip);
  button->autorelease();
  return button;
}

}  // namespace ui
