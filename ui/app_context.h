#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ui/adapter_list.h"
#include "ui/document_opener.h"
#include "ui/url_opener.h"

class CFilterManager;
class CNSCashe;
class CServicesParser;
class CSettings;
class CTrafficList;

// What the window works with: the process-wide objects, and the ways it
// reaches the system that a test replaces (the adapter list, the document
// viewer and the web browser). Without a filter store the window has no filters.
struct AppContext {
  CTrafficList& trafficList;
  CNSCashe& nameCache;
  CServicesParser& services;
  CSettings& settings;
  std::function<std::vector<AdapterItem>()> findAdapters = FindAdapters;
  std::function<void(const std::string& path)> openDocument = OpenDocument;
  std::function<bool(const QString& url)> openUrl = [](const QString& url) { return GotoURL(url); };
  CFilterManager* filters = nullptr;
};
