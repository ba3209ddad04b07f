#pragma once

#include <string>

// Opening an adapter needs CAP_NET_RAW, and promiscuous mode CAP_NET_ADMIN.
// The program holds both permitted (granted to the executable file, or as
// root) but effective only while it opens an adapter, so that nothing else
// it runs, plugins of the window toolkit included, can use them.
//
// On Linux capabilities belong to a thread: every call here acts on the
// calling thread, and a new thread starts with the set of the thread that
// created it.
namespace platform {

// Takes both out of the calling thread's effective set and leaves them
// permitted. Call it first thing in main(), before other threads start.
// Harmless when they are not held.
void LowerCaptureCapabilities();

// Whether the calling thread may raise CAP_NET_RAW: capture can work.
bool CaptureCapabilitiesPermitted();

// Makes whichever of the two are permitted effective for its lifetime, and
// puts the effective set back as it found it when it ends. Start no thread
// inside the scope: the thread would keep them.
//
//   {
//     platform::ScopedCaptureCapabilities raised;
//     status = pcap_activate(handle);
//   }
class ScopedCaptureCapabilities {
 public:
  ScopedCaptureCapabilities();
  ~ScopedCaptureCapabilities();
  ScopedCaptureCapabilities(const ScopedCaptureCapabilities&) = delete;
  ScopedCaptureCapabilities& operator=(const ScopedCaptureCapabilities&) = delete;

  // True when CAP_NET_RAW is effective inside the scope.
  bool Raised() const { return m_raised; }

 private:
  bool m_raised = false;
  bool m_rawWasEffective = false;
  bool m_adminWasEffective = false;
};

// The command that grants the running executable what capture needs, to
// quote in a message when opening an adapter was refused.
std::string GrantCaptureCapabilitiesCommand();

}  // namespace platform
