#include "ui/adapter_list.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

const sockaddr_in* FirstIpv4Address(const pcap_if_t& device) {
  for (const pcap_addr_t* a = device.addresses; a != nullptr; a = a->next) {
    if (a->addr != nullptr && a->addr->sa_family == AF_INET)
      return reinterpret_cast<const sockaddr_in*>(a->addr);
  }
  return nullptr;
}

}  // namespace

std::vector<AdapterItem> AdapterItemsFrom(const pcap_if_t* devices) {
  std::vector<AdapterItem> items;
  for (const pcap_if_t* device = devices; device != nullptr; device = device->next) {
    const sockaddr_in* address = FirstIpv4Address(*device);
    if (address == nullptr) continue;
    char dotted[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address->sin_addr, dotted, sizeof dotted);
    std::string text = dotted;
    text += " - ";
    if (device->description != nullptr) text += device->description;
    items.push_back({std::move(text), device->name != nullptr ? device->name : ""});
  }
  return items;
}

std::vector<AdapterItem> FindAdapters() {
  char error[PCAP_ERRBUF_SIZE] = {};
  pcap_if_t* devices = nullptr;
  if (pcap_findalldevs(&devices, error) != 0) return {};
  std::vector<AdapterItem> items = AdapterItemsFrom(devices);
  pcap_freealldevs(devices);
  return items;
}
