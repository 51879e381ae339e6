#include "libs/qoSetup/SetupComms.h"

#include <unistd.h>

#include <cstring>
#include <utility>

#include "libs/qoSetup/SetupDlg.h"
#include "libs/qoSetup/SetupTexts.h"
#include "qocore/base/io/EndpointUri.h"
#include "qocore/base/loc/Format.h"
#include "qocore/base/loc/Localize.h"
#include "qocore/base/os/AppLoop.h"
#include "qocore/base/os/unix/NamedPipeListener.h"
#include "qocore/base/os/unix/UnixIo.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/rdr/Exceptions.h"
#include "qocore/base/rdr/InStream.h"
#include "qocore/base/rdr/OutStream.h"
#include "qocore/libs/product/Init.h"
#include "qocore/uilibs/mui/MuDialog.h"
#include "qocore/uilibs/mui/MuMessageBox.h"
#include "qocore/uilibs/mui/mac/MuDialogMac.h"
#include "qocore/uilibs/ui/mac/MsgBox.h"
#include "qocore/uilibs/ui/mac/WindowGlue.h"

namespace qoSetup {

namespace {

[[maybe_unused]] const bool textsRegistered = (registerSetupTexts(), true);

PLAT_LOG_SOURCE(vlog, "SetupComms");

constexpr const char kAppName[] = "vuzovuvivovevada";
constexpr const char kDisplayNameKey[] = "qoSetup_setupapp_name_r";
constexpr const char kFg[] = "fg";
constexpr const char kUri[] = "uri";

}  // namespace

// ---- Listener ----

plat::CharArray SetupComms::socketPath() { return os::makeUniqueName(kSetupCommsName, nullptr, nullptr, 0, -1); }

SetupComms::SetupComms(SetupDlg* dlg) : dlg_(dlg), ipc_(nullptr, kSetupCommsName, false, false) {
  ipc_.setReader(kUri, this);
  ipc_.setReader(kFg, this);
  const plat::CharArray path = socketPath();
  os::NamedPipeListener::Options options;
  options.createDirectory = true;
  options.makePrivate = true;
  // Whatever holds the name sends no version word, or this copy would not
  // be the wizard: the socket is taken over.
  options.skipBoundCheck = true;
  listener_ = std::make_unique<os::NamedPipeListener>(path.c_str(), options);
  listener_->setAcceptor(this);
  vlog().info("Listening on %s", path.c_str());
}

SetupComms::~SetupComms() {
  ipc_.detach(false);
  listener_.reset();
  ipc_.removeReader(this);
}

void SetupComms::acceptIo(io::Io* io) {
  std::unique_ptr<io::Io> connection(io);
  try {
    vlog().debug("Got connection");
    rdr::OutStream& out = connection->out();
    out.writeU32(kSetupCommsVersion);
    out.flush();
    // Only the latest client is served: an earlier one is dropped without
    // a word.
    ipc_.detach(false);
    ipc_.attach(connection.release());
  } catch (const plat::Exception& e) {
    connection.reset();
    vlog().error("%s", plat::FormattedText(e).text);
    mui::MuMessageBox box(e.str(), mui::MuMessageBox::kOk | mui::MuMessageBox::kIconError, dlg_->dialog(), nullptr,
                          true, nullptr);
    (void)box.show();
    os::AppLoop::quit(1);
  }
}

bool SetupComms::readMsg(const char* name, rdr::InStream& in, io::MsgIpc&) {
  if (mui::MuDialog* dialog = dlg_->dialog())
    if (appkit::Window* window = mui::fromNativeWindow(dialog->nativeWindow())) ui::activateWindow(window);
  if (std::strcmp(name, kUri) != 0) return true;
  plat::CharArray uri;
  try {
    uri = in.readString(kMaxUriLength);
  } catch (const rdr::BlockException&) {
    throw;
  } catch (const plat::Exception& e) {
    // The rest of the message is skipped; the connection stays.
    vlog().error("Bad URI message: %s", plat::FormattedText(e).text);
    return true;
  }
  try {
    dlg_->uriReceived(uri.c_str());
  } catch (const plat::Exception& e) {
    vlog().error("Error handling URI '%s': %s", uri.c_str(), plat::FormattedText(e).text);
  }
  return true;
}

// ---- Client ----

SetupCommsClient::SetupCommsClient() : ipc_(std::make_unique<io::MsgIpc>(nullptr, "SetupCommsClient", true, false)) {
  const plat::CharArray path = SetupComms::socketPath();
  auto connection = std::make_unique<os::UnixIo>(path.c_str(), -1);
  connection->setTimeout(kSetupCommsTimeoutMs);
  const uint32_t version = connection->in().readU32();
  if (version != kSetupCommsVersion)
    throw plat::Exception("SetupComms version mismatch %x instead of %x", version, kSetupCommsVersion);
  connection->credCheck(::geteuid());
  ipc_->attach(connection.release());
}

SetupCommsClient::~SetupCommsClient() = default;

// ---- The "-uri" role ----

int UriHandler::main(char** argv) {
  try {
    product::initIdentity(argv[0], kAppName, kDisplayNameKey);
    const char* url = argv[1] && argv[2] ? argv[2] : "";
    const io::Uri parsed = io::parseUri(url);
    const char* scheme = parsed.scheme.c_str();
    if (std::strcmp(scheme, kUrlScheme) != 0) throw plat::Exception("Unsupported URI scheme %s", scheme);
    SetupCommsClient client;
    client.ipc().writeMsg(kUri).writeString32(url);
    client.ipc().out().endMsg(true);
    return 0;
  } catch (const plat::Exception& e) {
    plat::DString text;
    loc::formatArgs(text, loc::translate("qoSetup_urihandler_error_fmt", nullptr, 0, true),
                    loc::ArgList().str(e.str()).first());
    ui::showErrorBox(text.c_str());
    return 1;
  }
}

}  // namespace qoSetup
