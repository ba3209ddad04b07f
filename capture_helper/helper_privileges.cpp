#include "capture_helper/helper_privileges.h"

#include <sys/capability.h>
#include <sys/prctl.h>

namespace {

bool Holds(cap_t caps, cap_value_t capability, cap_flag_t set) {
  cap_flag_value_t value = CAP_CLEAR;
  return cap_get_flag(caps, capability, set, &value) == 0 && value == CAP_SET;
}

void SetEffective(const std::vector<cap_value_t>& capabilities, bool on) {
  cap_t caps = cap_get_proc();
  if (caps == nullptr) return;
  for (cap_value_t capability : capabilities)
    if (Holds(caps, capability, CAP_PERMITTED)) cap_set_flag(caps, CAP_EFFECTIVE, 1, &capability, on ? CAP_SET : CAP_CLEAR);
  cap_set_proc(caps);
  cap_free(caps);
}

bool HoldsNone() {
  cap_t held = cap_get_proc();
  cap_t none = cap_init();
  const bool empty = held != nullptr && none != nullptr && cap_compare(held, none) == 0;
  cap_free(held);
  cap_free(none);
  return empty;
}

}  // namespace

void KeepOnlyCaptureCapabilities(bool socketEvents) {
  prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
  cap_t held = cap_get_proc();
  cap_t kept = cap_init();
  if (held != nullptr && kept != nullptr) {
    std::vector<cap_value_t> wanted = {CAP_NET_RAW};
    if (socketEvents) wanted.insert(wanted.end(), {CAP_BPF, CAP_NET_ADMIN});
    for (cap_value_t capability : wanted)
      if (Holds(held, capability, CAP_PERMITTED)) cap_set_flag(kept, CAP_PERMITTED, 1, &capability, CAP_SET);
    cap_set_proc(kept);
  }
  cap_free(held);
  cap_free(kept);
}

RaisedCapabilities::RaisedCapabilities(std::initializer_list<cap_value_t> capabilities)
    : m_capabilities(capabilities) {
  SetEffective(m_capabilities, true);
}
RaisedCapabilities::~RaisedCapabilities() { SetEffective(m_capabilities, false); }

bool DropCapabilitiesForGood() {
  prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
  cap_t none = cap_init();
  if (none != nullptr) cap_set_proc(none);
  cap_free(none);
  // Without it an exec of a file with capabilities (or, as root, of any
  // file) would hand them back.
  const bool noNewPrivileges =
      prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && prctl(PR_GET_NO_NEW_PRIVS, 0, 0, 0, 0) == 1;
  return noNewPrivileges && HoldsNone();
}
