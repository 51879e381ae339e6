#include "platform/status/StatusText.h"

#include <cstdio>

namespace status {

namespace {

struct StatusEntry {
  int32_t code;
  const char* name;
  const char* comment;
};

constexpr StatusEntry kStatuses[] = {
    {0, "noErr", ""},
    {-43, "fnfErr", "File not found"},
    {-50, "paramErr", "Error in user parameter list"},
    {-108, "memFullErr", "Not enough room in heap zone"},
    {-10810, "kLSUnknownErr", "Unexpected internal error"},
    {-10814, "kLSApplicationNotFoundErr", "No application in the database matches the input criteria"},
    {-10822, "kLSServerCommunicationErr", "There was an error communicating with the server"},
    {-60001, "errAuthorizationInvalidSet", "The authorization rights are invalid"},
    {-60002, "errAuthorizationInvalidRef", "The authorization reference is invalid"},
    {-60004, "errAuthorizationInvalidPointer", "The returned authorization is invalid"},
    {-60005, "errAuthorizationDenied", "The authorization was denied"},
    {-60006, "errAuthorizationCanceled", "The authorization was cancelled by the user"},
    {-60007, "errAuthorizationInteractionNotAllowed",
     "The authorization was denied since no user interaction was possible"},
    {-60008, "errAuthorizationInternal", "Unable to obtain authorization for this operation"},
    {-60031, "errAuthorizationToolExecuteFailure", "The specified program could not be executed"},
    {-60032, "errAuthorizationToolEnvironmentError",
     "An invalid status was returned during execution of a privileged tool"},
};

const StatusEntry* find(int32_t status) noexcept {
  for (const StatusEntry& e : kStatuses) {
    if (e.code == status) return &e;
  }
  return nullptr;
}

}  // namespace

const char* statusComment(int32_t status) noexcept {
  const StatusEntry* e = find(status);
  return e ? e->comment : "";
}

const char* statusName(int32_t status) noexcept {
  const StatusEntry* e = find(status);
  return e ? e->name : "";
}

void securityErrorMessage(int32_t status, char (&out)[128]) noexcept {
  const char* comment = statusComment(status);
  if (*comment) {
    snprintf(out, sizeof out, "%s", comment);
  } else {
    snprintf(out, sizeof out, "OSStatus %d", static_cast<int>(status));
  }
}

}  // namespace status
