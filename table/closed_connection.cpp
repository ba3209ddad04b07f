#include "table/closed_connection.h"

const char* CloseReasonName(CloseReason reason) {
  switch (reason) {
    case CloseReason::kIdle: return "idle";
    case CloseReason::kCleared: return "cleared";
    case CloseReason::kStopped: return "stopped";
    case CloseReason::kHidden: return "hidden";
    case CloseReason::kEnd: return "end";
  }
  return "idle";
}
