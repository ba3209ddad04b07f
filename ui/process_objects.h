#pragma once

#include "ui/app_context.h"

class CNSCashe;
class CServicesParser;
class CTrafficList;

// The process-wide objects, all defined in process_objects.cpp so that
// they are built in one fixed order before main() and destroyed in the
// reverse order after it. theSettings is declared with its class.
extern CTrafficList theTrafficList;
extern CNSCashe theNameCache;
extern CServicesParser theServices;

// The process-wide objects as the window takes them.
AppContext ProcessContext();
