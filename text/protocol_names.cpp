#include "text/protocol_names.h"

#include <cstdio>
#include <mutex>

// Keywords of the assigned internet protocol numbers 0 to 100.
char ProtocolNames[256][kProtocolNameSize] = {
    "Reserved", "ICMP", "IGMP", "GGP", "IP", "ST", "TCP", "UCL", "EGP", "IGP", "BBN-RCC-MON",
    "NVP-II", "PUP", "ARGUS", "EMCON", "XNET", "CHAOS", "UDP", "MUX", "DCN-MEAS", "HMP", "PRM",
    "XNS-IDP", "TRUNK-1", "TRUNK-2", "LEAF-1", "LEAF-2", "RDP", "IRTP", "ISO-TP4", "NETBLT",
    "MFE-NSP", "MERIT-INP", "SEP", "3PC", "IDPR", "XTP", "DDP", "IDPR-CMTP", "TP++", "IL", "SIP",
    "SDRP", "SIP-SR", "SIP-FRAG", "IDRP", "RSVP", "GRE", "MHRP", "BNA", "SIPP-ESP", "SIPP-AH",
    "I-NLSP", "SWIPE", "NHRP", "unknown (55)", "unknown (56)", "unknown (57)", "unknown (58)",
    "unknown (59)", "unknown (60)", "unknown (61)", "CFTP", "unknown (63)", "SAT-EXPAK",
    "KRYPTOLAN", "RVD", "IPPC", "unknown (68)", "SAT-MON", "VISA", "IPCV", "CPNX", "CPHB", "WSN",
    "PVP", "BR-SAT-MON", "SUN-ND", "WB-MON", "WB-EXPAK", "ISO-IP", "VMTP", "SECURE-VMTP", "VINES",
    "TTP", "NSFNET-IGP", "DGP", "TCF", "IGRP", "OSPFIGP", "Sprite-RPC", "LARP", "MTP", "AX.25",
    "IPIP", "MICP", "SCC-SP", "ETHERIP", "ENCAP", "unknown (99)", "GMTP",
};

void CompleteProtocolNames() {
  static std::once_flag completed;
  std::call_once(completed, [] {
    for (int number = 101; number < 256; ++number)
      std::snprintf(ProtocolNames[number], kProtocolNameSize, "unknown (%d)", number);
  });
}
