#include "ui/termination_signals.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <QSignalSpy>
#include <QTest>
#include <thread>

namespace {

void (*HandlerOf(int signal))(int) {
  struct sigaction current {};
  sigaction(signal, nullptr, &current);
  return current.sa_handler;
}

// The kernel hands a signal to whichever thread it likes: one that arrives
// on another thread is announced on this one, once, however many follow.
TEST(TerminationSignals, EachSignalIsAnnouncedOnceOnTheWindowThread) {
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(signal);
    const auto previous = HandlerOf(signal);
    {
      TerminationSignals termination;
      ASSERT_TRUE(termination.Installed());
      QSignalSpy requested(&termination, &TerminationSignals::terminationRequested);
      std::thread([signal] { pthread_kill(pthread_self(), signal); }).join();
      EXPECT_TRUE(QTest::qWaitFor([&] { return requested.count() == 1; }, 5000));
      ASSERT_EQ(requested.count(), 1);
      EXPECT_EQ(requested[0][0].toInt(), signal);
      raise(SIGHUP);
      QTest::qWait(50);
      EXPECT_EQ(requested.count(), 1);
    }
    EXPECT_EQ(HandlerOf(signal), previous) << "the handler before comes back";
  }
}

}  // namespace
