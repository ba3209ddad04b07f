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
    // Most Linux devices come without a description: their name is what
    // tells them apart then.
    const bool described = device->description != nullptr && device->description[0] != '\0';
    if (described)
      text += device->description;
    else if (device->name != nullptr)
      text += device->name;
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
