#pragma once
// The numbers the UI backend passes to the windowing platform, by name and
// with the values the platform gives them, so that code written against the
// platform reads the same here.

#include <cstdint>

namespace appkit {

// Event types.
enum EventType : int {
  kEventLeftMouseDown = 1,
  kEventLeftMouseUp = 2,
  kEventRightMouseDown = 3,
  kEventRightMouseUp = 4,
  kEventMouseMoved = 5,
  kEventLeftMouseDragged = 6,
  kEventRightMouseDragged = 7,
  kEventMouseEntered = 8,
  kEventMouseExited = 9,
  kEventKeyDown = 10,
  kEventKeyUp = 11,
  kEventFlagsChanged = 12,
  kEventAppKitDefined = 13,
  kEventSystemDefined = 14,
  kEventApplicationDefined = 15,
  kEventPeriodic = 16,
  kEventCursorUpdate = 17,
  kEventScrollWheel = 22,
};

// Event masks are 1 << type.
constexpr uint64_t eventMaskFor(int type) noexcept { return uint64_t{1} << type; }
constexpr uint64_t kEventMaskAny = ~uint64_t{0};

// Subtypes: of system-defined events, the special (media) keys; of
// AppKit-defined events, the application's activation changes.
enum EventSubtype : short {
  kSubtypeScreenChanged = 8,
  kSubtypeSpecialKey = 8,
  kSubtypeApplicationActivated = 1,
  kSubtypeApplicationDeactivated = 2,
};

// Modifier flags.
enum ModifierFlag : uint64_t {
  kModifierCapsLock = 1u << 16,
  kModifierShift = 1u << 17,
  kModifierControl = 1u << 18,
  kModifierOption = 1u << 19,
  kModifierCommand = 1u << 20,
  kModifierNumericPad = 1u << 21,
  kModifierHelp = 1u << 22,
  kModifierFunction = 1u << 23,
  kModifierDeviceIndependentMask = 0xffff0000u,
};

// Window style masks.
enum WindowStyle : uint64_t {
  kWindowStyleBorderless = 0,
  kWindowStyleTitled = 1u << 0,
  kWindowStyleClosable = 1u << 1,
  kWindowStyleMiniaturizable = 1u << 2,
  kWindowStyleResizable = 1u << 3,
  kWindowStyleUtility = 1u << 4,
  kWindowStyleDocModal = 1u << 6,
  kWindowStyleNonactivatingPanel = 1u << 7,
  kWindowStyleFullScreen = 1u << 14,
  kWindowStyleFullSizeContentView = 1u << 15,
};

// Backing store types; windows are always buffered.
enum BackingStore : int { kBackingStoreBuffered = 2 };

// Window levels.
enum WindowLevel : int {
  kWindowLevelNormal = 0,
  kWindowLevelFloating = 3,
  kWindowLevelModalPanel = 8,
  kWindowLevelMainMenu = 24,
  kWindowLevelStatus = 25,
  kWindowLevelPopUpMenu = 101,
  kWindowLevelScreenSaver = 1000,
};

// Window collection behaviour bits.
enum CollectionBehavior : uint64_t {
  kCollectionDefault = 0,
  kCollectionCanJoinAllSpaces = 1u << 0,
  kCollectionMoveToActiveSpace = 1u << 1,
  kCollectionManaged = 1u << 2,
  kCollectionTransient = 1u << 3,
  kCollectionStationary = 1u << 4,
  kCollectionParticipatesInCycle = 1u << 5,
  kCollectionIgnoresCycle = 1u << 6,
  kCollectionFullScreenPrimary = 1u << 7,
  kCollectionFullScreenAuxiliary = 1u << 8,
};

// Text alignment and line breaking.
enum TextAlignment : int {
  kTextAlignmentLeft = 0,
  kTextAlignmentRight = 1,
  kTextAlignmentCenter = 2,
  kTextAlignmentJustified = 3,
  kTextAlignmentNatural = 4,
};
enum LineBreakMode : int { kLineBreakByTruncatingTail = 4 };

// Button types and bezel styles.
enum ButtonType : int {
  kButtonMomentaryLight = 0,
  kButtonPushOnPushOff = 1,
  kButtonToggle = 2,
  kButtonSwitch = 3,
  kButtonRadio = 4,
  kButtonMomentaryChange = 5,
  kButtonOnOff = 6,
  kButtonMomentaryPushIn = 7,
};
enum BezelStyle : int {
  kBezelRounded = 1,
  kBezelRegularSquare = 2,
  kBezelShadowlessSquare = 6,
  kBezelSmallSquare = 10,
  kBezelTexturedRounded = 11,
  kBezelRecessed = 13,
  kBezelInline = 15,
};
// What a button's cell highlights when pressed.
enum CellHighlight : int { kCellNoHighlight = 0, kCellHighlightContents = 1 };

// Border types of boxes and scroll views.
enum BorderType : int { kNoBorder = 0, kLineBorder = 1, kBezelBorder = 2, kGrooveBorder = 3 };

// Where a box shows its title.
enum TitlePosition : int {
  kNoTitle = 0,
  kAboveTop = 1,
  kAtTop = 2,
  kBelowTop = 3,
  kAboveBottom = 4,
  kAtBottom = 5,
  kBelowBottom = 6,
};

// Where addSubview:positioned:relativeTo: puts a view among its siblings.
enum SubviewPlace : int { kSubviewBelow = -1, kSubviewAbove = 1 };

// Tracking-area options.
enum TrackingOption : unsigned {
  kTrackingMouseEnteredAndExited = 0x01,
  kTrackingMouseMoved = 0x02,
  kTrackingCursorUpdate = 0x04,
  kTrackingActiveWhenFirstResponder = 0x10,
  kTrackingActiveInKeyWindow = 0x20,
  kTrackingActiveInActiveApp = 0x40,
  kTrackingActiveAlways = 0x80,
  kTrackingInVisibleRect = 0x200,
};

// Modal responses.
enum ModalResponse : long {
  kModalResponseStop = -1000,
  kModalResponseAbort = -1001,
  kModalResponseContinue = -1002,
};

// Compositing operation "source over", and the scroll elasticity "none".
enum CompositingOperation : int { kCompositeClear = 0, kCompositeCopy = 1, kCompositeSourceOver = 2 };
enum ScrollElasticity : int { kScrollElasticityNone = 1 };
// Scroller styles: legacy scrollers take room beside the content, overlay
// scrollers float over it.
enum ScrollerStyle : int { kScrollerStyleLegacy = 0, kScrollerStyleOverlay = 1 };

// Focus ring placement: the ring only.
enum FocusRingPlacement : int { kFocusRingOnly = 0 };

// Event tap location of the session, for posted keyboard events.
enum EventTapLocation : int { kSessionEventTap = 1 };

// Activation policies.
enum ActivationPolicy : long { kActivationPolicyRegular = 0, kActivationPolicyAccessory = 1 };

// Alert return codes: the first button added, the second, the third.
enum AlertReturn : long {
  kAlertFirstButtonReturn = 1000,
  kAlertSecondButtonReturn = 1001,
  kAlertThirdButtonReturn = 1002,
};

// Where a button puts its image.
enum ImagePosition : int {
  kNoImage = 0,
  kImageOnly = 1,
  kImageLeft = 2,
  kImageRight = 3,
  kImageBelow = 4,
  kImageAbove = 5,
  kImageOverlaps = 6,
};

}  // namespace appkit

namespace appkit {

// Symbolic font traits, and the single underline style.
enum FontTrait : uint32_t { kFontItalicTrait = 1u << 0, kFontBoldTrait = 1u << 1 };
enum UnderlineStyle : int { kUnderlineStyleNone = 0, kUnderlineStyleSingle = 1 };
// The typesetter behaviour "latest".
enum TypesetterBehavior : int { kTypesetterLatestBehavior = -1 };
// Text-drawing option: lay lines out from the rectangle's origin.
enum StringDrawingOption : int { kStringDrawingUsesLineFragmentOrigin = 1 };

}  // namespace appkit
