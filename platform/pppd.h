// SPDX-License-Identifier: BSD-3-Clause
// The plug-in interface of pppd 2.4.2 as built for the device (INET6, CBCP and
// the device's two extra hooks). Layouts must stay binary compatible with that
// build; the static_asserts at the end pin them for each data model.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

namespace pppd {
inline constexpr std::size_t kIfnameSize = 32;
inline constexpr std::size_t kPathSize = 4096;
inline constexpr std::size_t kEpdiscMax = 20;
inline constexpr int kChapMessageSpace = 256;  // the message buffer of chap_verify_hook
inline constexpr int kChapMd5 = 5;             // chap_digest_type code of MD5
// The MRU the daemon can negotiate (lcp.h: MINMRU, MAXMRU).
inline constexpr int kMinMru = 128;
inline constexpr int kMaxMru = 16384;
inline constexpr std::size_t kMaxNameLen = 256;  // MAXNAMELEN: remote_number and the like
inline constexpr std::size_t kDnsServers = 2;    // ipcp_options.dnsaddr
// The phases `phasechange` reports (pppd.h). A link starts with SERIALCONN;
// LCP's first request is built right after it, before ESTABLISH.
inline constexpr int kPhaseDead = 0;
inline constexpr int kPhaseSerialConn = 2;
inline constexpr int kPhaseEstablish = 4;
inline constexpr int kPhaseAuthenticate = 5;
inline constexpr int kPhaseNetwork = 7;
inline constexpr int kPhaseRunning = 8;
inline constexpr int kPhaseTerminate = 9;
inline constexpr int kPhaseDisconnect = 10;
// The daemon's exit status so far (`status`), as far as link ends go.
inline constexpr int kExitOk = 0;
inline constexpr int kExitUserRequest = 5;
inline constexpr int kExitIdleTimeout = 12;
inline constexpr int kExitConnectTime = 13;
inline constexpr int kExitPeerDead = 15;
inline constexpr int kExitHangup = 16;
// States of a protocol's state machine (fsm.h).
inline constexpr int kFsmStarting = 1;
inline constexpr int kFsmStopping = 5;
inline constexpr int kFsmOpened = 9;
// The reasons the daemon gives lcp_close for the ends it decides itself.
inline constexpr const char *kReasonIdle = "Link inactive";
inline constexpr const char *kReasonConnectTime = "Connect time expired";
inline constexpr const char *kReasonPeerDead = "Peer not responding";
inline constexpr const char *kReasonUserRequest = "User request";
}  // namespace pppd

extern "C" {

// The daemon's `bool` is an unsigned char.
typedef unsigned char pppd_bool;


struct wordlist {
    struct wordlist *next;
    char *word;
};

typedef void (*notify_func)(void *arg, int value);

struct notifier {
    struct notifier *next;
    notify_func func;
    void *arg;
};

typedef union {
    u_int8_t e8[8];
    u_int16_t e16[4];
    u_int32_t e32[2];
} eui64_t;

struct epdisc {
    unsigned char disc_class;  // `class` in the daemon's sources
    unsigned char length;
    unsigned char value[pppd::kEpdiscMax];
};

typedef struct lcp_options {
    pppd_bool passive;
    pppd_bool silent;
    pppd_bool restart;
    pppd_bool neg_mru;
    pppd_bool neg_asyncmap;
    pppd_bool neg_upap;
    pppd_bool neg_chap;
    pppd_bool neg_eap;
    pppd_bool neg_magicnumber;
    pppd_bool neg_pcompression;
    pppd_bool neg_accompression;
    pppd_bool neg_lqr;
    pppd_bool neg_cbcp;
    pppd_bool neg_mrru;
    pppd_bool neg_ssnhf;
    pppd_bool neg_endpoint;
    int mru;
    int mrru;
    u_char chap_mdtype;
    u_int32_t asyncmap;
    u_int32_t magicnumber;
    int numloops;
    u_int32_t lqr_period;
    struct epdisc endpoint;
} lcp_options;

typedef struct ipcp_options {
    pppd_bool neg_addr;
    pppd_bool old_addrs;
    pppd_bool req_addr;
    pppd_bool default_route;
    pppd_bool proxy_arp;
    pppd_bool neg_vj;
    pppd_bool old_vj;
    pppd_bool accept_local;
    pppd_bool accept_remote;
    pppd_bool req_dns1;
    pppd_bool req_dns2;
    int vj_protocol;
    int maxslotindex;
    pppd_bool cflag;
    u_int32_t ouraddr;
    u_int32_t hisaddr;
    u_int32_t dnsaddr[2];
    u_int32_t winsaddr[2];
} ipcp_options;

typedef struct ipv6cp_options {
    int neg_ifaceid;
    int req_ifaceid;
    int accept_local;
    int opt_local;
    int opt_remote;
    int use_ip;
    int use_persistent;
    int neg_vj;
    u_short vj_protocol;
    eui64_t ourid;
    eui64_t hisid;
} ipv6cp_options;

typedef struct cbcp_state {
    int us_unit;
    u_char us_id;
    u_char us_allowed;  // bit n set: CBCP callback type n may be offered
    int us_type;
    char *us_number;  // heap-allocated; the daemon frees it with free()
} cbcp_state;

}  // extern "C"

// cbcp_state's allowed set: bit n for CBCP type n (1 none, 2 user's number,
// 3 administrator's number).
namespace pppd {
inline constexpr u_char kCbcpAllowNoneAndAdmin = (1u << 1) | (1u << 3);
inline constexpr u_char kCbcpAllowNoneAndUser = (1u << 1) | (1u << 2);
inline constexpr u_char kCbcpAllowNone = (1u << 1);
}  // namespace pppd

extern "C" {

struct chap_digest_type {
    int code;
    void (*generate_challenge)(unsigned char *challenge);
    int (*verify_response)(int id, char *name, unsigned char *secret, int secret_len,
                           unsigned char *challenge, unsigned char *response, char *message,
                           int message_space);
    void (*make_response)(unsigned char *response, int id, char *our_name,
                          unsigned char *challenge, char *secret, int secret_len,
                          unsigned char *priv);
    int (*check_success)(unsigned char *pkt, int len, unsigned char *priv);
    void (*handle_failure)(unsigned char *pkt, int len);
    struct chap_digest_type *next;
};

// A protocol's state machine (fsm.h); only what the plug-in reads is named
// for its purpose, the rest keeps the layout.
struct fsm_callbacks;
typedef struct fsm {
    int unit;
    int protocol;
    int state;
    int flags;
    u_char id;
    u_char reqid;
    u_char seen_ack;
    int timeouttime;
    int maxconfreqtransmits;
    int retransmits;
    int maxtermtransmits;
    int nakloops;
    int maxnakloops;
    struct fsm_callbacks *callbacks;
    char *term_reason;  // why the daemon closed it (lcp_close's reason)
    int term_reason_len;
} fsm;

struct pppd_stats {
    unsigned int bytes_in;
    unsigned int bytes_out;
    unsigned int pkts_in;
    unsigned int pkts_out;
};

typedef int (*pap_check_hook_fn)(void);
typedef int (*pap_auth_hook_fn)(char *user, char *passwd, char **msgp, struct wordlist **paddrs,
                                struct wordlist **popts);
typedef int (*chap_verify_hook_fn)(char *name, char *ourname, int id,
                                   struct chap_digest_type *digest, unsigned char *challenge,
                                   unsigned char *response, unsigned char *message,
                                   int message_space);

extern int (*pap_check_hook)(void);
extern int (*chap_check_hook)(void);
extern pap_auth_hook_fn pap_auth_hook;
extern chap_verify_hook_fn chap_verify_hook;
extern void (*ip_choose_hook)(u_int32_t *addr);
extern int (*allowed_address_hook)(u_int32_t addr);
extern void (*ip_up_hook)(void);
extern void (*ipv6_up_hook)(void);
extern void (*cbcp_init_hook)(cbcp_state *state);

extern struct notifier *ip_up_notifier;
extern struct notifier *ip_down_notifier;
// main.c's die(): cleanup(), then this chain with the exit status, then exit.
extern struct notifier *exitnotify;
extern struct notifier *phasechange;  // called with the new phase
void add_notifier(struct notifier **chain, notify_func func, void *arg);

extern char ifname[pppd::kIfnameSize];
extern char devnam[pppd::kPathSize];
extern char linkname[pppd::kPathSize];
extern int maxconnect;
extern int idle_time_limit;
extern char remote_number[pppd::kMaxNameLen];  // the caller's number when known, else ""
extern struct pppd_stats link_stats;
extern unsigned int link_connect_time;
void update_link_stats(int unit);
void reopen_log(void);
extern volatile int status;  // the daemon's exit status so far: pppd::kExit*
extern fsm lcp_fsm[];
// Calls func(arg) once from the daemon's loop after that time; untimeout
// cancels the first pending call with the same function and argument.
void timeout(void (*func)(void *), void *arg, int secs, int usecs);
void untimeout(void (*func)(void *), void *arg);

extern lcp_options lcp_wantoptions[];
extern ipcp_options ipcp_wantoptions[];
extern ipcp_options ipcp_gotoptions[];
extern ipcp_options ipcp_hisoptions[];
extern ipcp_options ipcp_allowoptions[];  // dnsaddr: the DNS servers offered to the peer (ms-dns)
extern ipv6cp_options ipv6cp_wantoptions[];
extern ipv6cp_options ipv6cp_gotoptions[];
extern ipv6cp_options ipv6cp_hisoptions[];
extern cbcp_state cbcp[];

}  // extern "C"

// The daemon's layouts for each data model we build, worked out from the
// declarations above: the option records hold only one-byte flags, ints and
// 32-bit values, so they are the same everywhere; the records that hold
// pointers follow the pointer size (4 or 8, aligned to itself).
namespace pppd::layout {
#if __SIZEOF_POINTER__ == 8
inline constexpr std::size_t kCbcpSize = 24, kCbcpNumber = 16;
inline constexpr std::size_t kChapDigestSize = 56, kChapVerify = 16, kChapNext = 48;
inline constexpr std::size_t kWordlistSize = 16, kNotifierSize = 24;
inline constexpr std::size_t kFsmSize = 72, kFsmCallbacks = 48, kFsmTermReason = 56, kFsmTermReasonLen = 64;
#elif __SIZEOF_POINTER__ == 4
inline constexpr std::size_t kCbcpSize = 16, kCbcpNumber = 12;
inline constexpr std::size_t kChapDigestSize = 28, kChapVerify = 8, kChapNext = 24;
inline constexpr std::size_t kWordlistSize = 8, kNotifierSize = 12;
inline constexpr std::size_t kFsmSize = 56, kFsmCallbacks = 44, kFsmTermReason = 48, kFsmTermReasonLen = 52;
#else
#error "pppd's plug-in layouts are not pinned for this pointer size"
#endif
}  // namespace pppd::layout

static_assert(sizeof(eui64_t) == 8 && alignof(eui64_t) == 4);
static_assert(sizeof(lcp_options) == 68 && alignof(lcp_options) == 4);
static_assert(offsetof(lcp_options, neg_mru) == 3);
static_assert(offsetof(lcp_options, neg_cbcp) == 12);
static_assert(offsetof(lcp_options, mru) == 16);
static_assert(offsetof(lcp_options, mrru) == 20);
static_assert(offsetof(lcp_options, chap_mdtype) == 24);
static_assert(offsetof(lcp_options, asyncmap) == 28);
static_assert(offsetof(lcp_options, magicnumber) == 32);
static_assert(offsetof(lcp_options, numloops) == 36);
static_assert(offsetof(lcp_options, lqr_period) == 40);
static_assert(offsetof(lcp_options, endpoint) == 44);
static_assert(sizeof(ipcp_options) == 48 && alignof(ipcp_options) == 4);
static_assert(offsetof(ipcp_options, neg_vj) == 5);
static_assert(offsetof(ipcp_options, req_dns2) == 10);
static_assert(offsetof(ipcp_options, vj_protocol) == 12);
static_assert(offsetof(ipcp_options, maxslotindex) == 16);
static_assert(offsetof(ipcp_options, cflag) == 20);
static_assert(offsetof(ipcp_options, ouraddr) == 24);
static_assert(offsetof(ipcp_options, hisaddr) == 28);
static_assert(offsetof(ipcp_options, dnsaddr) == 32);
static_assert(sizeof(ipcp_options::dnsaddr) / sizeof(u_int32_t) == pppd::kDnsServers);
static_assert(offsetof(ipcp_options, winsaddr) == 40);
static_assert(sizeof(ipv6cp_options) == 52 && alignof(ipv6cp_options) == 4);
static_assert(offsetof(ipv6cp_options, neg_vj) == 28);
static_assert(offsetof(ipv6cp_options, vj_protocol) == 32);
static_assert(offsetof(ipv6cp_options, ourid) == 36);
static_assert(offsetof(ipv6cp_options, hisid) == 44);
static_assert(sizeof(cbcp_state) == pppd::layout::kCbcpSize);
static_assert(offsetof(cbcp_state, us_allowed) == 5);
static_assert(offsetof(cbcp_state, us_type) == 8);
static_assert(offsetof(cbcp_state, us_number) == pppd::layout::kCbcpNumber);
static_assert(sizeof(chap_digest_type) == pppd::layout::kChapDigestSize);
static_assert(offsetof(chap_digest_type, verify_response) == pppd::layout::kChapVerify);
static_assert(offsetof(chap_digest_type, next) == pppd::layout::kChapNext);
static_assert(sizeof(wordlist) == pppd::layout::kWordlistSize);
static_assert(sizeof(notifier) == pppd::layout::kNotifierSize);
static_assert(sizeof(pppd_stats) == 16);
static_assert(offsetof(fsm, state) == 8 && offsetof(fsm, seen_ack) == 18 && offsetof(fsm, timeouttime) == 20);
static_assert(offsetof(fsm, maxnakloops) == 40);
static_assert(sizeof(fsm) == pppd::layout::kFsmSize);
static_assert(offsetof(fsm, callbacks) == pppd::layout::kFsmCallbacks);
static_assert(offsetof(fsm, term_reason) == pppd::layout::kFsmTermReason);
static_assert(offsetof(fsm, term_reason_len) == pppd::layout::kFsmTermReasonLen);
