// SPDX-License-Identifier: BSD-3-Clause
#include "tools/dsconf/generations.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "device/settings.h"

namespace dsconf {

namespace {

constexpr const char *kGenerations = ".dsconf";
constexpr const char *kCurrent = "current";
constexpr const char *kCurrentNew = "current.new";
constexpr const char *kLinkNew = "link.new";
constexpr const char *kLock = "lock";
constexpr std::string_view kGenerationPrefix = "gen.";
constexpr const char *kGenerationTemplate = "gen.XXXXXX";
constexpr mode_t kDirMode = 0755;
constexpr mode_t kLockMode = 0600;
constexpr mode_t kPermissionBits = 07777;
constexpr mode_t kWritableByOthers = 022;
constexpr std::array<const char *, 4> kSetNames = {settings::kStoreFile, settings::kUsersFile, settings::kSslFile,
                                                   settings::kPortsFile};

[[noreturn]] void fail(const std::string &what, const std::string &path) {
    throw std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}

std::string generations_of(const std::string &dir) { return dir + "/" + kGenerations; }

// What each of DIR's files links to: its name in the current generation.
std::string link_target(const char *name) { return std::string(kGenerations) + "/" + kCurrent + "/" + name; }

// Returns the target of the link `path`, or "" when it is no link.
std::string link_of(const std::string &path) {
    std::array<char, PATH_MAX> target{};
    ssize_t n = readlink(path.c_str(), target.data(), target.size() - 1);
    return n > 0 ? std::string(target.data(), static_cast<std::size_t>(n)) : std::string();
}

void sync_dir(const std::string &path) {
    base::unique_fd fd(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd || fsync(fd.get()) != 0) fail("cannot sync", path);
}

// Removes every generation in `gens` but `keep` and `also_keep`, and the
// links a killed run was making.
void remove_leftovers(const std::string &gens, const std::string &keep, const std::string &also_keep = "") {
    std::error_code ec;
    std::vector<std::filesystem::path> doomed;
    for (const auto &entry : std::filesystem::directory_iterator(gens, ec)) {
        std::string name = entry.path().filename();
        if (name.rfind(kGenerationPrefix, 0) == 0 && name != keep && name != also_keep) doomed.push_back(entry.path());
    }
    if (ec) throw std::runtime_error("cannot list " + gens + ": " + ec.message());
    for (const auto &path : doomed)
        if (std::filesystem::remove_all(path, ec) == static_cast<std::uintmax_t>(-1) || ec)
            throw std::runtime_error("cannot remove " + path.string() + ": " + ec.message());
    for (const char *name : {kCurrentNew, kLinkNew})
        if (unlink((gens + "/" + name).c_str()) != 0 && errno != ENOENT) fail("cannot remove", gens + "/" + name);
}

void write_file(const std::string &path, const set_file &file) {
    base::unique_fd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, file.mode));
    if (!fd || fchmod(fd.get(), file.mode) != 0) fail("cannot create", path);
    std::size_t done = 0;
    while (done < file.content.size()) {
        ssize_t n = write(fd.get(), file.content.data() + done, file.content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) fail("cannot write", path);
        done += static_cast<std::size_t>(n);
    }
    if (fsync(fd.get()) != 0 || close(fd.release()) != 0) fail("cannot write", path);
}

// Returns the name of a new generation in `gens` holding `files`, each
// synced; on failure it is removed again and the error thrown.
std::string write_generation(const std::string &gens, const file_set &files) {
    std::string path = gens + "/" + kGenerationTemplate;
    if (mkdtemp(path.data()) == nullptr) fail("cannot create a generation in", gens);
    try {
        // Others may read what they always could (port-services.conf).
        if (chmod(path.c_str(), kDirMode) != 0) fail("cannot set the mode of", path);
        for (const auto &[name, file] : files) write_file(path + "/" + name, file);
        sync_dir(path);
    } catch (...) {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
        throw;
    }
    return std::filesystem::path(path).filename();
}

// Points `current` at `generation` in one rename: the moment of the switch.
void make_current(const std::string &gens, const std::string &generation) {
    std::string fresh = gens + "/" + kCurrentNew;
    unlink(fresh.c_str());
    if (symlink(generation.c_str(), fresh.c_str()) != 0) fail("cannot create", fresh);
    if (rename(fresh.c_str(), (gens + "/" + kCurrent).c_str()) != 0) fail("cannot replace", gens + "/" + kCurrent);
    sync_dir(gens);
}

bool is_our_link(const std::string &dir, const char *name) { return link_of(dir + "/" + name) == link_target(name); }

// Makes each of DIR's files a link into the current generation, without
// changing what a reader sees: the set as it reads now becomes a
// generation first, and each plain file is then replaced by a link to its
// own copy. A kill in between leaves plain files and links that all read
// the same old set.
void link_plain_files(const std::string &dir, const std::string &gens) {
    std::string current = link_of(gens + "/" + kCurrent);
    bool linked = !current.empty();
    for (const char *name : kSetNames) linked = linked && is_our_link(dir, name);
    if (linked) return;
    file_set now;
    for (const char *name : kSetNames) {
        std::string path = dir + "/" + name;
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0) {
            if (errno == ENOENT) continue;
            fail("cannot read", path);
        }
        if (S_ISLNK(st.st_mode) && !is_our_link(dir, name))
            throw std::runtime_error(path + " is a symbolic link dsconf did not make; refusing to follow it");
        if (S_ISLNK(st.st_mode) && stat(path.c_str(), &st) != 0) continue;  // ours, into no file
        base::unique_fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
        if (!fd || fstat(fd.get(), &st) != 0) fail("cannot read", path);
        if (!S_ISREG(st.st_mode)) throw std::runtime_error(path + " is not a regular file; refusing to replace it");
        set_file file{std::string(static_cast<std::size_t>(st.st_size), '\0'), st.st_mode & kPermissionBits};
        if (read(fd.get(), file.content.data(), file.content.size()) != static_cast<ssize_t>(file.content.size()))
            fail("cannot read", path);
        now.emplace(name, std::move(file));
    }
    std::string copy = write_generation(gens, now);
    make_current(gens, copy);
    for (const char *name : kSetNames) {
        if (is_our_link(dir, name)) continue;
        std::string fresh = gens + "/" + kLinkNew;
        unlink(fresh.c_str());
        if (symlink(link_target(name).c_str(), fresh.c_str()) != 0) fail("cannot create", fresh);
        if (rename(fresh.c_str(), (dir + "/" + name).c_str()) != 0) fail("cannot replace", dir + "/" + name);
    }
    sync_dir(dir);
    remove_leftovers(gens, copy);
}

}  // namespace

base::unique_fd lock_generations(const std::string &dir, bool create) {
    std::string gens = generations_of(dir);
    if (create) {
        if (mkdir(dir.c_str(), kDirMode) != 0 && errno != EEXIST) fail("cannot create", dir);
        if (mkdir(gens.c_str(), kDirMode) != 0 && errno != EEXIST) fail("cannot create", gens);
    }
    struct stat st {};
    if (lstat(gens.c_str(), &st) != 0) {
        if (errno == ENOENT && !create) return base::unique_fd();
        fail("cannot use", gens);
    }
    // Whoever may write here could swap a generation under the device.
    if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid() || (st.st_mode & kWritableByOthers) != 0)
        throw std::runtime_error(gens + " is not a directory of ours that only we may write; refusing to use it");
    std::string lock_path = gens + "/" + kLock;
    base::unique_fd lock(open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, kLockMode));
    if (!lock) fail("cannot open", lock_path);
    while (flock(lock.get(), LOCK_EX) != 0)
        if (errno != EINTR) fail("cannot lock", lock_path);
    remove_leftovers(gens, link_of(gens + "/" + kCurrent));
    return lock;
}

void switch_generation(const std::string &dir, const file_set &files) {
    std::string gens = generations_of(dir);
    link_plain_files(dir, gens);
    std::string previous = link_of(gens + "/" + kCurrent);
    std::string next = write_generation(gens, files);
    make_current(gens, next);
    // A reader that resolved the old generation a moment ago may still be
    // opening its files: it goes at the next run, not now.
    remove_leftovers(gens, next, previous);
}

}  // namespace dsconf
