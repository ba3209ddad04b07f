#include "capture/session_filter_capture.h"

#include <pcap/dlt.h>

#include "capture/capture_session.h"

SessionFilterCapture::SessionFilterCapture(CaptureSession& session, std::function<bool()> monitoring,
                                           std::function<std::string()> chosenDevice)
    : m_session(session), m_monitoring(std::move(monitoring)), m_chosenDevice(std::move(chosenDevice)) {}

void SessionFilterCapture::CaptureOpened(const std::string& device) {
  if (m_session.LinkType() >= 0) m_linkTypes[device] = m_session.LinkType();
}

int SessionFilterCapture::LinkType() const {
  // Running from the moment the capture starts: the filters it is given at
  // its start are compiled for its link type.
  if (m_session.IsRunning() && m_session.LinkType() >= 0) return m_session.LinkType();
  const auto known = m_linkTypes.find(m_chosenDevice());
  return known != m_linkTypes.end() ? known->second : DLT_EN10MB;
}

void SessionFilterCapture::InstallFilter(const std::string& expression) { m_session.InstallFilter(expression); }
