// SPDX-License-Identifier: BSD-3-Clause
// dsconf's device description: any JSON, applied onto an image.
#include <cstdint>
#include <cstdlib>

#include "platform/store.h"
#include "tools/dsconf/image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    auto description = nlohmann::json::parse(data, data + size, nullptr, false);
    if (description.is_discarded()) return 0;
    device_config config;
    try {
        apply_description(description, config);
    } catch (const bad_description &) {
        return 0;
    }
    if (config.image.size() != static_cast<std::size_t>(store::kImageSize)) std::abort();
    // What was accepted describes itself and applies again to the same image.
    device_config again;
    apply_description(describe(config), again);
    if (again.image != config.image) std::abort();
    return 0;
}
