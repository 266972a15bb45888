// SPDX-License-Identifier: BSD-3-Clause
// Storage for passwords and shared secrets: every buffer that ever held one
// is wiped with OPENSSL_cleanse before it goes back to the allocator, the
// short-string buffer inside the object included.
#pragma once

#include <openssl/crypto.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace secret {

template <typename T>
struct wiping_allocator {
    using value_type = T;
    wiping_allocator() noexcept = default;
    template <typename U>
    wiping_allocator(const wiping_allocator<U> &) noexcept {}
    T *allocate(std::size_t n) { return std::allocator<T>{}.allocate(n); }
    void deallocate(T *p, std::size_t n) noexcept {
        OPENSSL_cleanse(p, n * sizeof(T));
        std::allocator<T>{}.deallocate(p, n);
    }
    friend bool operator==(const wiping_allocator &, const wiping_allocator &) { return true; }
};

using string_base = std::basic_string<char, std::char_traits<char>, wiping_allocator<char>>;

// A string for secrets; read it as a std::string_view.
class string : public string_base {
public:
    using string_base::string_base;
    string() = default;
    explicit string(std::string_view text) : string_base(text.data(), text.size()) {}
    string(const string &) = default;
    string(string &&) = default;
    string &operator=(const string &) = default;
    string &operator=(string &&) = default;
    ~string() { OPENSSL_cleanse(data(), capacity()); }
};

// Wipes `size` bytes at `p`; the compiler may not drop it as a dead store.
inline void wipe(void *p, std::size_t size) { OPENSSL_cleanse(p, size); }

}  // namespace secret
