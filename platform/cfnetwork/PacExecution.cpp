#include "platform/cfnetwork/PacExecution.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>

#include "qocore/base/plat/Mutex.h"
#include "qocore/base/plat/Time.h"
#include "qocore/base/plat/UniqueFd.h"

namespace cfnetwork {

// What the worker and its owner share: the worker's result and the way to
// tell the owner, which is cleared once the owner has gone.
struct PacUrlExecution::Job {
  plat::Mutex mutex;
  PacOutcome outcome PLAT_GUARDED_BY(mutex);
  bool done PLAT_GUARDED_BY(mutex) = false;
  io::FdKicker* kicker PLAT_GUARDED_BY(mutex) = nullptr;
  plat::UniqueFd signal PLAT_GUARDED_BY(mutex);
};

namespace {

PacOutcome evaluate(const char* script, size_t length, const std::string& targetUrl, const std::string& host) {
  PacOutcome outcome;
  plat::CharArray answer;
  outcome.ok = evaluatePacScript(script, length, targetUrl.c_str(), host.c_str(), answer, outcome.error);
  if (outcome.ok) outcome.proxies = parsePacAnswer(answer.c_str());
  return outcome;
}

void finish(PacUrlExecution::Job& job, PacOutcome outcome) {
  plat::MutexLock lock(job.mutex);
  job.outcome = std::move(outcome);
  job.done = true;
  if (job.kicker) job.kicker->kick();
  if (job.signal.get() >= 0) {
    char byte = 0;
    (void)!::write(job.signal.get(), &byte, 1);
  }
}

}  // namespace

PacUrlExecution::PacUrlExecution(const char* pacUrl, const char* targetUrl, const char* host, Callback* callback)
    : job_(std::make_shared<Job>()), callback_(callback), kicker_(this), timer_(this) {
  {
    plat::MutexLock lock(job_->mutex);
    job_->kicker = &kicker_;
  }
  std::thread([job = job_, url = std::string(pacUrl), target = std::string(targetUrl), name = std::string(host)] {
    PacOutcome outcome;
    plat::CharArray body;
    size_t length = 0;
    plat::CharArray problem;
    if (downloadUrl(url.c_str(), body, length, problem))
      outcome = evaluate(body.get(), length, target, name);
    else
      outcome.error.description =
          plat::CharArray(("PAC file download failed: " + std::string(problem.c_str())).c_str());
    finish(*job, std::move(outcome));
  }).detach();
}

PacUrlExecution::~PacUrlExecution() {
  timer_.cancel();
  plat::MutexLock lock(job_->mutex);
  job_->kicker = nullptr;
}

void PacUrlExecution::kicked(io::FdKicker& kicker, rdr::InStream&) {
  kicker.drain();
  timer_.start(0);
}

bool PacUrlExecution::timerExpired(plat::Timer*) {
  PacOutcome outcome;
  {
    plat::MutexLock lock(job_->mutex);
    if (!job_->done || !job_->kicker) return false;
    job_->kicker = nullptr;
    outcome = std::move(job_->outcome);
  }
  // The callback may destroy this execution: nothing below.
  if (callback_) callback_->pacExecuted(*this, outcome);
  return false;
}

bool executePacScript(const char* script, size_t length, const char* targetUrl, const char* host, int timeoutMs,
                      PacOutcome& outcome) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return false;
  plat::UniqueFd readEnd(ends[0]);
  auto job = std::make_shared<PacUrlExecution::Job>();
  {
    plat::MutexLock lock(job->mutex);
    job->signal = plat::UniqueFd(ends[1]);
  }
  std::thread([job, text = std::string(script, length), target = std::string(targetUrl), name = std::string(host)] {
    finish(*job, evaluate(text.data(), text.size(), target, name));
  }).detach();
  plat::TimeValue deadline = plat::getMonotonicTime() + timeoutMs * plat::kTicksPerMs;
  for (;;) {
    plat::TimeValue left = deadline - plat::getMonotonicTime();
    if (left <= 0) return false;
    pollfd wait{readEnd.get(), POLLIN, 0};
    int ready = ::poll(&wait, 1, static_cast<int>((left + plat::kTicksPerMs - 1) / plat::kTicksPerMs));
    if (ready > 0) break;
    if (ready < 0 && errno != EINTR) return false;
  }
  plat::MutexLock lock(job->mutex);
  outcome = std::move(job->outcome);
  return job->done;
}

}  // namespace cfnetwork
