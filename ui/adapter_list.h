#pragma once

#include <pcap/pcap.h>

#include <string>
#include <vector>

// One entry of the adapter selector.
struct AdapterItem {
  std::string text;        // "<first IPv4 address> - <description, else the device name>"
  std::string deviceName;  // what the capture library opens
};

// The entries for a device list as the capture library hands it out, in its
// order. A device is listed with its first IPv4 address; one without any
// is left out, since the monitor accounts only IPv4 traffic.
std::vector<AdapterItem> AdapterItemsFrom(const pcap_if_t* devices);

// The machine's adapters; empty when the capture library cannot list them.
std::vector<AdapterItem> FindAdapters();
