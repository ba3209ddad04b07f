#pragma once

// The helper's one privilege is CAP_NET_RAW, granted to its file as a
// permitted capability (or held as root). It is effective only while the
// adapter opens, and gone for good before the first frame is read.
// Promiscuous mode on Linux goes through the packet socket's membership
// list, which CAP_NET_RAW covers: CAP_NET_ADMIN is never needed.

// Empties every capability set but keeps CAP_NET_RAW permitted when it
// was; nothing effective. Run as root, this lets go of everything else
// root holds before the capture library runs.
void KeepOnlyCaptureCapability();

// CAP_NET_RAW effective for the object's lifetime, where it is permitted.
class RaisedCaptureCapability {
 public:
  RaisedCaptureCapability();
  ~RaisedCaptureCapability();
  RaisedCaptureCapability(const RaisedCaptureCapability&) = delete;
  RaisedCaptureCapability& operator=(const RaisedCaptureCapability&) = delete;
};

// Empties every capability set, the ambient one included, and sets
// no-new-privileges, so that nothing this process does or runs can gain a
// capability again. True when the process then holds none.
bool DropCapabilitiesForGood();
