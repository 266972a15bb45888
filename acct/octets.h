// SPDX-License-Identifier: BSD-3-Clause
// A link's octet counter past 2^32. pppd 2.4.2 counts in 32 bits, which a
// leased line passes within days; sampled often enough (less than 2^32
// octets between two samples: every 10 minutes is below 7 Gbit/s), each step
// (now - before) mod 2^32 is exact, and their sum is the true total.
#pragma once

#include <cstdint>

inline constexpr unsigned kGigawordShift = 32;

struct ds_octet_total {
    uint64_t total = 0;
    uint32_t last = 0;

    // Starts at the counter's value when the session starts (IP-up).
    void start(uint32_t now) noexcept {
        total = now;
        last = now;
    }
    // Adds what the counter moved since the last sample, wraps included.
    void sample(uint32_t now) noexcept {
        total += static_cast<uint32_t>(now - last);
        last = now;
    }
    uint32_t low() const noexcept { return static_cast<uint32_t>(total); }
    uint32_t gigawords() const noexcept { return static_cast<uint32_t>(total >> kGigawordShift); }
};

