#include "qocore/base/io/FdSelectManager.h"

#include <algorithm>

#include "qocore/base/io/FdHandler.h"
#include "qocore/base/plat/Time.h"

namespace io {

FdSelectManager::~FdSelectManager() { forgetHandlers(); }

bool FdSelectManager::updateInterest(FdHandler* handler, Interest interest) {
  auto apply = [handler](std::vector<FdHandler*>& list, bool on) {
    if (on)
      insert(list, handler);
    else
      erase(list, handler);
  };
  apply(readWatch_, hasAny(interest, Interest::kRead | Interest::kAccept));
  apply(writeWatch_, hasAny(interest, Interest::kWrite));
  apply(exceptWatch_, hasAny(interest, Interest::kExcept));
  return !hasAny(interest, Interest::kPending);
}

bool FdSelectManager::poll(int timeoutMs) {
  // One pollfd per watched handler, in handler order.
  fds_.clear();
  fdOwners_.clear();
  std::vector<FdHandler*> watched;
  watched.reserve(readWatch_.size() + writeWatch_.size() + exceptWatch_.size());
  std::set_union(readWatch_.begin(), readWatch_.end(), writeWatch_.begin(), writeWatch_.end(),
                 std::back_inserter(watched));
  std::vector<FdHandler*> all;
  std::set_union(watched.begin(), watched.end(), exceptWatch_.begin(), exceptWatch_.end(), std::back_inserter(all));
  auto has = [](const std::vector<FdHandler*>& list, FdHandler* h) {
    return std::binary_search(list.begin(), list.end(), h);
  };
  for (FdHandler* h : all) {
    if (h->fd_ < 0) continue;
    short events = 0;
    if (has(readWatch_, h)) events |= POLLIN;
    if (has(writeWatch_, h)) events |= POLLOUT;
    if (has(exceptWatch_, h)) events |= POLLPRI;
    fds_.push_back(pollfd{h->fd_, events, 0});
    fdOwners_.push_back(h);
  }

  bool timersDue = false;
  int next = timerManager().msUntilNext();
  if (next >= 0 && (timeoutMs < 0 || timeoutMs >= next)) {
    timeoutMs = next;
    timersDue = true;
  }
  int n;
  do {
    n = plat::pollMs(fds_.data(), fds_.size(), &timeoutMs, true);
  } while (n < 0);

  if (n > 0) {
    for (size_t i = 0; i < fds_.size(); ++i) {
      short r = fds_[i].revents;
      if (r == 0) continue;
      FdHandler* h = fdOwners_[i];
      // An earlier entry's handler cannot have run yet: the pass comes last.
      if (!isRegistered(h)) continue;
      // As select reported them: only for the sets the descriptor was in.
      const short asked = fds_[i].events;
      if ((asked & POLLIN) && (r & (POLLIN | POLLHUP | POLLERR | POLLNVAL))) noteReadReady(h);
      if ((asked & POLLPRI) && (r & POLLPRI)) noteReadReady(h);
      if ((asked & POLLOUT) && (r & (POLLOUT | POLLHUP | POLLERR | POLLNVAL))) noteWriteReady(h);
    }
  }
  dispatch();
  return timersDue || n != 0;
}

}  // namespace io
