#include "qocore/base/plat/Thread.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"

namespace plat {

namespace {

PLAT_LOG_SOURCE(vlog, "Threading");

// The calling thread's object.  Per-thread state lives in a thread_local,
// which needs no key made by a static initialiser.
thread_local Thread* current = nullptr;

// Every native object ever made, so that they stay reachable for the
// process's life.
std::atomic<Thread*> natives{nullptr};

// pthread_t is an integer here and a pointer elsewhere; the log shows its
// bits in hexadecimal either way.
unsigned long idBits(pthread_t id) noexcept {
  unsigned long bits = 0;
  std::memcpy(&bits, &id, std::min(sizeof bits, sizeof id));
  return bits;
}

}  // namespace

ThreadRunner::~ThreadRunner() = default;

Thread::Thread(const char* name, ThreadRunner* runner) : name_(name), runner_(runner), state_(kCreated) {
  logEvent("created");
}

Thread::Thread(NativeTag)
    : name_("Native"), threadId_(pthread_self()), hasThreadId_(true), runner_(nullptr), state_(kNative) {
  logEvent("native");
}

Thread::~Thread() {
  logEvent("destroy");
  join();
  logEvent("destroyed");
}

void Thread::start() {
  MutexLock guard(lock_);
  if (state_ != kCreated) return;
  state_ = kStarted;
  int error = pthread_create(&threadId_, nullptr, &Thread::entry, this);
  if (error != 0) {
    state_ = kCreated;
    throw SystemException("pthread_create", error);
  }
  hasThreadId_ = true;
}

void Thread::run() {
  if (runner_) runner_->run(this);
}

Thread* Thread::join() {
  bool waitFor;
  pthread_t id;
  {
    MutexLock guard(lock_);
    if (state_ == kNative) return nullptr;
    if (state_ == kJoined) return this;
    waitFor = hasThreadId_;
    id = threadId_;
  }
  logEvent("join");
  // Never under the lock: the ending thread takes it to record that it
  // finished.
  if (waitFor) pthread_join(id, nullptr);
  {
    MutexLock guard(lock_);
    state_ = kJoined;
  }
  logEvent("joined");
  return this;
}

Thread* Thread::self() {
  if (current) return current;
  auto* native = new Thread(NativeTag{});
  native->nextNative_ = natives.load(std::memory_order_relaxed);
  while (!natives.compare_exchange_weak(native->nextNative_, native, std::memory_order_release,
                                        std::memory_order_relaxed)) {
  }
  current = native;
  return native;
}

Thread::State Thread::state() {
  MutexLock guard(lock_);
  return state_;
}

void* Thread::entry(void* self) noexcept {
  auto* thread = static_cast<Thread*>(self);
  current = thread;
  thread->logEvent("started");
  try {
    thread->run();
    thread->logEvent("stopped");
  } catch (const Exception& e) {
    thread->logEvent("failed", e.str());
  }
  MutexLock guard(thread->lock_);
  thread->state_ = kFinished;
  return nullptr;
}

void Thread::logEvent(const char* event, const char* detail) {
  unsigned long id;
  {
    // start() writes the handle under the lock while the new thread may
    // already be logging.
    MutexLock guard(lock_);
    id = hasThreadId_ ? idBits(threadId_) : 0;
  }
  vlog().debug("%-9s %s %lx%s%s", event, name_.c_str(), id, detail ? ": " : "", detail ? detail : "");
}

Condition::Condition(Mutex& mutex) noexcept : mutex_(&mutex) { pthread_cond_init(&cond_, nullptr); }

Condition::~Condition() { pthread_cond_destroy(&cond_); }

bool Condition::wait(int timeoutMs) {
  PLAT_ASSERT_MSG(timeoutMs == -1, "Condition timed wait not implemented yet");
  pthread_cond_wait(&cond_, mutex_->native());
  return true;
}

void Condition::signal() noexcept { pthread_cond_signal(&cond_); }

void Condition::broadcast() noexcept { pthread_cond_broadcast(&cond_); }

}  // namespace plat
