#pragma once
// Which proxy serves a target: the question a proxy-choosing connector asks,
// and the prompt that asks the user for proxy credentials.
//
// A fetcher is made for one target and asked once.  It may answer inside
// fetch() or later from the loop; destroying it cancels a query still
// running.  Everything runs on the loop thread of the asker.

#include "qocore/base/plat/SecretText.h"

namespace plat {
class Exception;
}

namespace io {

// Asks the user for a proxy's user name and password.
class ProxyPasswdPrompt {
 public:
  // What to ask for; the connectors always ask for both.
  enum Ask { kAskUser = 1, kAskPassword = 2 };

  class Callback {
   public:
    virtual ~Callback();
    // The user's answer; the texts are the caller's and wiped by it.
    virtual void passwordEntered(const char* user, const char* password) = 0;
  };

  virtual ~ProxyPasswdPrompt();
  // Shows the prompt for the proxy (host:port); the answer comes later
  // through cb.
  virtual void ask(int what, const char* proxy, Callback* cb) = 0;
  // The callback is going away: it is not called any more.
  virtual void forget(Callback* cb) = 0;
};

// Credentials that come with a fetcher's answer.  A copy clones the user
// name and password; every copy wipes them when released.
struct ProxyCredentials {
  ProxyCredentials() = default;
  ProxyCredentials(ProxyPasswdPrompt* prompt, const char* user, const char* password);
  ProxyCredentials(const ProxyCredentials& other);
  ProxyCredentials& operator=(const ProxyCredentials& other);
  ProxyCredentials(ProxyCredentials&& other) noexcept = default;
  ProxyCredentials& operator=(ProxyCredentials&& other) noexcept = default;
  ~ProxyCredentials() = default;

  ProxyPasswdPrompt* prompt = nullptr;  // not owned; null when none
  plat::SecretText user;
  plat::SecretText password;
};

class ProxyFetcher;

class ProxyFetcherCallback {
 public:
  virtual ~ProxyFetcherCallback();
  // The proxy URL text ("direct://", "http://host:port",
  // "socks://host:port", possibly with user information) and credentials.
  virtual void onProxy(ProxyFetcher& fetcher, const char* proxyUrl, const ProxyCredentials& credentials) = 0;
  virtual void onProxyError(ProxyFetcher& fetcher, const plat::Exception& error) = 0;
};

class ProxyFetcher {
 public:
  virtual ~ProxyFetcher();
  // Starts the query; exactly one of the callback's operations follows,
  // possibly before fetch returns.
  virtual void fetch(ProxyFetcherCallback* cb) = 0;
};

}  // namespace io
