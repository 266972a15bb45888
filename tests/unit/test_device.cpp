// SPDX-License-Identifier: BSD-3-Clause
// The device library: store reads, local users, semaphores, SSL settings and
// string lists through a real PAM environment.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <fcntl.h>
#include <sys/ipc.h>
#include <syslog.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "device/ssl_block.h"
#include "device/string_list.h"
#include "platform/pam_env.h"
#include "platform/device.h"
#include "tests/unit/log_capture.h"

namespace {

constexpr uid_t kNobody = 65534;
constexpr int kSemKey = 14;

struct Device : ::testing::Test {
    std::string dir;
    void SetUp() override {
        char templ[] = "/tmp/dsdevice-test-XXXXXX";
        dir = mkdtemp(templ);
        setenv("DSDEVICE_DIR", dir.c_str(), 1);
    }
    void TearDown() override {
        std::string cmd = "rm -rf '" + dir + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
        unsetenv("DSDEVICE_DIR");
    }
    void write(const char *name, const std::string &content, mode_t mode = 0600) {
        std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        chmod(path.c_str(), mode);
    }
};

TEST_F(Device, StoreReadsAreBoundedAndFresh) {
    unsigned char buf[8] = {};
    EXPECT_LT(reprom(buf, 4, 0), 0);  // no image yet
    std::string image(store::kImageSize, '\0');
    image[store::kImageSize - 1] = 'z';
    write("store.img", image);
    EXPECT_EQ(reprom(buf, 1, store::kImageSize - 1), 1);
    EXPECT_EQ(buf[0], 'z');
    EXPECT_LT(reprom(buf, 2, store::kImageSize - 1), 0);
    EXPECT_LT(reprom(buf, 1, store::kImageSize), 0);
    EXPECT_LT(reprom(buf, 1, -1), 0);
    EXPECT_LT(reprom(buf, -1, 0), 0);
    image[0] = 'a';
    write("store.img", image);
    EXPECT_EQ(reprom(buf, 1, 0), 1);
    EXPECT_EQ(buf[0], 'a');
    unlink((dir + "/store.img").c_str());
    ASSERT_EQ(mkdir((dir + "/store.img").c_str(), 0700), 0);
    EXPECT_LT(reprom(buf, 1, 0), 0);
}

TEST_F(Device, LocalUsersNeedAPrivateFile) {
    unsigned char record[device::kUserinfoSize];
    EXPECT_NE(getuserinfo("alice", record), 0);
    write("users", "bob:x\nalice:pa:ss\n");
    ASSERT_EQ(getuserinfo("alice", record), 0);
    EXPECT_STREQ(reinterpret_cast<char *>(record + device::kUserinfoPassword), "pa:ss");
    EXPECT_NE(getuserinfo("carol", record), 0);
    EXPECT_NE(getuserinfo("ali", record), 0);
    write("users", "alice:pw\n", 0644);
    EXPECT_LT(getuserinfo("alice", record), 0);
}

TEST_F(Device, SslSettingsFillTheBlock) {
    unsigned char block[device::kDyndnsSslBlockSize];
    EXPECT_NE(get_dyndns_ssl_config(block), 0);
    write("dyndns-ssl.conf", "# comment\nverify_peer=1\nca_file=/etc/ssl/ca.pem\n");
    ASSERT_EQ(get_dyndns_ssl_config(block), 0);
    EXPECT_EQ(block[ssl_block::kVerifyPeer], 1);
    EXPECT_STREQ(reinterpret_cast<char *>(block + ssl_block::kCaFile), "/etc/ssl/ca.pem");
    write("dyndns-ssl.conf", "verify_peer=maybe\n");
    EXPECT_NE(get_dyndns_ssl_config(block), 0);
    write("dyndns-ssl.conf", "colour=blue\n");
    EXPECT_NE(get_dyndns_ssl_config(block), 0);
    // A comment longer than a line may be: its tail must not become a setting.
    write("dyndns-ssl.conf", "#" + std::string(ssl_block::kLineMax - 2, 'x') + "ca_file=/tmp/planted\n");
    EXPECT_NE(get_dyndns_ssl_config(block), 0);
    EXPECT_TRUE(logged_contains(LOG_ERR, "line 1 of"));
    write("dyndns-ssl.conf", "#" + std::string(ssl_block::kLineMax - 3, 'x') + "\nverify_peer=1\n");
    EXPECT_EQ(get_dyndns_ssl_config(block), 0);  // the longest line there may be
}

TEST_F(Device, SemaphoreSurvivesAKilledHolderAndBoundsTheWait) {
    std::string path = dir + "/sem";
    int id = get_semaphore(14, path.c_str());
    ASSERT_GE(id, 0);
    EXPECT_EQ(get_semaphore(14, path.c_str()), id);

    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t holder = fork();
    if (holder == 0) {
        if (wait_semaphore(id) != 0) _exit(1);
        (void)!::write(ready[1], "x", 1);
        pause();
        _exit(0);
    }
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);

    auto start = std::chrono::steady_clock::now();
    EXPECT_LT(wait_semaphore(id), 0);  // held: the wait gives up
    double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(waited, 4.0);
    EXPECT_LT(waited, 10.0);

    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    EXPECT_EQ(wait_semaphore(id), 0);  // the dead holder's hold was undone
    EXPECT_EQ(release_semaphore(id), 0);
    semctl(id, 0, IPC_RMID);
    close(ready[0]);
    close(ready[1]);
}

// Runs `plant` as the unprivileged user nobody, as another local user would.
void as_nobody(const std::function<void()> &plant) {
    pid_t child = fork();
    if (child == 0) {
        if (setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(1);
        plant();
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

int plant_set(const std::string &path, int value) {
    int id = semget(ftok(path.c_str(), kSemKey), 1, IPC_CREAT | IPC_EXCL | 0666);
    return id >= 0 && semctl(id, 0, SETVAL, value) == 0 ? 0 : 1;
}

// Anyone may create the key file, or a set under the key root will compute.
// Whatever was planted, root ends up with its own file and its own set of
// value 1, at once (a FIFO does not block it).
TEST_F(Device, PlantedKeyFilesAndSetsAreReplaced) {
    if (geteuid() != 0) GTEST_SKIP() << "planting as another user needs root";
    ASSERT_EQ(chmod(dir.c_str(), 01777), 0);  // sticky and open to all, as /tmp is
    std::string target = dir + "/target";
    write("target", "root's", 0644);
    struct row {
        const char *what;
        std::function<void(const std::string &)> plant;
    };
    const row rows[] = {
        {"a FIFO", [](const std::string &p) { as_nobody([&] { _exit(mkfifo(p.c_str(), 0666)); }); }},
        {"another user's file", [](const std::string &p) {
             as_nobody([&] { _exit(creat(p.c_str(), 0644) < 0); });
         }},
        {"a file others may write", [](const std::string &p) { close(creat(p.c_str(), 0666)); chmod(p.c_str(), 0666); }},
        {"a symbolic link", [&](const std::string &p) { as_nobody([&] { _exit(symlink(target.c_str(), p.c_str())); }); }},
        {"a set held at 0", [](const std::string &p) {
             close(creat(p.c_str(), 0600));
             as_nobody([&] { _exit(plant_set(p, 0)); });
         }},
        {"a set of value 2", [](const std::string &p) {
             close(creat(p.c_str(), 0600));
             as_nobody([&] { _exit(plant_set(p, 2)); });
         }},
    };
    int n = 0;
    for (const row &r : rows) {
        std::string path = dir + "/psema" + std::to_string(n++);
        r.plant(path);
        logged.clear();
        auto start = std::chrono::steady_clock::now();
        int id = get_semaphore(kSemKey, path.c_str());
        ASSERT_GE(id, 0) << r.what;
        // Well short of the 5 s a wait on a planted set would take, with room for slow hosts.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3)) << r.what;
        struct stat st {};
        ASSERT_EQ(lstat(path.c_str(), &st), 0) << r.what;
        EXPECT_TRUE(S_ISREG(st.st_mode) && st.st_uid == 0 && (st.st_mode & 022) == 0) << r.what;
        semid_ds info{};
        ASSERT_EQ(semctl(id, 0, IPC_STAT, &info), 0) << r.what;
        EXPECT_EQ(info.sem_perm.cuid, 0u) << r.what;
        EXPECT_EQ(semctl(id, 0, GETVAL), 1) << r.what;
        EXPECT_TRUE(logged_contains(LOG_WARNING, "get_semaphore(): ")) << r.what;
        EXPECT_EQ(get_semaphore(kSemKey, path.c_str()), id) << r.what;  // ours now: kept
        semctl(id, 0, IPC_RMID);
    }
    std::ifstream in(target);
    std::string content;
    std::getline(in, content);
    EXPECT_EQ(content, "root's");  // the link's target was never touched
}

TEST_F(Device, PlantedDeviceFilesNeitherBlockNorLeak) {
    std::string image(store::kImageSize, '\0');
    write("store.img", image, 0644);
    unsigned char buf[4];
    EXPECT_EQ(reprom(buf, 4, 0), 4);  // an old image readable by all still works
    EXPECT_EQ(reprom(buf, 4, 0), 4);
    int warnings = 0;
    for (auto &[p, line] : logged) warnings += line.find("may be read by group or others") != std::string::npos;
    EXPECT_EQ(warnings, 1);  // once per process
    unlink((dir + "/store.img").c_str());
    ASSERT_EQ(mkfifo((dir + "/store.img").c_str(), 0600), 0);
    EXPECT_LT(reprom(buf, 4, 0), 0);
    EXPECT_TRUE(logged_contains(LOG_ERR, "is not a regular file"));
    ASSERT_EQ(mkfifo((dir + "/users").c_str(), 0600), 0);
    unsigned char record[device::kUserinfoSize];
    EXPECT_LT(getuserinfo("alice", record), 0);
}

TEST_F(Device, StringListsRoundTripThroughPam) {
    static const pam_conv conv = {nullptr, nullptr};
    pam_handle_t *pamh = nullptr;
    ASSERT_EQ(pam_start("dsdevice-test", "u", &conv, &pamh), PAM_SUCCESS);
    EXPECT_EQ(pamutil_getenv_string_list(pamh, "LIST"), nullptr);

    pamutil_string_list *list = pamutil_new_string_list();
    const std::vector<std::string> values = {"", "plain", "a,b", "100%", "tab\tnew\nline",
                                             "=eq=", "\x7f\x01\xff", ""};
    for (const auto &v : values) ASSERT_EQ(pamutil_append_string(list, v.c_str()), 0);
    ASSERT_EQ(pamutil_putenv_string_list(pamh, "LIST", list), PAM_SUCCESS);
    pamutil_free_string_list(list);

    pamutil_string_list *back = pamutil_getenv_string_list(pamh, "LIST");
    ASSERT_NE(back, nullptr);
    ASSERT_EQ(pamutil_string_list_count(back), static_cast<int>(values.size()));
    for (std::size_t i = 0; i < values.size(); ++i)
        EXPECT_EQ(pamutil_string_list_at(back, static_cast<int>(i)), values[i]);
    EXPECT_EQ(pamutil_string_list_at(back, -1), nullptr);
    pamutil_free_string_list(back);

    pamutil_string_list *empty = pamutil_new_string_list();
    pamutil_putenv_string_list(pamh, "EMPTY", empty);
    pamutil_free_string_list(empty);
    pamutil_string_list *none = pamutil_getenv_string_list(pamh, "EMPTY");
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(pamutil_string_list_count(none), 0);
    pamutil_free_string_list(none);
    pam_end(pamh, PAM_SUCCESS);
}

TEST(StringListEncoding, RejectsMalformedText) {
    for (const char *bad : {"", "x", "1", "2:a", "1:a,b", "1:%4", "1:%zz", "1:%00", "0:x",
                            "-1:", "99999999999999999999:a", "1:a\tb", "1:\x7f"})
        EXPECT_FALSE(pam_env::decode_list(bad).has_value()) << bad;
    // Found by fuzzing: raw control bytes (a NUL among them) decoded into
    // values that did not survive a second round trip.
    EXPECT_FALSE(pam_env::decode_list(std::string("3:e:a,\0\t,", 10)).has_value());
    EXPECT_EQ(pam_env::encode_list({"a,b", "%"}), "2:a%2Cb,%25");
    auto decoded = pam_env::decode_list("2:a%2cb,");
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(*decoded, (std::vector<std::string>{"a,b", ""}));
}

}  // namespace
