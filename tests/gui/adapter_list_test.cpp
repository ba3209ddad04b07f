#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <deque>
#include <string>
#include <vector>

#include "gui/frame_fixture.h"
#include "ui/adapter_list.h"

namespace {

// A device list built by hand, shaped as the capture library returns it.
class DeviceList {
 public:
  struct Address {
    int family;  // negative: an entry without an address
    const char* text;
  };

  void Add(const char* name, const char* description, std::vector<Address> addresses) {
    pcap_if_t& device = devices_.emplace_back();
    device.name = const_cast<char*>(name);
    device.description = const_cast<char*>(description);
    pcap_addr_t** link = &device.addresses;
    for (const Address& a : addresses) {
      pcap_addr_t& entry = addresses_.emplace_back();
      sockaddr_storage& storage = storage_.emplace_back();
      storage.ss_family = static_cast<sa_family_t>(a.family);
      if (a.family == AF_INET)
        inet_pton(AF_INET, a.text, &reinterpret_cast<sockaddr_in&>(storage).sin_addr);
      else if (a.family == AF_INET6)
        inet_pton(AF_INET6, a.text, &reinterpret_cast<sockaddr_in6&>(storage).sin6_addr);
      entry.addr = a.family < 0 ? nullptr : reinterpret_cast<sockaddr*>(&storage);
      *link = &entry;
      link = &entry.next;
    }
    if (devices_.size() > 1) devices_[devices_.size() - 2].next = &device;
  }

  const pcap_if_t* Head() const { return devices_.empty() ? nullptr : &devices_.front(); }

 private:
  // Deques keep every element in place as more are added.
  std::deque<pcap_if_t> devices_;
  std::deque<pcap_addr_t> addresses_;
  std::deque<sockaddr_storage> storage_;
};

std::vector<std::string> Texts(const std::vector<AdapterItem>& items) {
  std::vector<std::string> texts;
  for (const AdapterItem& item : items) texts.push_back(item.text + " | " + item.deviceName);
  return texts;
}

TEST(AdapterItems, ListsEachDeviceWithItsFirstIpv4AddressInLibraryOrder) {
  DeviceList list;
  list.Add("any", "Pseudo-device that captures on all interfaces", {});
  list.Add("eth0", "Onboard Ethernet",
           {{AF_INET6, "fe80::1"}, {AF_INET, "192.168.1.20"}, {AF_INET, "10.0.0.5"}});
  list.Add("wg0", nullptr, {{AF_INET, "10.8.0.2"}});
  list.Add("tun0", "", {{AF_INET, "10.9.0.2"}});
  list.Add("ip6only", "IPv6 only", {{AF_INET6, "2001:db8::1"}});
  list.Add("noaddr", "No usable address", {{AF_UNSPEC, ""}, {-1, ""}});
  list.Add("veth-a", "Twin", {{AF_INET, "172.16.0.1"}});
  list.Add("veth-b", "Twin", {{AF_INET, "172.16.0.1"}});
  list.Add("lo", "Loopback", {{AF_INET, "127.0.0.1"}});

  EXPECT_EQ(Texts(AdapterItemsFrom(list.Head())), (std::vector<std::string>{
                                                      "192.168.1.20 - Onboard Ethernet | eth0",
                                                      "10.8.0.2 - wg0 | wg0",
                                                      "10.9.0.2 - tun0 | tun0",
                                                      "172.16.0.1 - Twin | veth-a",
                                                      "172.16.0.1 - Twin | veth-b",
                                                      "127.0.0.1 - Loopback | lo",
                                                  }));
  EXPECT_TRUE(AdapterItemsFrom(nullptr).empty());
}

using AdapterSelectorTest = FrameTest;

TEST_F(AdapterSelectorTest, StoredIndexSelectsAnAdapterOrNone) {
  struct Case {
    const char* stored;  // the settings file
    int selected;
  };
  const Case cases[] = {
      {"", 0},                       // first start: the first adapter
      {"[main]\nadapternum=1\n", 1},
      {"[main]\nadapternum=2\n", -1},  // the list became shorter
      {"[main]\nadapternum=-1\n", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    adapters = {{"10.0.0.1 - first", "dev-a"}, {"10.0.0.2 - second", "dev-b"}};
    Store(c.stored);
    CMainFrame& frame = OpenFrame();
    EXPECT_EQ(frame.AdapterSelector()->currentIndex(), c.selected);
    EXPECT_EQ(frame.SelectedAdapterDevice().toStdString(), c.selected < 0 ? "" : adapters[c.selected].deviceName);
    Restart();
  }
}

TEST_F(AdapterSelectorTest, NoAdaptersLeaveTheSelectorEmpty) {
  CMainFrame& frame = OpenFrame();
  EXPECT_EQ(frame.AdapterSelector()->count(), 0);
  EXPECT_EQ(frame.AdapterSelector()->currentIndex(), -1);
  EXPECT_TRUE(frame.SelectedAdapterDevice().isEmpty());
}

// The box is 250 pixels wide; its open list must show the longest entry whole.
TEST_F(AdapterSelectorTest, OpenListIsWideEnoughForTheLongestEntry) {
  adapters = {{"10.0.0.1 - short", "a"},
              {"192.168.100.200 - An adapter whose description runs far past the width of the box", "b"}};
  CMainFrame& frame = ShowFrame();
  QComboBox& selector = *frame.AdapterSelector();
  selector.showPopup();
  const QAbstractItemView& list = *selector.view();
  const int longest = list.fontMetrics().horizontalAdvance(QString::fromStdString(adapters[1].text));
  EXPECT_GT(longest, 250);
  EXPECT_GE(list.viewport()->width(), longest);
  EXPECT_GE(list.viewport()->width(), list.sizeHintForColumn(0));
  selector.hidePopup();
}

}  // namespace
