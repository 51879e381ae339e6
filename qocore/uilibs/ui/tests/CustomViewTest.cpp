#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/appkit/Application.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/Constants.h"
#include "platform/appkit/Dragging.h"
#include "platform/appkit/Graphics.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/Injector.h"
#include "platform/appkit/Metrics.h"
#include "platform/appkit/Pasteboard.h"
#include "platform/appkit/Window.h"
#include "qocore/base/plat/Time.h"
#include "qocore/base/plat/Timer.h"
#include "qocore/base/rfb/PixelBuffer.h"
#include "qocore/uilibs/ui/mac/CustomView.h"

namespace ui {
namespace {

using appkit::makeRect;

plat::TimeValue fakeNow = 5'000'000'000;
plat::TimeValue fakeClock(plat::TimeValue, bool*) { return fakeNow; }

// Paints each dirty rectangle red and records the keys and focus changes.
class Painter : public CustomView::Callback {
 public:
  void draw(CustomView*, const rfb::Rect& dirty) override {
    drawn.push_back(dirty);
    appkit::GraphicsContext* context = appkit::GraphicsContext::current();
    context->setFillColor(appkit::Color::device(1, 0, 0, 1));
    context->fillRect(makeRect(dirty.x1, dirty.y1, double(dirty.width()), double(dirty.height())));
  }
  bool focusChanged(CustomView*, bool gained) override {
    log.push_back(gained ? "focus" : "blur");
    return true;
  }
  bool keyDown(CustomView*, appkit::Event* e) override {
    log.push_back(std::string("key ") + e->characters()->utf8());
    return true;
  }
  std::vector<rfb::Rect> drawn;
  std::vector<std::string> log;
};

// The mouse notices, with an answer chosen per kind.
class Notices : public qoutil::MouseCallback {
 public:
  bool mouseEvent(int32_t kind, rfb::Point point, MouseHandlerMac*) override {
    got.push_back({kind, point});
    return kind < 32 && (takes >> kind & 1);
  }
  std::vector<int32_t> kinds() const {
    std::vector<int32_t> out;
    for (const auto& n : got) out.push_back(n.first);
    return out;
  }
  std::vector<std::pair<int32_t, rfb::Point>> got;
  uint32_t takes = 0;
};

// The plain-view side: what reaches the custom view's superview.
class Parent : public appkit::View {
 public:
  using appkit::View::View;
  void mouseDown(appkit::Event*) override { log.push_back("down"); }
  void mouseEntered(appkit::Event*) override { log.push_back("entered"); }
  void mouseExited(appkit::Event*) override { log.push_back("exited"); }
  void keyUp(appkit::Event*) override { log.push_back("keyUp"); }
  void rightMouseDown(appkit::Event*) override { log.push_back("right"); }
  std::vector<std::string> log;
};

class CustomViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = plat::setMonotonicClock(fakeClock);
    appkit::Application::reset();
    appkit::inject::mainDisplay(1440, 900, 1);
    window_ = new appkit::Window(makeRect(0, 0, 200, 100), appkit::kWindowStyleTitled);
    window_->setReleasedWhenClosed(false);
    parent_ = new Parent(makeRect(0, 0, 200, 100));
    window_->contentView()->addSubview(parent_);
    parent_->release();
    window_->makeKeyAndOrderFront(nullptr);
  }
  void TearDown() override {
    if (appkit::DraggingSession* left = appkit::DraggingSession::current()) left->drop();
    window_->release();
    appkit::Application::reset();
    plat::setMonotonicClock(previous_);
  }
  // Puts the view at (10, 10) with size 40 x 20 (in the unflipped parent:
  // base y 10 to 30).
  void place(CustomView& v) {
    v.view()->setFrame(makeRect(10, 10, 40, 20));
    parent_->addSubview(v.view());
  }
  void advance(int ms) {
    fakeNow += ms * plat::kTicksPerMs;
    manager_.processTimers();
  }
  appkit::Event* mouse(int type, appkit::Point base) {
    appkit::Event* e = appkit::Event::mouseEvent(type, base, 0, 0, window_->windowNumber(), 0, 1, 1);
    e->setWindow(window_);
    return e;
  }

  objc::AutoreleasePool pool_;
  plat::MonotonicClockFn previous_;
  plat::TimerManager manager_{plat::TimerManager::current() != nullptr};
  appkit::Window* window_;
  Parent* parent_;
};

TEST_F(CustomViewTest, DrawsItsDirtyRectanglesIntoAPixelBuffer) {
  Painter painter;
  CustomView v(&painter, nullptr);
  v.view()->setFrame(makeRect(0, 0, 20, 10));
  rfb::ManagedPixelBuffer buffer(rfb::PixelFormat::rgbaBytes(), rfb::Rect(0, 0, 20, 10));
  int32_t stride = 0;
  uint8_t* p = buffer.getPixelsRW(buffer.getRect(), &stride);
  std::fill(p, p + 20 * 10 * 4, 0);
  auto* context = new appkit::GraphicsContext(buffer, 1, false);

  // Flipped by default: the dirty rectangle's top is the buffer's top row.
  v.view()->displayRectIgnoringOpacity(makeRect(2, 3, 5.9, 2), context);
  // Narrower than a point: nothing to draw.
  v.view()->displayRectIgnoringOpacity(makeRect(8, 1, 0.5, 4), context);
  context->release();
  EXPECT_EQ(painter.drawn, (std::vector<rfb::Rect>{rfb::Rect(2, 3, 7, 5)}));
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 20; ++x)
      EXPECT_EQ(buffer.getPixel(rfb::Point{x, y}), (x >= 2 && x < 7 && y >= 3 && y < 5) ? 0xff0000ffu : 0u)
          << x << "," << y;

  // paint draws at once, and only a rectangle with an inside.
  v.paint(rfb::Rect(1, 1, 1, 5));
  EXPECT_EQ(painter.drawn.size(), 1u);
  appkit::GraphicsContext::setCurrent(new appkit::GraphicsContext(buffer, 1, true));
  v.paint(rfb::Rect(0, 0, 1, 1));
  appkit::GraphicsContext::current()->release();
  appkit::GraphicsContext::setCurrent(nullptr);
  EXPECT_EQ(painter.drawn.back(), rfb::Rect(0, 0, 1, 1));

  v.invalidate(rfb::Rect(3, 4, 8, 6));
  EXPECT_TRUE(v.view()->needsDisplay());
  EXPECT_EQ(v.view()->dirtyRect(), makeRect(3, 4, 5, 2));
}

TEST_F(CustomViewTest, ClicksAreConfirmedAfterTheDoubleClickIntervalOnTheClock) {
  Painter painter;
  Notices notices;
  CustomView v(&painter, &notices);
  place(v);
  // Base (15, 25) lies 5 right of and 5 below the flipped view's top left.
  appkit::inject::click(window_, {15, 25});
  appkit::inject::handleQueued();
  EXPECT_EQ(notices.kinds(), (std::vector<int32_t>{0, 1}));
  EXPECT_EQ(notices.got[0].second, (rfb::Point{5, 5}));
  advance(appkit::kDoubleClickIntervalMs + 99);
  EXPECT_EQ(notices.kinds().size(), 2u);
  advance(1);
  EXPECT_EQ(notices.kinds(), (std::vector<int32_t>{0, 1, 3}));
  EXPECT_EQ(notices.got.back().second, (rfb::Point{5, 5}));
}

TEST_F(CustomViewTest, ADoubleClickTakenByTheCallbackIsNotConfirmedAsAClick) {
  struct Case {
    uint32_t takes;
    std::vector<int32_t> kinds;
  } cases[] = {
      {1u << MouseHandlerMac::kDoubleClicked, {0, 1, 0, 2}},
      // Not taken: the second click counts as a click of its own.
      {0, {0, 1, 0, 2, 1, 3}},
  };
  for (const Case& c : cases) {
    Painter painter;
    Notices notices;
    notices.takes = c.takes;
    CustomView v(&painter, &notices);
    place(v);
    appkit::inject::click(window_, {15, 25});
    advance(100);
    appkit::inject::click(window_, {15, 25});
    appkit::inject::handleQueued();
    advance(appkit::kDoubleClickIntervalMs + 100);
    EXPECT_EQ(notices.kinds(), c.kinds) << c.takes;
    v.view()->removeFromSuperview();
    advance(2000);
  }
}

TEST_F(CustomViewTest, MovesExitsReleasesAndContextMenusBecomeNotices) {
  Painter painter;
  Notices notices;
  CustomView v(&painter, &notices);
  place(v);
  v.view()->mouseMoved(mouse(appkit::kEventMouseMoved, {20.7, 29.5}));
  v.view()->mouseExited(mouse(appkit::kEventMouseExited, {60, 25}));
  // A release without a press in this view sends nothing.
  v.view()->mouseUp(mouse(appkit::kEventLeftMouseUp, {20, 25}));
  notices.takes = 1u << MouseHandlerMac::kContextMenu;
  appkit::inject::rightClick(window_, {12, 12});
  appkit::inject::handleQueued();
  EXPECT_EQ(notices.kinds(), (std::vector<int32_t>{4, 5, 6}));
  EXPECT_EQ(notices.got[0].second, (rfb::Point{10, 0}));
  EXPECT_EQ(notices.got[2].second, (rfb::Point{2, 18}));
  EXPECT_FALSE(manager_.processTimers() > 0);
}

TEST_F(CustomViewTest, HandlerAnswersDecideWhatReachesThePlainView) {
  Painter painter;
  Notices notices;
  CustomView v(&painter, &notices);
  place(v);
  // Answers false: a press stays here, leaving goes on.
  v.view()->mouseDown(mouse(appkit::kEventLeftMouseDown, {15, 25}));
  v.view()->mouseExited(mouse(appkit::kEventMouseExited, {15, 25}));
  EXPECT_EQ(parent_->log, (std::vector<std::string>{"exited"}));
  // Answers true: the opposite.  Entering sends no notice, so it always
  // goes on.
  parent_->log.clear();
  notices.takes = ~0u;
  v.view()->mouseDown(mouse(appkit::kEventLeftMouseDown, {15, 25}));
  v.view()->mouseExited(mouse(appkit::kEventMouseExited, {15, 25}));
  v.view()->mouseEntered(mouse(appkit::kEventMouseEntered, {15, 25}));
  EXPECT_EQ(parent_->log, (std::vector<std::string>{"down", "entered"}));
}

TEST_F(CustomViewTest, KeysAndFocusGoToTheCallbackUntilTheOwnerGoes) {
  Painter painter;
  auto v = std::make_unique<CustomView>(&painter, nullptr);
  place(*v);
  ASSERT_TRUE(window_->makeFirstResponder(v->view()));
  appkit::inject::key(0, "a");
  appkit::inject::handleQueued();
  // The key-up is not handled: it goes on to the plain view's chain.
  EXPECT_EQ(painter.log, (std::vector<std::string>{"focus", "key a"}));
  EXPECT_EQ(parent_->log, (std::vector<std::string>{"keyUp"}));
  EXPECT_TRUE(window_->makeFirstResponder(nullptr));
  EXPECT_EQ(painter.log.back(), "blur");

  CustomViewOC* view = v->view();
  view->retain();
  v.reset();
  EXPECT_FALSE(view->acceptsFirstResponder());
  EXPECT_FALSE(view->isFlipped());
  EXPECT_FALSE(window_->makeFirstResponder(view));
  view->mouseDown(mouse(appkit::kEventLeftMouseDown, {15, 25}));
  EXPECT_EQ(parent_->log.back(), "down");
  view->release();
}

// A drag receiver that deals in cards, recording what it is asked.
class Cards : public DragDropMac::Callback {
 public:
  bool canStartDrag(rfb::Point press, int* dragId) override {
    log.push_back("start? " + at(press));
    *dragId = 7;
    return startable;
  }
  bool acceptDrag(qoutil::DragDropData* item) override {
    log.push_back(std::string("accept ") + static_cast<DragDropDataMac*>(item)->typeName());
    return true;
  }
  bool dragOver(rfb::Point point) override {
    log.push_back("over " + at(point));
    return true;
  }
  bool dropped(qoutil::DragDropData* item, rfb::Point point) override {
    plat::MBuf<unsigned char> bytes;
    item->getData(bytes);
    log.push_back("dropped " + std::string(bytes.begin(), bytes.end()) + " " + at(point));
    return false;
  }
  bool fillDragData(qoutil::DragDropData* item, rfb::Point press) override {
    item->setData(5, reinterpret_cast<const unsigned char*>("ace:7"));
    log.push_back("fill " + at(press));
    return true;
  }
  void dragEnded(appkit::DraggingSession*) override { log.push_back("ended"); }

  static std::string at(rfb::Point p) { return std::to_string(p.x) + "," + std::to_string(p.y); }
  std::vector<std::string> log;
  bool startable = true;
};

TEST_F(CustomViewTest, ADragWithinTheApplicationIsAcceptedByADropTarget) {
  Painter painter;
  Notices sourceNotices, targetNotices;
  Cards sourceCards, targetCards;
  CustomView source(&painter, &sourceNotices, &sourceCards);
  CustomView target(&painter, &targetNotices, &targetCards);
  place(source);
  target.view()->setFrame(makeRect(100, 10, 40, 20));
  parent_->addSubview(target.view());
  source.enableDragDrop("card", {});
  target.enableDragDrop("card", {"card"});

  appkit::inject::mouseDown(window_, {15, 25});
  appkit::inject::handleQueued();
  // Within the threshold: no drag yet, and drags reach the controller
  // rather than the notices.
  window_->sendEvent(mouse(appkit::kEventLeftMouseDragged, {18, 25}));
  EXPECT_EQ(appkit::DraggingSession::current(), nullptr);
  window_->sendEvent(mouse(appkit::kEventLeftMouseDragged, {30, 25}));
  appkit::DraggingSession* session = appkit::DraggingSession::current();
  ASSERT_NE(session, nullptr);
  EXPECT_EQ(sourceCards.log, (std::vector<std::string>{"start? 5,5", "fill 5,5"}));
  EXPECT_EQ(sourceNotices.kinds(), (std::vector<int32_t>{0}));
  EXPECT_EQ(session->draggingPasteboard()->stringForType(pasteboardTypeFor("card").c_str()), "ace:7");
  // No image provider: the platform's default image.
  ASSERT_EQ(session->items().size(), 1u);
  EXPECT_FALSE(session->items()[0]->hasImageComponentsProvider());

  // Over the source, which takes no cards, then over the target.
  session->moveTo(window_, {20, 25});
  EXPECT_EQ(sourceCards.log.size(), 2u);
  session->moveTo(window_, {112, 21});
  EXPECT_EQ(targetCards.log, (std::vector<std::string>{"accept card", "over 12,9"}));
  // Its answer to dropped does not matter: the drop was performed.
  EXPECT_EQ(session->drop(), appkit::kDragOperationCopy);
  EXPECT_EQ(targetCards.log.back(), "dropped ace:7 12,9");
  EXPECT_EQ(targetNotices.kinds(), (std::vector<int32_t>{5}));
  EXPECT_EQ(appkit::DraggingSession::current(), nullptr);
  EXPECT_FALSE(target.dragDrop()->accepting());
}

TEST_F(CustomViewTest, TheFirstAcceptedTypeThatTheDragCarriesWins) {
  Painter painter;
  Cards sourceCards, targetCards;
  CustomView source(&painter, nullptr, &sourceCards);
  CustomView target(&painter, nullptr, &targetCards);
  place(target);
  source.enableDragDrop("b", {});
  target.enableDragDrop("x", {"c", "a", "b"});

  auto* item = new appkit::PasteboardItem;
  item->setString("B", pasteboardTypeFor("b").c_str());
  item->setString("A", pasteboardTypeFor("a").c_str());
  auto* dragging = new appkit::DraggingItem(item);
  item->release();
  appkit::DraggingSession* session = appkit::DraggingSession::begin(source.view(), {dragging}, nullptr, source.view());
  dragging->release();
  session->moveTo(window_, {15, 25});
  EXPECT_EQ(session->drop(), appkit::kDragOperationCopy);
  EXPECT_EQ(targetCards.log, (std::vector<std::string>{"accept a", "over 5,5", "dropped A 5,5"}));
}

TEST_F(CustomViewTest, NoDragStartsFromARefusedPressAndViewsWithoutControllerTakeNothing) {
  Painter painter;
  Cards cards;
  cards.startable = false;
  CustomView source(&painter, nullptr, &cards);
  place(source);
  source.enableDragDrop("card", {"card"});
  appkit::inject::mouseDown(window_, {15, 25});
  appkit::inject::handleQueued();
  for (double x : {30.0, 60.0, 190.0}) window_->sendEvent(mouse(appkit::kEventLeftMouseDragged, {x, 25}));
  EXPECT_EQ(appkit::DraggingSession::current(), nullptr);
  EXPECT_EQ(cards.log, (std::vector<std::string>{"start? 5,5"}));

  // Copy only within the application.
  EXPECT_EQ(source.view()->sourceOperationMask(nullptr, appkit::kDraggingContextWithinApplication),
            appkit::kDragOperationCopy);
  EXPECT_EQ(source.view()->sourceOperationMask(nullptr, appkit::kDraggingContextOutsideApplication),
            appkit::kDragOperationNone);

  CustomView plain(&painter, nullptr, &cards);
  plain.view()->registerForDraggedTypes({pasteboardTypeFor("card")});
  auto* item = new appkit::PasteboardItem;
  item->setString("x", pasteboardTypeFor("card").c_str());
  auto* dragging = new appkit::DraggingItem(item);
  item->release();
  appkit::DraggingSession* session = appkit::DraggingSession::begin(source.view(), {dragging}, nullptr, source.view());
  dragging->release();
  EXPECT_EQ(plain.view()->draggingEntered(session), appkit::kDragOperationNone);
  EXPECT_EQ(plain.view()->draggingUpdated(session), appkit::kDragOperationNone);
  EXPECT_FALSE(plain.view()->performDragOperation(session));
  EXPECT_EQ(plain.view()->sourceOperationMask(session, appkit::kDraggingContextWithinApplication),
            appkit::kDragOperationNone);
  session->drop();
}

TEST_F(CustomViewTest, TheImageProvidersImageShowsUnderThePointer) {
  struct Provider : DragDropMac::ImageProvider {
    void getDragImage(int dragId, appkit::Image** image, rfb::Point* offset, rfb::Point press) override {
      EXPECT_EQ(dragId, 7);
      EXPECT_EQ(press, (rfb::Point{5, 5}));
      *image = picture;
      *offset = {3, 4};
    }
    appkit::Image* picture = new appkit::Image({16, 12});
  } provider;
  Painter painter;
  Cards cards;
  CustomView source(&painter, nullptr, &cards, &provider);
  place(source);
  source.enableDragDrop("card", {});
  appkit::inject::mouseDown(window_, {15, 25});
  appkit::inject::handleQueued();
  window_->sendEvent(mouse(appkit::kEventLeftMouseDragged, {30, 25}));
  appkit::DraggingSession* session = appkit::DraggingSession::current();
  ASSERT_NE(session, nullptr);
  appkit::DraggingItem* item = session->items().at(0);
  EXPECT_EQ(item->draggingFrame(), makeRect(20, 5, 16, 12));
  std::vector<appkit::DraggingImageComponent*> components = item->imageComponents();
  ASSERT_EQ(components.size(), 1u);
  EXPECT_STREQ(components[0]->key(), "dragImg");
  EXPECT_EQ(components[0]->contents(), provider.picture);
  EXPECT_EQ(components[0]->frame(), makeRect(-3, 4, 16, 12));
  session->drop();
  provider.picture->release();
}

}  // namespace
}  // namespace ui
