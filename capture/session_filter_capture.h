#pragma once

#include <functional>
#include <map>
#include <string>

#include "filters/filter_capture.h"

class CaptureSession;

// The filter store's way to a CaptureSession. It remembers the link type
// each adapter showed when a capture on it opened, so that expressions
// are checked for the adapter the user has chosen even while nothing is
// captured; an adapter never captured on is taken for Ethernet.
class SessionFilterCapture : public FilterCapture {
 public:
  // `monitoring` tells whether the user is monitoring; `chosenDevice` names
  // the adapter the next capture will open (empty: none chosen).
  SessionFilterCapture(CaptureSession& session, std::function<bool()> monitoring,
                       std::function<std::string()> chosenDevice);

  // A capture on `device` has opened: its link type is now known.
  void CaptureOpened(const std::string& device);

  bool Monitoring() const override { return m_monitoring(); }
  int LinkType() const override;
  void InstallFilter(const std::string& expression) override;

 private:
  CaptureSession& m_session;
  std::function<bool()> m_monitoring;
  std::function<std::string()> m_chosenDevice;
  std::map<std::string, int> m_linkTypes;
};
