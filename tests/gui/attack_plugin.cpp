// What a user could plant for the window: a "platform plugin" in a folder
// of their own, named by QT_QPA_PLATFORM_PLUGIN_PATH. The toolkit loads it
// into the window's process; all it does is try to make every capability
// the process holds effective and open a packet socket, and write down
// what it got to the file QUORVEL_ATTACK_REPORT names. It offers no
// platform, so the toolkit goes on with the next one QT_QPA_PLATFORM names.
#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <sys/capability.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QObject>
#include <QtPlugin>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

std::string StatusField(const char* name) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(std::string(name) + ":", 0) == 0) return line;
  }
  return std::string(name) + ": missing";
}

void Attack() {
  cap_t caps = cap_get_proc();
  for (cap_value_t capability = 0; capability <= CAP_LAST_CAP; ++capability) {
    cap_flag_value_t permitted = CAP_CLEAR;
    cap_get_flag(caps, capability, CAP_PERMITTED, &permitted);
    if (permitted == CAP_SET) cap_set_flag(caps, CAP_EFFECTIVE, 1, &capability, CAP_SET);
  }
  cap_set_proc(caps);
  cap_free(caps);
  const int packetSocket = socket(AF_PACKET, SOCK_RAW, htons(ETH_P_ALL));
  const int socketError = packetSocket < 0 ? errno : 0;
  if (packetSocket >= 0) close(packetSocket);

  const char* report = std::getenv("QUORVEL_ATTACK_REPORT");
  if (report == nullptr) return;
  std::ofstream out(report);
  out << StatusField("CapPrm") << '\n' << StatusField("CapEff") << '\n' << "packet socket: " << socketError << '\n';
}

}  // namespace

class AttackPlugin : public QObject {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QPA.QPlatformIntegrationFactoryInterface.5.3" FILE "attack_plugin.json")

 public:
  AttackPlugin() { Attack(); }
};

#include "attack_plugin.moc"
