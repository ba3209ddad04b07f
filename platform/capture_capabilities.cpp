#include "platform/capture_capabilities.h"

#include <sys/capability.h>

#include "platform/app_files.h"

namespace platform {
namespace {

// The calling thread's capability sets, freed with the object.
class ThreadCapabilities {
 public:
  ThreadCapabilities() : m_caps(cap_get_proc()) {}
  ~ThreadCapabilities() {
    if (m_caps != nullptr) cap_free(m_caps);
  }
  ThreadCapabilities(const ThreadCapabilities&) = delete;
  ThreadCapabilities& operator=(const ThreadCapabilities&) = delete;

  bool Has(cap_value_t capability, cap_flag_t set) const {
    cap_flag_value_t value = CAP_CLEAR;
    return m_caps != nullptr && cap_get_flag(m_caps, capability, set, &value) == 0 && value == CAP_SET;
  }

  // Changes the effective bit of one capability; the change takes effect
  // with Commit().
  void SetEffective(cap_value_t capability, bool on) {
    if (m_caps != nullptr) cap_set_flag(m_caps, CAP_EFFECTIVE, 1, &capability, on ? CAP_SET : CAP_CLEAR);
  }

  bool Commit() { return m_caps != nullptr && cap_set_proc(m_caps) == 0; }

 private:
  cap_t m_caps;
};

std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted + "'";
}

}  // namespace

void LowerCaptureCapabilities() {
  ThreadCapabilities caps;
  if (!caps.Has(CAP_NET_RAW, CAP_EFFECTIVE) && !caps.Has(CAP_NET_ADMIN, CAP_EFFECTIVE)) return;
  caps.SetEffective(CAP_NET_RAW, false);
  caps.SetEffective(CAP_NET_ADMIN, false);
  caps.Commit();
}

bool CaptureCapabilitiesPermitted() { return ThreadCapabilities().Has(CAP_NET_RAW, CAP_PERMITTED); }

ScopedCaptureCapabilities::ScopedCaptureCapabilities() {
  ThreadCapabilities caps;
  m_rawWasEffective = caps.Has(CAP_NET_RAW, CAP_EFFECTIVE);
  m_adminWasEffective = caps.Has(CAP_NET_ADMIN, CAP_EFFECTIVE);
  caps.SetEffective(CAP_NET_RAW, caps.Has(CAP_NET_RAW, CAP_PERMITTED));
  caps.SetEffective(CAP_NET_ADMIN, caps.Has(CAP_NET_ADMIN, CAP_PERMITTED));
  caps.Commit();
  m_raised = ThreadCapabilities().Has(CAP_NET_RAW, CAP_EFFECTIVE);
}

ScopedCaptureCapabilities::~ScopedCaptureCapabilities() {
  ThreadCapabilities caps;
  caps.SetEffective(CAP_NET_RAW, m_rawWasEffective);
  caps.SetEffective(CAP_NET_ADMIN, m_adminWasEffective);
  caps.Commit();
}

std::string GrantCaptureCapabilitiesCommand() {
  return "sudo setcap cap_net_raw,cap_net_admin=p " + ShellQuoted(ExecutablePath());
}

}  // namespace platform
