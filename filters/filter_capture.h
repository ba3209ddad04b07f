#pragma once

#include <string>

// What the filter store needs of the capture: whether the user is
// monitoring, the link layer its expressions are compiled for, and a way
// to hand the running capture its filter.
class FilterCapture {
 public:
  virtual ~FilterCapture() = default;
  // From a successful start of monitoring to the next stop.
  virtual bool Monitoring() const = 0;
  // The link type (DLT_...) that expressions are checked against: the
  // running capture's; with none, that of the adapter the next one will
  // open, as far as it is known.
  virtual int LinkType() const = 0;
  // Gives the running capture this filter in place of the one it has; an
  // empty expression takes every packet. Does nothing without a capture.
  virtual void InstallFilter(const std::string& expression) = 0;
};
