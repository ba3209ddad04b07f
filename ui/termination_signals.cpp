#include "ui/termination_signals.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <array>

namespace {

constexpr std::array kTerminationSignals = {SIGTERM, SIGINT, SIGHUP};

// Read by the handler, which runs on any thread: set before the handlers
// are installed and cleared only after they are taken away again.
volatile sig_atomic_t g_writeEnd = -1;
struct sigaction g_previous[kTerminationSignals.size()];

// Only async-signal-safe calls. A full pipe already holds a request, so a
// write that fails loses nothing.
void OnTerminationSignal(int signal) {
  const int savedErrno = errno;
  const unsigned char number = static_cast<unsigned char>(signal);
  if (g_writeEnd >= 0) (void)!write(g_writeEnd, &number, 1);
  errno = savedErrno;
}

}  // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return;
  m_readEnd = ends[0];
  g_writeEnd = ends[1];
  m_notifier = new QSocketNotifier(m_readEnd, QSocketNotifier::Read, this);
  connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::OnReadable);

  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < kTerminationSignals.size(); ++i)
    sigaction(kTerminationSignals[i], &action, &g_previous[i]);
}

TerminationSignals::~TerminationSignals() {
  if (m_notifier == nullptr) return;
  for (std::size_t i = 0; i < kTerminationSignals.size(); ++i)
    sigaction(kTerminationSignals[i], &g_previous[i], nullptr);
  const int writeEnd = g_writeEnd;
  g_writeEnd = -1;
  close(writeEnd);
  delete m_notifier;
  close(m_readEnd);
}

void TerminationSignals::OnReadable() {
  unsigned char numbers[16];
  ssize_t got = 0;
  int first = 0;
  while ((got = read(m_readEnd, numbers, sizeof numbers)) > 0)
    if (first == 0) first = numbers[0];
  // Later signals (a logout may send SIGHUP and then SIGTERM) find the
  // program ending already.
  if (first == 0 || m_requested) return;
  m_requested = true;
  emit terminationRequested(first);
}
