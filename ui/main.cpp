#include "platform/capture_capabilities.h"
#include "ui/process_objects.h"
#include "ui/quorvel_app.h"

int main(int argc, char* argv[]) {
  // Before the toolkit starts threads of its own, which would inherit them.
  platform::LowerCaptureCapabilities();
  CQuorvelApp app(argc, argv, ProcessContext());
  if (!app.InitInstance()) return 1;
  return app.exec();
}
