// SPDX-License-Identifier: BSD-3-Clause
// Disconnect- and CoA-Requests as a RADIUS server (or anyone) sends them:
// what passes the checks is read and answered.
#include <netinet/in.h>

#include <cstdint>
#include <cstdlib>
#include <limits>

#include "radius/dynauth.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // The checks stop nearly every input: what gets through (the signed
    // seed, or a lucky one) is read and answered with any time accepted.
    radius::dynauth_rules lax{false, false, std::numeric_limits<unsigned>::max()};
    radius::packet request;
    if (radius::check_dynauth_request(data, size, "s3cret", lax, 0, &request) != radius::dynauth_check::ok) return 0;
    radius::config nas;
    sockaddr_storage local{};
    local.ss_family = AF_INET;
    radius::session_selector named;
    uint32_t cause = radius::read_disconnect(request, nas, local, named);
    if (!radius::dynauth_reply(request, cause, "s3cret")) std::abort();
    return 0;
}
