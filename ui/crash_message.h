#pragma once

// A crashed run starts the program afresh, with the crash handler's
// argument and the report's path, to tell the user where the report is.
// Call this first thing in main(): for such a run it shows the message
// (in a message box, or on standard error without a display) and ends the
// process without saving anything; for any other run it returns at once.
void ShowCrashMessageIfAsked(int argc, char* argv[]);
