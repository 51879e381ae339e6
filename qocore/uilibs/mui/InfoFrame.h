#pragma once
// mui::InfoFrame: a notification banner (an icon, a marked-up text and an
// optional link) placed in a container; it starts hidden.
// mui::MuiInspector: a debugging window that shows the element under the
// pointer; at most one exists.

#include <cstdint>

#include "qocore/base/plat/Markup.h"
#include "qocore/base/plat/Timer.h"
#include "qocore/uilibs/mui/MuElement.h"

namespace mui {

class MuDialog;
class MuFrame;
class MuImage;
class MuLayout;
class MuSpacer;
class MuStatic;
class MuText;

class InfoFrame {
 public:
  // Icon kinds; any other kind shows the notification icon.
  enum Kind : int32_t {
    kSuccess = 1,
    kWarning = 2,
    kError = 3,
    kLocked = 4,
    kDefault = 5,
    kPreference = 6,
  };

  // A frame of that id and type in the parent; its link reaches
  // `linkReceiver` as "app://infoframe//<id>".
  InfoFrame(MuContainer* parent, const char* id, plat::Markup::LinkCallback* linkReceiver, uint32_t frameType);
  ~InfoFrame();
  InfoFrame(const InfoFrame&) = delete;
  InfoFrame& operator=(const InfoFrame&) = delete;

  // `text` is mark-up, taken as it is: callers escape untrusted text.  A
  // null text hides the frame.  A link text (plain) adds the link below,
  // replacing an earlier one.
  void setInfo(int32_t kind, const char* text, const char* linkText);
  void setShown(bool shown);

  static const char* iconName(int32_t kind);

  MuFrame* frame() const noexcept { return frame_; }

 private:
  plat::Markup::LinkCallback* linkReceiver_;
  MuContainer* parent_;
  MuFrame* frame_;
  MuLayout* split_;
  MuImage* icon_;
  MuLayout* textLayout_;
  MuText* text_;
  MuSpacer* linkSpacer_ = nullptr;
  MuText* link_ = nullptr;
};

class MuiInspector : public plat::Timer::Callback {
 public:
  MuiInspector();
  ~MuiInspector() override;
  MuiInspector(const MuiInspector&) = delete;
  MuiInspector& operator=(const MuiInspector&) = delete;

  bool timerExpired(plat::Timer* timer) override;

  MuDialog* dialog() const noexcept { return dialog_; }

 private:
  plat::Timer timer_;
  MuDialog* dialog_;
  MuStatic* id_;
  MuStatic* type_;
  MuStatic* state_;
};

}  // namespace mui
