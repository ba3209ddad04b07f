/* One socket operation as the helper's kernel programs see it, written to
 * the socket-events channel as it is in memory: the same header builds the
 * programs (C, for the kernel) and both ends of the channel. */
#pragma once

#include <linux/types.h>

enum SocketEventKind {
  /* The first record of a channel: the programs are attached. */
  kSocketEventsAttached = 1,
  /* A program connects (TCP, or UDP's connect): the remote end. */
  kSocketConnect = 2,
  /* A program sends a datagram to an address: both ports, the remote address. */
  kSocketSend = 3,
  /* A program binds: the local end. */
  kSocketBind = 4,
  /* A TCP connection is established, either way: both ends, no process (the
   * kernel completes it outside the program). */
  kSocketEstablished = 5,
};

struct SocketEvent {
  __u64 cookie; /* the socket's, as the kernel's socket listing gives it */
  __u32 pid;    /* 0: not known */
  __u32 uid;
  __u8 kind;
  __u8 protocol; /* 6 TCP, 17 UDP */
  __u8 ipv6;     /* the addresses are IPv6 (IPv4 ones may come mapped) */
  __u8 unused;
  __u16 localPort;  /* network byte order; 0: not known */
  __u16 remotePort; /* network byte order; 0: not known */
  __u8 local[16];   /* IPv4: the first four bytes */
  __u8 remote[16];
};

#ifdef __cplusplus
static_assert(sizeof(SocketEvent) == 56, "the record's size is part of the channel");
#endif
