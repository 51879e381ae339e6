#include "qocore/base/io/Socks5Connector.h"

#include <arpa/inet.h>

#include <cstring>
#include <utility>

#include "qocore/base/io/EndpointName.h"
#include "qocore/base/plat/SecretText.h"
#include "qocore/base/rdr/InStream.h"
#include "qocore/base/rdr/OutStream.h"

namespace io {

namespace {

constexpr uint8_t kVersion = 5;
constexpr uint8_t kMethodNone = 0;
constexpr uint8_t kMethodUserPass = 2;
constexpr uint8_t kMethodRefused = 0xff;
constexpr uint8_t kUserPassVersion = 1;
constexpr uint8_t kCommandConnect = 1;
constexpr uint8_t kAddrIpv4 = 1;
constexpr uint8_t kAddrDomain = 3;
constexpr uint8_t kAddrIpv6 = 4;
constexpr size_t kMaxField = 255;

// A user name or password field: its length byte and at most 255 bytes.
void writeField(rdr::OutStream& out, const char* text) {
  const size_t len = std::min(std::strlen(text), kMaxField);
  out.writeU8(static_cast<uint8_t>(len));
  out.writeBytes(text, static_cast<int32_t>(len));
}

}  // namespace

Socks5Connector::Socks5Connector(const char* host, int port, const char* proxy, Io* proxyIo, ProxyPasswdPrompt* prompt)
    : ProxyTcpConnector(host, port, proxy, proxyIo, prompt, "Direct TCP via SOCKS5 proxy %s",
                        "io_socks5_connection_type") {}

void Socks5Connector::checkTarget() {
  if (std::strlen(host_.c_str()) > kMaxField)
    throw proxyError(ProxyError::ConnectFailed, "Target host name longer than 255 bytes");
}

void Socks5Connector::sendGreeting() {
  authOffered_ = prompt_ || (user_ && password_) || retried_;
  if (authOffered_) {
    const uint8_t greeting[] = {kVersion, 2, kMethodUserPass, kMethodNone};
    out_->writeBytes(greeting, sizeof greeting);
  } else {
    const uint8_t greeting[] = {kVersion, 1, kMethodNone};
    out_->writeBytes(greeting, sizeof greeting);
  }
  out_->flush();
  stateFn_ = &Socks5Connector::readMethodChoice;
}

bool Socks5Connector::runState() {
  PLAT_ASSERT_TEXT(stateFn_, "stateFn_");
  StateFn step = stateFn_;
  const bool again = (this->*step)();
  if (again) in_->setCheckpoint();
  return again;
}

bool Socks5Connector::readMethodChoice() {
  in_->setCheckpoint();
  const uint8_t version = in_->readU8();
  const uint8_t method = in_->readU8();
  in_->setCheckpoint();
  if (version != kVersion) throw proxyError(ProxyError::BadProtocol);
  if (method == kMethodNone) {
    sendConnectRequest();
    return true;
  }
  if (method == kMethodUserPass) {
    if (user_ && password_) {
      sendUserPass();
      return true;
    }
    if (prompt_) {
      stateFn_ = &Socks5Connector::waitForPrompt;
      askPrompt();
      return false;
    }
    throw proxyError(ProxyError::AuthenticationRequired,
                     "UserPass authentication selected by proxy but no password supplied");
  }
  if (method == kMethodRefused && !authOffered_ && !retried_) {
    retried_ = true;
    stateFn_ = nullptr;
    restart();
    return false;
  }
  throw proxyError(ProxyError::AuthenticationUnsupported);
}

bool Socks5Connector::waitForPrompt() {
  // Nothing may come while the user is asked.
  in_->check(true, 1);
  throw plat::Exception("unexpected data");
}

void Socks5Connector::passwordEntered(const char* user, const char* password) {
  setCredentials(user, password);
  try {
    sendUserPass();
  } catch (const plat::Exception& e) {
    reportFailure(e);
    return;
  }
  resumeAfterPrompt();
}

void Socks5Connector::sendUserPass() {
  // The credentials go once; nothing keeps them afterwards.
  const plat::SecretText user = std::move(user_);
  const plat::SecretText password = std::move(password_);
  if (user.empty()) throw proxyError(ProxyError::AuthenticationFailed, "Username not provided");
  if (password.empty()) throw proxyError(ProxyError::AuthenticationFailed, "Password not provided");
  out_->writeU8(kUserPassVersion);
  writeField(*out_, user.c_str());
  writeField(*out_, password.c_str());
  out_->flush();
  stateFn_ = &Socks5Connector::readUserPassReply;
}

bool Socks5Connector::readUserPassReply() {
  const uint8_t version = in_->readU8();
  const uint8_t status = in_->readU8();
  in_->setCheckpoint();
  if (version != kUserPassVersion) throw proxyError(ProxyError::BadProtocol);
  if (status != 0) throw proxyError(ProxyError::AuthenticationFailed);
  sendConnectRequest();
  return true;
}

void Socks5Connector::sendConnectRequest() {
  const uint8_t head[] = {kVersion, kCommandConnect, 0};
  out_->writeBytes(head, sizeof head);
  const plat::CharArray bare = hostFromBracketed(host_.c_str());
  uint8_t address[16];
  if (inet_pton(AF_INET, bare.c_str(), address) == 1) {
    out_->writeU8(kAddrIpv4);
    out_->writeBytes(address, 4);
  } else if (inet_pton(AF_INET6, bare.c_str(), address) == 1) {
    out_->writeU8(kAddrIpv6);
    out_->writeBytes(address, 16);
  } else {
    // checkTarget has refused longer names.
    out_->writeU8(kAddrDomain);
    writeField(*out_, host_.c_str());
  }
  out_->writeU16(static_cast<uint16_t>(port_));
  out_->flush();
  stateFn_ = &Socks5Connector::readConnectReply;
}

bool Socks5Connector::readConnectReply() {
  const uint8_t version = in_->readU8();
  const uint8_t code = in_->readU8();
  if (version != kVersion) throw proxyError(ProxyError::BadProtocol);
  switch (code) {
    case 0: {
      in_->skip(1);
      const uint8_t type = in_->readU8();
      if (type != kAddrIpv4 && type != kAddrIpv6) throw proxyError(ProxyError::BadProtocol);
      in_->skip((type == kAddrIpv4 ? 4 : 16) + 2);
      in_->setCheckpoint();
      stateFn_ = nullptr;
      finish();
      return false;
    }
    case 2:
      if (!authOffered_ && !retried_) {
        retried_ = true;
        stateFn_ = nullptr;
        restart();
        return false;
      }
      throw proxyError(ProxyError::ConnectDenied);
    case 8:
      throw proxyError(ProxyError::ConnectDenied);
    case 3:
    case 4:
    case 5:
    case 6:
      throw proxyError(ProxyError::ConnectFailed);
    default:
      throw proxyError(ProxyError::BadProtocol);
  }
}

}  // namespace io
