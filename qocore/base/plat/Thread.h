#pragma once
// Threads and conditions: thin layers over POSIX threads.
//
// Almost everything runs on the main thread; a Thread runs one body (a
// ThreadRunner, or an override of run()) on a thread of its own.  Every
// event of a thread object is logged at debug level through "Threading".
//
// A thread object moves from created to started (start), to finished when
// its body returns or fails, and to joined (join).  The destructor joins,
// so destroying a started thread object waits for its body to end.  The
// object standing for a thread this layer did not create (see self()) is
// "native": it is never joined and lives until the process ends.
//
// A subclass that overrides run() joins in its own destructor: by the time
// ~Thread joins, the subclass part the body uses is already gone.

#include <pthread.h>

#include <cstdint>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/Mutex.h"

namespace plat {

class Thread;

// The body of a thread.
class ThreadRunner {
 public:
  virtual ~ThreadRunner();
  virtual void run(Thread* thread) = 0;
};

class Thread {
 public:
  enum State : int32_t { kCreated = 0, kStarted = 1, kFinished = 2, kJoined = 3, kNative = 4 };

  // The name is copied; the runner is not owned and may be null (then a
  // subclass overrides run()).
  explicit Thread(const char* name, ThreadRunner* runner = nullptr);
  virtual ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts the thread once; later calls do nothing.  When the system
  // refuses a thread, throws SystemException "pthread_create" and the
  // object stays created (no handle is left to join).
  void start();
  // Waits for the body to end and answers this; at once when the thread was
  // never started or is already joined.  A native object answers null.
  Thread* join();
  // The body: the runner's run() when there is a runner.  A plat::Exception
  // escaping it is logged ("failed") and ends the thread; other exceptions
  // end the process.
  virtual void run();

  // The calling thread's object; for a thread not created here (such as
  // the main thread) a native object named "Native", made on first call.
  static Thread* self();

  const char* name() const noexcept { return name_.c_str(); }
  State state();

 private:
  struct NativeTag {};
  explicit Thread(NativeTag);

  static void* entry(void* self) noexcept;
  // Logs "<event> <name> <id>[: <detail>]".
  void logEvent(const char* event, const char* detail = nullptr);

  CharArray name_;
  Mutex lock_;
  pthread_t threadId_ PLAT_GUARDED_BY(lock_){};
  bool hasThreadId_ PLAT_GUARDED_BY(lock_) = false;
  ThreadRunner* runner_;
  State state_ PLAT_GUARDED_BY(lock_);
  // Keeps the native objects reachable until the process ends.
  Thread* nextNative_ = nullptr;
};

// A condition variable that waits with a given (recursive) mutex, which
// the waiter holds exactly once.
class Condition {
 public:
  explicit Condition(Mutex& mutex) noexcept;
  ~Condition();
  Condition(const Condition&) = delete;
  Condition& operator=(const Condition&) = delete;

  // Waits until signalled and answers true.  Only the unlimited wait (-1)
  // exists; any other time-out fails an assertion.
  bool wait(int timeoutMs = -1);
  // Wakes one waiter, or all of them.
  void signal() noexcept;
  void broadcast() noexcept;

 private:
  pthread_cond_t cond_;
  Mutex* mutex_;
};

}  // namespace plat
