#pragma once

#include <sys/capability.h>

#include <initializer_list>
#include <vector>

// The helper's privileges are CAP_NET_RAW, to open the adapter, and, for
// the socket programs alone, CAP_BPF and CAP_NET_ADMIN: granted to its file
// as permitted capabilities (or held as root). Each is effective only
// while it is used, and all are gone for good before the first frame is
// read. Promiscuous mode on Linux goes through the packet socket's
// membership list, which CAP_NET_RAW covers.

// Empties every capability set but keeps CAP_NET_RAW permitted when it
// was, and CAP_BPF and CAP_NET_ADMIN too when `socketEvents`; nothing
// effective. Run as root, this lets go of everything else root holds before
// any library runs.
void KeepOnlyCaptureCapabilities(bool socketEvents);

// The capabilities effective for the object's lifetime, those of them
// that are permitted.
class RaisedCapabilities {
 public:
  explicit RaisedCapabilities(std::initializer_list<cap_value_t> capabilities);
  ~RaisedCapabilities();
  RaisedCapabilities(const RaisedCapabilities&) = delete;
  RaisedCapabilities& operator=(const RaisedCapabilities&) = delete;

 private:
  std::vector<cap_value_t> m_capabilities;
};

// Empties every capability set, the ambient one included, and sets
// no-new-privileges, so that nothing this process does or runs can gain a
// capability again. True when the process then holds none.
bool DropCapabilitiesForGood();
