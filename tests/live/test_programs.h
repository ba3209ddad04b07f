#pragma once

// Programs of a test's own, with sockets, for the tests of which program
// owns a connection: forked, named, in the caller's network namespace.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <cstring>

#include "test_network.h"

// A process of the test's own under a name of its own, made in the calling
// thread's network namespace: it runs `body` once its sockets are made
// (`ready` then true) and says so, then serves them until it is killed.
// -1 when it could not be made.
inline pid_t StartProgram(const char* name, const std::function<bool(std::vector<int>&)>& open,
                   const std::function<void(std::vector<int>&)>& serve) {
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    prctl(PR_SET_NAME, name);
    std::vector<int> sockets;
    const char opened = open(sockets) ? 1 : 0;
    if (write(ready[1], &opened, 1) != 1 || opened == 0) _exit(1);
    serve(sockets);
    _exit(0);
  }
  close(ready[1]);
  char opened = 0;
  const bool started = child > 0 && read(ready[0], &opened, 1) == 1 && opened == 1;
  close(ready[0]);
  if (child > 0 && !started) {
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
  }
  return started ? child : -1;
}

inline int BoundSocket(int family, int type, const std::string& address, std::uint16_t port) {
  const int sock = socket(family, type | SOCK_CLOEXEC, 0);
  const sockaddr_storage at = Endpoint(family, address, port);
  const int one = 1;
  setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (sock < 0 || bind(sock, reinterpret_cast<const sockaddr*>(&at), SizeOf(at)) != 0) return -1;
  if (type == SOCK_STREAM && listen(sock, 8) != 0) return -1;
  return sock;
}

// Accepts connections and answers every datagram, until killed.
inline void Serve(std::vector<int>& sockets) {
  for (;;) {
    std::vector<pollfd> waiting;
    for (const int sock : sockets) waiting.push_back({sock, POLLIN, 0});
    if (poll(waiting.data(), waiting.size(), -1) < 0) continue;
    for (const pollfd& ready : waiting) {
      if ((ready.revents & POLLIN) == 0) continue;
      int type = 0;
      socklen_t length = sizeof type;
      getsockopt(ready.fd, SOL_SOCKET, SO_TYPE, &type, &length);
      int listening = 0;
      length = sizeof listening;
      getsockopt(ready.fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length);
      char data[512];
      if (listening != 0) {
        if (const int accepted = accept4(ready.fd, nullptr, nullptr, SOCK_CLOEXEC); accepted >= 0)
          sockets.push_back(accepted);
      } else if (type == SOCK_DGRAM) {
        sockaddr_storage from{};
        socklen_t fromLength = sizeof from;
        const ssize_t got = recvfrom(ready.fd, data, sizeof data, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (got > 0) sendto(ready.fd, data, static_cast<std::size_t>(got), 0, reinterpret_cast<sockaddr*>(&from), fromLength);
      } else if (read(ready.fd, data, sizeof data) <= 0) {
        close(ready.fd);
        std::erase(sockets, ready.fd);
      }
    }
  }
}

// From the calling thread's namespace, one TCP connection and one
// datagram of each family to `port` at the addresses given, each saying
// hello; a datagram's answer must come back.
inline void Greet(const std::string& ipv4, const std::string& ipv6, std::uint16_t port) {
  for (const int family : {AF_INET, AF_INET6}) {
    const sockaddr_storage at = Endpoint(family, family == AF_INET ? ipv4 : ipv6, port);
    for (const int type : {SOCK_STREAM, SOCK_DGRAM}) {
      const int sock = socket(family, type | SOCK_CLOEXEC, 0);
      const timeval patience{2, 0};
      setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
      char answer[8];
      EXPECT_EQ(connect(sock, reinterpret_cast<const sockaddr*>(&at), SizeOf(at)), 0) << std::strerror(errno);
      EXPECT_EQ(send(sock, "hello", 5, 0), 5);
      if (type == SOCK_DGRAM) {
        EXPECT_EQ(recv(sock, answer, sizeof answer, 0), 5) << "the answer came back";
      }
      close(sock);
    }
  }
}
