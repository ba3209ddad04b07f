#include "platform/capture_capabilities.h"
#include "platform/crash_handler.h"
#include "ui/crash_message.h"
#include "ui/process_objects.h"
#include "ui/quorvel_app.h"

int main(int argc, char* argv[]) {
  // Before the toolkit starts threads of its own, which would inherit them.
  platform::LowerCaptureCapabilities();
  ShowCrashMessageIfAsked(argc, argv);
  platform::PrepareThreadForCrashReport(platform::ThreadRole::kMain);
  CQuorvelApp app(argc, argv, ProcessContext());
  if (!app.InitInstance()) return 1;
  return app.exec();
}
