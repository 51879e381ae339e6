#pragma once
// The messages between the wizard and its elevated admin helper, carried
// by an io::MsgIpc channel over the helper's launch pipe (the helper's
// channel is "AdminHelper", the wizard's "AdminHelperClient").  Numbers
// are big-endian; string32 is a u32 length and the bytes, string8 a u8
// length and at most 255 bytes (longer texts are cut).  An error pair is
// the failure's message and its type name, string8 each, both empty on
// success.
//
// Requests, wizard to helper:
//   "RunCmd"           u8 n; n x string32 argument (the first is the program)
//   "RunCmdCancel"     -
//   "GetCapsFeatures"  -
//   "SvrSettings"      u16 n; n x (string32 name, string32 value)
//   "CopyApp"          string32 source folder; string32 bundle name
// Replies and reports, helper to wizard:
//   "HaveCloudCredsSvr"      u8: 1 when the server holds cloud credentials;
//                            once, unasked, when the helper has started
//   "RunCmdOutput"           u16 length (1 to 4096); the command's output
//   "RunCmdResult"           u8 flag; 1: u32 exit status (the exit code, or
//                            minus the signal's number, or -1); 0: error pair
//   "GetCapsFeaturesResult"  error pair; u16 n; n x string8 feature
//   "SvrSettingsResult"      error pair
//   "CopyAppResponse"        string32 error message, empty on success
// The same channel carries the helper's log lines to the wizard.

#include <cstdint>

namespace qoSetup::admin_protocol {

inline constexpr const char kRunCmd[] = "RunCmd";
inline constexpr const char kRunCmdCancel[] = "RunCmdCancel";
inline constexpr const char kGetCapsFeatures[] = "GetCapsFeatures";
inline constexpr const char kSvrSettings[] = "SvrSettings";
inline constexpr const char kCopyApp[] = "CopyApp";

inline constexpr const char kHaveCloudCredsSvr[] = "HaveCloudCredsSvr";
inline constexpr const char kRunCmdOutput[] = "RunCmdOutput";
inline constexpr const char kRunCmdResult[] = "RunCmdResult";
inline constexpr const char kGetCapsFeaturesResult[] = "GetCapsFeaturesResult";
inline constexpr const char kSvrSettingsResult[] = "SvrSettingsResult";
inline constexpr const char kCopyAppResponse[] = "CopyAppResponse";

// The longest "RunCmd" argument and "CopyApp" text the helper reads.
inline constexpr uint32_t kMaxArgument = 1024;
// The longest "SvrSettings" name or value the helper reads.
inline constexpr uint32_t kMaxSetting = 8192;
// The most output one "RunCmdOutput" carries.
inline constexpr int32_t kMaxOutputChunk = 4096;
// The most features one "GetCapsFeaturesResult" carries.
inline constexpr uint32_t kMaxFeatures = 65535;

}  // namespace qoSetup::admin_protocol
