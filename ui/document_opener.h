#pragma once

#include <string>

// Opens a local document (the help pages) in the desktop's viewer for its
// type; failing that, in the browser that $BROWSER names. Tells the user
// when the document is missing or nothing could show it.
void OpenDocument(const std::string& path);
