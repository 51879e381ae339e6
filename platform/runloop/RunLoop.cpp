#include "platform/runloop/RunLoop.h"

#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>
#include <thread>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/ScopeExit.h"

namespace runloop {

namespace {

// Host monotonic milliseconds: the limits of runOnce are real waits, even
// while tests replace the timers' clock.
int64_t hostNowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1'000'000;
}

// Restores the innermost stop flag when a run ends, also by an exception.
class StopScope {
 public:
  StopScope(bool*& slot, bool* flag) : slot_(slot), saved_(slot) { slot_ = flag; }
  ~StopScope() { slot_ = saved_; }
  StopScope(const StopScope&) = delete;
  StopScope& operator=(const StopScope&) = delete;

 private:
  bool*& slot_;
  bool* saved_;
};

constexpr int kMaxEvents = 64;

}  // namespace

RunLoop::RunLoop() : epfd_(epoll_create1(EPOLL_CLOEXEC)) {
  if (!epfd_) throw plat::StdlibException("epoll_create1");
}

RunLoop::~RunLoop() {
  for (auto& entry : sources_) entry.second->valid_ = false;
}

#ifndef NDEBUG
void RunLoop::assertOwner() const {
  const bool onOwnerThread = std::this_thread::get_id() == owner_;
  PLAT_ASSERT(onOwnerThread);
}
#endif

const std::shared_ptr<RunLoop>& RunLoop::currentShared() {
  // The thread's reference goes when the thread ends; holders of another
  // reference (a manager that lives until exit) keep the loop until then.
  thread_local std::shared_ptr<RunLoop> loop = std::make_shared<RunLoop>();
  return loop;
}

RunLoop& RunLoop::current() { return *currentShared(); }

Source* RunLoop::addSource(int fd, Source::Callout callout, unsigned enabled) {
  assertOwner();
  // A live source on this number belongs to a descriptor that was closed
  // before its removeSource: its registration gives way to the new one.
  bool retired = false;
  for (auto& entry : sources_) {
    Source& old = *entry.second;
    if (old.fd_ != fd || old.stale_) continue;
    old.stale_ = true;
    retired = retired || old.registered_ != 0;
    old.registered_ = 0;
    if (old.alwaysReady_) std::erase(alwaysReady_, old.id_);
    old.alwaysReady_ = false;
  }
  if (retired) rebuildEpoll();

  uint64_t id = nextId_++;
  std::shared_ptr<Source> source(new Source(this, fd, std::move(callout), id));
  source->enabled_ = enabled & (kReadCallBack | kWriteCallBack | kConnectCallBack);
  sources_.emplace(id, source);
  // A descriptor epoll refuses leaves no source behind.
  plat::ScopeExit forget([this, id] {
    sources_.erase(id);
    std::erase(alwaysReady_, id);
  });
  updateEpoll(source.get());
  forget.dismiss();
  return source.get();
}

void RunLoop::rebuildEpoll() {
  // The stale registration may still be alive in epoll when a duplicate
  // keeps its description open, and its number now names another file, so
  // it cannot be deleted by number: a fresh epoll set takes the live ones.
  plat::UniqueFd fresh(epoll_create1(EPOLL_CLOEXEC));
  if (!fresh) throw plat::StdlibException("epoll_create1");
  for (auto& entry : sources_) {
    Source& s = *entry.second;
    if (s.stale_ || s.registered_ == 0) continue;
    epoll_event ev{};
    ev.events = s.registered_;
    ev.data.u64 = s.id_;
    // A descriptor closed meanwhile (the caller's fault too) stays silent.
    if (epoll_ctl(fresh.get(), EPOLL_CTL_ADD, s.fd_, &ev) != 0) s.registered_ = 0;
  }
  epfd_ = std::move(fresh);
}

void RunLoop::removeSource(Source* source) {
  assertOwner();
  PLAT_ASSERT(source && source->loop_ == this && source->valid_);
  source->valid_ = false;
  if (source->registered_ != 0) epoll_ctl(epfd_.get(), EPOLL_CTL_DEL, source->fd_, nullptr);
  source->registered_ = 0;
  if (source->alwaysReady_) std::erase(alwaysReady_, source->id_);
  // A callout running right now keeps its own reference.
  sources_.erase(source->id_);
}

void RunLoop::enableCallBacks(Source* source, unsigned bits) {
  assertOwner();
  ++enableCalls_;
  source->enabled_ |= bits & (kReadCallBack | kWriteCallBack | kConnectCallBack);
  updateEpoll(source);
}

void RunLoop::disableCallBacks(Source* source, unsigned bits) {
  assertOwner();
  ++disableCalls_;
  source->enabled_ &= ~bits;
  updateEpoll(source);
}

void RunLoop::updateEpoll(Source* source) {
  if (source->alwaysReady_ || source->stale_) return;
  uint32_t wanted = 0;
  if (source->enabled_ & kReadCallBack) wanted |= EPOLLIN;
  if (source->enabled_ & (kWriteCallBack | kConnectCallBack)) wanted |= EPOLLOUT;
  if (wanted == source->registered_) return;
  epoll_event ev{};
  ev.events = wanted;
  ev.data.u64 = source->id_;
  if (wanted == 0) {
    // epoll reports hang-ups even with an empty mask: leave the set, so a
    // hung-up descriptor nobody listens to cannot spin the loop.
    epoll_ctl(epfd_.get(), EPOLL_CTL_DEL, source->fd_, nullptr);
  } else if (epoll_ctl(epfd_.get(), source->registered_ ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, source->fd_, &ev) != 0) {
    if (errno != EPERM) throw plat::StdlibException("epoll_ctl");
    // Regular files and the like cannot be polled; they never block.
    source->alwaysReady_ = true;
    alwaysReady_.push_back(source->id_);
    wanted = 0;
  }
  source->registered_ = wanted;
}

std::function<void()> RunLoop::setTimerCallout(std::function<void()> callout) {
  assertOwner();
  std::swap(timerCallout_, callout);
  return callout;
}

void RunLoop::setTimerFireTime(plat::TimeValue due) {
  assertOwner();
  timerDue_ = due;
  timerArmed_ = true;
}

void RunLoop::clearTimer() {
  assertOwner();
  timerArmed_ = false;
}

int RunLoop::msUntilTimer() {
  if (!timerArmed_) return -1;
  plat::TimeValue left = timerDue_ - plat::getMonotonicTime();
  if (left <= 0) return 0;
  plat::TimeValue ms = (left + plat::kTicksPerMs - 1) / plat::kTicksPerMs;
  return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

bool RunLoop::fireTimerIfDue() {
  if (!timerArmed_ || timerDue_ > plat::getMonotonicTime()) return false;
  timerArmed_ = false;
  if (timerCallout_) {
    // A copy: the callout may replace itself.
    auto callout = timerCallout_;
    callout();
  }
  return true;
}

bool RunLoop::serve(const std::shared_ptr<Source>& source, uint32_t events) {
  Source& s = *source;
  bool served = false;
  if (s.stale_) return served;
  const bool readable = events & (EPOLLIN | EPOLLHUP | EPOLLERR);
  const bool writable = events & (EPOLLOUT | EPOLLHUP | EPOLLERR);
  if ((s.enabled_ & kReadCallBack) && readable) {
    served = true;
    s.callout_(kReadCallBack, 0);
  }
  if (!s.valid_) return served;
  if ((s.enabled_ & kConnectCallBack) && writable) {
    served = true;
    int error = 0;
    socklen_t len = sizeof error;
    if (getsockopt(s.fd_, SOL_SOCKET, SO_ERROR, &error, &len) != 0) error = errno;
    s.enabled_ &= ~kConnectCallBack;
    updateEpoll(&s);
    s.callout_(kConnectCallBack, error);
    if (!s.valid_) return served;
  }
  if ((s.enabled_ & kWriteCallBack) && writable) {
    served = true;
    s.enabled_ &= ~kWriteCallBack;
    updateEpoll(&s);
    s.callout_(kWriteCallBack, 0);
  }
  return served;
}

int RunLoop::turn(int timeoutMs, int maxSources, bool* timerFired) {
  int wait = msUntilTimer();
  if (wait < 0 || (timeoutMs >= 0 && timeoutMs < wait)) wait = timeoutMs;
  for (uint64_t id : alwaysReady_) {
    auto it = sources_.find(id);
    if (it != sources_.end() && it->second->enabled_ != 0) wait = 0;
  }
  epoll_event events[kMaxEvents];
  ++turns_;
  int n = epoll_wait(epfd_.get(), events, kMaxEvents, wait);
  if (n < 0) {
    if (errno != EINTR) throw plat::StdlibException("epoll_wait");
    n = 0;
  }
  *timerFired = fireTimerIfDue();
  int served = 0;
  auto stopped = [this] { return stopFlag_ && *stopFlag_; };
  for (int i = 0; i < n && served < maxSources && !stopped(); ++i) {
    auto it = sources_.find(events[i].data.u64);
    if (it == sources_.end()) continue;  // removed by an earlier callout
    std::shared_ptr<Source> source = it->second;
    if (serve(source, events[i].events)) ++served;
  }
  std::vector<uint64_t> ready = alwaysReady_;
  for (uint64_t id : ready) {
    if (served >= maxSources || stopped()) break;
    auto it = sources_.find(id);
    if (it == sources_.end()) continue;
    std::shared_ptr<Source> source = it->second;
    if (serve(source, EPOLLIN | EPOLLOUT)) ++served;
  }
  return served;
}

void RunLoop::run() {
  assertOwner();
  bool stopped = false;
  StopScope scope(stopFlag_, &stopped);
  bool fired;
  // Also with nothing to wait for: a loop runs until it is stopped.
  while (!stopped) turn(-1, INT_MAX, &fired);
}

void RunLoop::stop() {
  assertOwner();
  if (stopFlag_) *stopFlag_ = true;
}

RunLoop::Result RunLoop::runOnce(int timeoutMs) {
  assertOwner();
  bool stopped = false;
  StopScope scope(stopFlag_, &stopped);
  const int64_t deadline = timeoutMs < 0 ? -1 : hostNowMs() + timeoutMs;
  for (;;) {
    if (sources_.empty() && !timerArmed_) return Result::kFinished;
    int left = -1;
    if (deadline >= 0) {
      int64_t ms = deadline - hostNowMs();
      left = ms < 0 ? 0 : static_cast<int>(ms);
    }
    bool fired;
    int served = turn(left, 1, &fired);
    if (stopped) return Result::kStopped;
    if (served > 0) return Result::kHandledSource;
    if (deadline >= 0 && hostNowMs() >= deadline) return Result::kTimedOut;
  }
}

}  // namespace runloop
