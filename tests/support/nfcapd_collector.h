#pragma once

// nfdump's collector, nfcapd, run by a test on a loopback port of its own
// into a folder of the test's; nfdump reads back what it stored.
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/program_run.h"

class NfcapdCollector {
 public:
  // Empty when nfcapd and nfdump are there; otherwise why the test skips.
  static std::string Unavailable() {
    for (const char* program : {"/usr/bin/nfcapd", "/usr/bin/nfdump"})
      if (access(program, X_OK) != 0)
        return std::string(program) + " is missing: apt-get install nfdump (scripts/test installs it)";
    return {};
  }

  explicit NfcapdCollector(const std::filesystem::path& folder) : m_folder(folder) {
    std::filesystem::create_directories(Flows());
    m_port = FreeUdpPort();
    m_pid = fork();
    if (m_pid == 0) {
      const std::string log = (m_folder / "nfcapd.log").string();
      if (!freopen(log.c_str(), "w", stdout) || !freopen(log.c_str(), "a", stderr)) _exit(120);
      const std::string port = std::to_string(m_port), flows = Flows().string();
      execl("/usr/bin/nfcapd", "nfcapd", "-w", flows.c_str(), "-p", port.c_str(), "-b", "127.0.0.1",
            static_cast<char*>(nullptr));
      _exit(121);
    }
    // Listening once the port is taken.
    for (int i = 0; i < 500 && PortIsFree(m_port); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ~NfcapdCollector() { Stop(); }

  std::string Address() const { return "127.0.0.1:" + std::to_string(m_port); }

  // Waits until nfcapd has read every datagram that reached its socket,
  // then ends it, which stores its flows. Returns its log.
  std::string Stop() {
    if (m_pid <= 0) return m_log;
    for (int i = 0; i < 500 && ReceiveQueue(m_port) != 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    kill(m_pid, SIGTERM);
    waitpid(m_pid, nullptr, 0);
    m_pid = -1;
    m_log = ReadWholeText(m_folder / "nfcapd.log");
    return m_log;
  }

  // nfdump's CSV of every flow stored, header first.
  std::string FlowsCsv() const {
    const ProgramRun run = RunProgram("/usr/bin/nfdump", {"-R", Flows().string(), "-o", "csv", "-N"});
    return run.out;
  }

 private:
  std::filesystem::path Flows() const { return m_folder / "flows"; }

  static bool PortIsFree(int port) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool free = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return free;
  }

  static int FreeUdpPort() {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
  }

  // The bytes waiting in the receive queue of the UDP socket on the port,
  // from the kernel's table; 0 when there is none.
  static unsigned long ReceiveQueue(int port) {
    std::ifstream table("/proc/net/udp");
    std::string line;
    std::getline(table, line);
    while (std::getline(table, line)) {
      unsigned localPort = 0;
      unsigned long tx = 0, rx = 0;
      if (std::sscanf(line.c_str(), " %*d: %*x:%x %*x:%*x %*x %lx:%lx", &localPort, &tx, &rx) == 3 &&
          static_cast<int>(localPort) == port)
        return rx;
    }
    return 0;
  }

  std::filesystem::path m_folder;
  int m_port = 0;
  pid_t m_pid = -1;
  std::string m_log;
};
