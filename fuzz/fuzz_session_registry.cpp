// SPDX-License-Identifier: BSD-3-Clause
// Entries of the session registry: what parses formats back to itself.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/session_registry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    auto e = session_registry::parse(std::string_view(reinterpret_cast<const char *>(data), size));
    if (e && session_registry::parse(session_registry::format(*e))->user != e->user) std::abort();
    return 0;
}
