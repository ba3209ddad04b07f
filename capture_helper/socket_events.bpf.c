/* The kernel programs of the socket events: on the socket hooks of a
 * cgroup (and those below it), each operation that tells which program
 * owns a socket becomes one record in a ring buffer that the helper
 * drains. They only ever allow the operation. */
#include <linux/bpf.h>
#include <bpf/bpf_helpers.h>

#include "capture_helper/socket_event.h"

char LICENSE[] SEC("license") = "Dual BSD/GPL";

struct {
  __uint(type, BPF_MAP_TYPE_RINGBUF);
  __uint(max_entries, 1 << 20);
} events SEC(".maps");

enum { kAllow = 1, kAfInet6 = 10 };

/* The network namespace whose sockets are reported, set before loading:
 * the hooks of a cgroup see the sockets of every namespace, but the
 * traffic list shows one. */
const volatile __u64 netnsCookie = 0;

static __always_inline struct SocketEvent* Reserve(__u8 kind, __u32 protocol, int ipv6) {
  struct SocketEvent* event = bpf_ringbuf_reserve(&events, sizeof *event, 0);
  if (!event) return 0; /* the helper fell behind: lost */
  __builtin_memset(event, 0, sizeof *event);
  event->kind = kind;
  event->protocol = (__u8)protocol;
  event->ipv6 = ipv6 ? 1 : 0;
  return event;
}

static __always_inline void TakeProgram(struct SocketEvent* event) {
  event->pid = (__u32)(bpf_get_current_pid_tgid() >> 32);
  event->uid = (__u32)bpf_get_current_uid_gid();
}

static __always_inline void Put4(__u8* to, __u32 address) { __builtin_memcpy(to, &address, 4); }

static __always_inline void Put6(__u8* to, const __u32* words) {
  for (int i = 0; i < 4; ++i) {
    __u32 word = words[i];
    __builtin_memcpy(to + 4 * i, &word, 4);
  }
}

/* A port the kernel keeps in network order, in the low or the high half of
 * 32 bits as the kernel version has it. */
static __always_inline __u16 NetworkPort(__u32 port) { return (__u16)((port >> 16) | (port & 0xffff)); }

static __always_inline __u16 HostToNetwork(__u32 port) { return __builtin_bswap16((__u16)port); }

static __always_inline void OnAddress(struct bpf_sock_addr* ctx, __u8 kind, int ipv6) {
  if (bpf_get_netns_cookie(ctx) != netnsCookie) return;
  struct SocketEvent* event = Reserve(kind, ctx->protocol, ipv6);
  if (!event) return;
  TakeProgram(event);
  event->cookie = bpf_get_socket_cookie(ctx);
  event->remotePort = NetworkPort(ctx->user_port);
  if (ipv6) {
    __u32 words[4] = {ctx->user_ip6[0], ctx->user_ip6[1], ctx->user_ip6[2], ctx->user_ip6[3]};
    Put6(event->remote, words);
  } else {
    Put4(event->remote, ctx->user_ip4);
  }
  /* A datagram's socket is bound by the time it is sent. */
  if (kind == kSocketSend) {
    struct bpf_sock* sk = ctx->sk;
    if (sk) event->localPort = HostToNetwork(sk->src_port);
  }
  bpf_ringbuf_submit(event, 0);
}

SEC("cgroup/connect4") int OnConnect4(struct bpf_sock_addr* ctx) {
  OnAddress(ctx, kSocketConnect, 0);
  return kAllow;
}
SEC("cgroup/connect6") int OnConnect6(struct bpf_sock_addr* ctx) {
  OnAddress(ctx, kSocketConnect, 1);
  return kAllow;
}
SEC("cgroup/sendmsg4") int OnSend4(struct bpf_sock_addr* ctx) {
  OnAddress(ctx, kSocketSend, 0);
  return kAllow;
}
SEC("cgroup/sendmsg6") int OnSend6(struct bpf_sock_addr* ctx) {
  OnAddress(ctx, kSocketSend, 1);
  return kAllow;
}

static __always_inline void OnBind(struct bpf_sock* sk, int ipv6) {
  if (bpf_get_netns_cookie(sk) != netnsCookie) return;
  struct SocketEvent* event = Reserve(kSocketBind, sk->protocol, ipv6);
  if (!event) return;
  TakeProgram(event);
  event->cookie = bpf_get_socket_cookie(sk);
  event->localPort = HostToNetwork(sk->src_port);
  if (ipv6) {
    __u32 words[4] = {sk->src_ip6[0], sk->src_ip6[1], sk->src_ip6[2], sk->src_ip6[3]};
    Put6(event->local, words);
  } else {
    Put4(event->local, sk->src_ip4);
  }
  bpf_ringbuf_submit(event, 0);
}

SEC("cgroup/post_bind4") int OnBind4(struct bpf_sock* sk) {
  OnBind(sk, 0);
  return kAllow;
}
SEC("cgroup/post_bind6") int OnBind6(struct bpf_sock* sk) {
  OnBind(sk, 1);
  return kAllow;
}

SEC("sockops") int OnSocketOperation(struct bpf_sock_ops* ops) {
  if (ops->op != BPF_SOCK_OPS_ACTIVE_ESTABLISHED_CB && ops->op != BPF_SOCK_OPS_PASSIVE_ESTABLISHED_CB) return kAllow;
  if (bpf_get_netns_cookie(ops) != netnsCookie) return kAllow;
  const int ipv6 = ops->family == kAfInet6;
  struct SocketEvent* event = Reserve(kSocketEstablished, 6, ipv6);
  if (!event) return kAllow;
  event->cookie = bpf_get_socket_cookie(ops);
  event->localPort = HostToNetwork(ops->local_port);
  event->remotePort = NetworkPort(ops->remote_port);
  if (ipv6) {
    __u32 local[4] = {ops->local_ip6[0], ops->local_ip6[1], ops->local_ip6[2], ops->local_ip6[3]};
    __u32 remote[4] = {ops->remote_ip6[0], ops->remote_ip6[1], ops->remote_ip6[2], ops->remote_ip6[3]};
    Put6(event->local, local);
    Put6(event->remote, remote);
  } else {
    Put4(event->local, ops->local_ip4);
    Put4(event->remote, ops->remote_ip4);
  }
  bpf_ringbuf_submit(event, 0);
  return kAllow;
}
