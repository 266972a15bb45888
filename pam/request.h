// SPDX-License-Identifier: BSD-3-Clause
// What the plug-in put into the PAM environment for a module (the keys and
// formats of platform/pam_env.h), read once at the module's entry into one
// structure: the only place the modules read the environment.
#pragma once

#include <security/pam_appl.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/secret.h"
#include "platform/device.h"
#include "platform/pam_env.h"

namespace pam_request {

struct request {
    std::string user;  // USER_NAME, else PAM's own user
    std::optional<secret::string> password;
    // CHAP: any CHAP attribute makes the request CHAP. Each value is nothing
    // when absent or not in its format; the algorithm's text is kept for the log.
    bool chap = false;
    std::optional<std::string> chap_algorithm_text;
    std::optional<uint32_t> chap_algorithm, chap_id;
    std::optional<std::string> chap_challenge, chap_response;
    std::optional<uint32_t> nas_port, nas_port_type, service_type, framed_protocol;
    std::optional<std::string> calling_station_id;
    std::optional<std::string> tty;  // PAM's tty item
    // The Class values, each decoded; nothing for one that is not hexadecimal.
    std::vector<std::optional<std::string>> classes;
    std::optional<uint32_t> acct_authentic, accept_interim_interval;
    std::optional<uint32_t> session_time, input_octets, output_octets, input_gigawords, output_gigawords,
        input_packets, output_packets, terminate_cause;
};

namespace detail {
inline std::optional<std::string> text(pam_handle_t *pamh, const char *key) {
    const char *v = pam_getenv(pamh, key);
    return v ? std::optional<std::string>(v) : std::nullopt;
}
inline std::optional<uint32_t> counter(pam_handle_t *pamh, const char *key) {
    const char *v = pam_getenv(pamh, key);
    return v ? pam_env::decode_counter(v) : std::nullopt;
}
inline std::optional<std::string> hex(pam_handle_t *pamh, const char *key) {
    const char *v = pam_getenv(pamh, key);
    return v ? pam_env::decode_hex(v) : std::nullopt;
}
}  // namespace detail

// Returns the request `pamh`'s environment holds.
inline request read(pam_handle_t *pamh) {
    using namespace pam_env;
    request r;
    r.user = user_of(pamh);
    if (const char *password = pam_getenv(pamh, kUserPassword)) r.password.emplace(password);
    r.chap = is_chap(pamh);
    r.chap_algorithm_text = detail::text(pamh, kChapAlgorithm);
    r.chap_algorithm = detail::counter(pamh, kChapAlgorithm);
    r.chap_id = detail::counter(pamh, kChapId);
    r.chap_challenge = detail::hex(pamh, kChapChallengeHex);
    r.chap_response = detail::hex(pamh, kChapResponseHex);
    r.nas_port = detail::counter(pamh, kNasPort);
    r.nas_port_type = detail::counter(pamh, kNasPortType);
    r.service_type = detail::counter(pamh, kServiceType);
    r.framed_protocol = detail::counter(pamh, kFramedProtocol);
    r.calling_station_id = detail::text(pamh, kCallingStationId);
    const void *tty = nullptr;
    if (pam_get_item(pamh, PAM_TTY, &tty) == PAM_SUCCESS && tty != nullptr) r.tty = static_cast<const char *>(tty);
    pamutil_string_list *list = pamutil_getenv_string_list(pamh, kClassList);
    for (int i = 0; i < pamutil_string_list_count(list); ++i)
        r.classes.push_back(decode_hex(pamutil_string_list_at(list, i)));
    pamutil_free_string_list(list);
    r.acct_authentic = detail::counter(pamh, kAcctAuthentic);
    r.accept_interim_interval = detail::counter(pamh, kAcctInterimInterval);
    r.session_time = detail::counter(pamh, kAcctSessionTime);
    r.input_octets = detail::counter(pamh, kAcctInputOctets);
    r.output_octets = detail::counter(pamh, kAcctOutputOctets);
    r.input_gigawords = detail::counter(pamh, kAcctInputGigawords);
    r.output_gigawords = detail::counter(pamh, kAcctOutputGigawords);
    r.input_packets = detail::counter(pamh, kAcctInputPackets);
    r.output_packets = detail::counter(pamh, kAcctOutputPackets);
    r.terminate_cause = detail::counter(pamh, kAcctTerminateCause);
    return r;
}

}  // namespace pam_request
