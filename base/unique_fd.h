// SPDX-License-Identifier: BSD-3-Clause
// Owners that close a descriptor or a stdio stream when they go.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <memory>

namespace base {

class unique_fd {
public:
    unique_fd() noexcept = default;
    explicit unique_fd(int fd) noexcept : fd_(fd) {}
    unique_fd(unique_fd &&other) noexcept : fd_(other.release()) {}
    unique_fd &operator=(unique_fd &&other) noexcept {
        reset(other.release());
        return *this;
    }
    unique_fd(const unique_fd &) = delete;
    unique_fd &operator=(const unique_fd &) = delete;
    ~unique_fd() { reset(); }

    int get() const noexcept { return fd_; }
    explicit operator bool() const noexcept { return fd_ >= 0; }
    int release() noexcept {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1) noexcept {
        if (fd_ >= 0) close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

struct file_closer {
    void operator()(std::FILE *f) const noexcept { std::fclose(f); }
};
using unique_file = std::unique_ptr<std::FILE, file_closer>;

}  // namespace base
