#include "ui/process_objects.h"

#include "config/settings.h"
#include "filters/filter_manager.h"
#include "platform/app_files.h"
#include "platform/crash_handler.h"
#include "resolve/ns_cashe.h"
#include "resolve/services_parser.h"
#include "table/traffic_list.h"

// The crash handler is built first of all (before the objects of other
// files too) and destroyed last, so that it covers the construction and
// destruction of everything else.
__attribute__((init_priority(101))) CCrashHandler theCrashHandler;

// Definition order is construction order. The settings come after the
// tables and are destroyed before them, at the very end of a normal exit:
// by then the window has stored its placement and the view its column
// widths, and everything is written at once. A process that is killed or
// crashes never gets here, and writes nothing. The filter store reads its
// file only when it is first needed.
CTrafficList theTrafficList(theSettings);
CNSCashe theNameCache;
CServicesParser theServices;
CSettings theSettings;
CFilterManager theFilterManager(platform::FiltersFilePath());

AppContext ProcessContext() {
  AppContext context{theTrafficList, theNameCache, theServices, theSettings};
  context.filters = &theFilterManager;
  return context;
}
