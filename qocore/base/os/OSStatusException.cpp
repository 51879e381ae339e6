#include "qocore/base/os/OSStatusException.h"

#include <iterator>

#include "platform/status/StatusText.h"
#include "qocore/base/plat/Strings.h"

namespace os {

namespace {

constexpr int32_t fourCc(const char (&c)[5]) {
  return static_cast<int32_t>((static_cast<uint32_t>(static_cast<unsigned char>(c[0])) << 24) |
                              (static_cast<uint32_t>(static_cast<unsigned char>(c[1])) << 16) |
                              (static_cast<uint32_t>(static_cast<unsigned char>(c[2])) << 8) |
                              static_cast<uint32_t>(static_cast<unsigned char>(c[3])));
}

// The audio-queue codes run without gaps from the first to the last.
constexpr int32_t kFirstAudioQueueCode = -66687;
constexpr const char* kAudioQueueNames[] = {
    "kAudioQueueErr_InvalidBuffer",        "kAudioQueueErr_BufferEmpty",         "kAudioQueueErr_DisposalPending",
    "kAudioQueueErr_InvalidProperty",      "kAudioQueueErr_InvalidPropertySize", "kAudioQueueErr_InvalidParameter",
    "kAudioQueueErr_CannotStart",          "kAudioQueueErr_InvalidDevice",       "kAudioQueueErr_BufferInQueue",
    "kAudioQueueErr_InvalidRunState",      "kAudioQueueErr_InvalidQueueType",    "kAudioQueueErr_Permissions",
    "kAudioQueueErr_InvalidPropertyValue", "kAudioQueueErr_PrimeTimedOut",       "kAudioQueueErr_CodecNotFound",
    "kAudioQueueErr_InvalidCodecAccess",   "kAudioQueueErr_QueueInvalidated",    "kAudioQueueErr_TooManyTaps",
    "kAudioQueueErr_InvalidTapContext",    "kAudioQueueErr_RecordUnderrun",      "kAudioQueueErr_InvalidTapType",
};
static_assert(std::size(kAudioQueueNames) == 21);

struct AudioCode {
  int32_t code;
  const char* name;
};
constexpr AudioCode kAudioCodes[] = {
    {-66632, "kAudioQueueErr_EnqueueDuringReset"},
    {-66626, "kAudioQueueErr_InvalidOfflineMode"},
    {fourCc("stop"), "kAudioHardwareNotRunningError"},
    {fourCc("what"), "kAudioHardwareUnspecifiedError"},
    {fourCc("who?"), "kAudioHardwareUnknownPropertyError"},
    {fourCc("!siz"), "kAudioHardwareBadPropertySizeError"},
    {fourCc("nope"), "kAudioHardwareIllegalOperationError"},
    {fourCc("!obj"), "kAudioHardwareBadObjectError"},
    {fourCc("!dev"), "kAudioHardwareBadDeviceError"},
    {fourCc("!str"), "kAudioHardwareBadStreamError"},
    {fourCc("unop"), "kAudioHardwareUnsupportedOperationError"},
    {fourCc("!dat"), "kAudioDeviceUnsupportedFormatError"},
    {fourCc("!hog"), "kAudioDevicePermissionsError"},
};

const char* audioCodeName(int32_t status) noexcept {
  int64_t index = static_cast<int64_t>(status) - kFirstAudioQueueCode;
  if (index >= 0 && index < static_cast<int64_t>(std::size(kAudioQueueNames))) return kAudioQueueNames[index];
  for (const AudioCode& a : kAudioCodes) {
    if (a.code == status) return a.name;
  }
  return nullptr;
}

}  // namespace

void formatOsStatusText(int32_t status, char (&out)[256]) noexcept {
  const char* comment = status::statusComment(status);
  const char* name = status::statusName(status);
  out[0] = '\0';
  if (comment && *comment) {
    plat::safeStrCopy(out, comment, sizeof out);
  } else if (const char* audio = audioCodeName(status)) {
    plat::safeStrCopy(out, audio, sizeof out);
  } else {
    plat::safeStrCopy(out, "Unknown error", sizeof out);
  }
  if (name && *name) plat::safeSnprintfAppend(out, sizeof out, " [%s]", name);
  plat::safeSnprintfAppend(out, sizeof out, " (%d)", static_cast<int>(status));
}

plat::CharArray osStatusText(int32_t status) {
  char text[256];
  formatOsStatusText(status, text);
  return plat::CharArray(text);
}

OSStatusException::OSStatusException(const char* text, int32_t status) noexcept : status_(status) {
  setMessage(text);
  if (msg_[0]) appendMessage(": ");
  char statusText[256];
  formatOsStatusText(status, statusText);
  appendMessage(statusText);
  setType("OSStatus");
}

}  // namespace os
