#include "table/traffic_display.h"

#include "table/connection_owner.h"

void TrafficDisplay::SetRowOwner(int row, const ConnectionOwner& owner) {
  char program[kProgramTextSize];
  SetCellText(row, kProcessColumn, ProgramText(owner, program));
  SetCellText(row, kUserColumn, UserText(owner));
}
