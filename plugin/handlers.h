// SPDX-License-Identifier: BSD-3-Clause
// Every function the daemon or PAM calls. C linkage, never throws.
#pragma once

#include <security/pam_appl.h>

#include "platform/pppd.h"

#define DS_VISIBLE __attribute__((visibility("default")))

extern "C" {
DS_VISIBLE extern char pppd_version[];
DS_VISIBLE void plugin_init(void) noexcept;
int ds_have_secrets(void) noexcept;

int ds_pap_conv(int count, const struct pam_message **messages, struct pam_response **resp,
                void *appdata_ptr) noexcept;
int ds_chap_conv(int count, const struct pam_message **messages, struct pam_response **resp,
                 void *appdata_ptr) noexcept;

int ds_pap_auth(char *user, char *passwd, char **msgp, struct wordlist **paddrs,
                struct wordlist **popts) noexcept;
int ds_chap_auth(char *name, char *ourname, int id, struct chap_digest_type *digest,
                 unsigned char *challenge, unsigned char *response, unsigned char *message,
                 int message_space) noexcept;

void ds_ip_choose(u_int32_t *addr) noexcept;
int ds_allowed_address(u_int32_t addr) noexcept;
DS_VISIBLE void ds_cbcp_init(cbcp_state *state) noexcept;

void ds_acct_start(void *arg, int value) noexcept;
void ds_acct_stop(void *arg, int value) noexcept;

void ds_ip_up(void) noexcept;
void ds_ipv6_up(void) noexcept;
DS_VISIBLE int check_and_launch_ppp_dyndns(int port, pid_t *pid_out) noexcept;
DS_VISIBLE void ds_update_resolv(int port) noexcept;
}
