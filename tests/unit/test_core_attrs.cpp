// SPDX-License-Identifier: BSD-3-Clause
// Port index, conversations and request attributes.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "auth/attrs.h"
#include "platform/pam_env.h"
#include "base/log_text.h"
#include "plugin/handlers.h"
#include "plugin/state.h"
#include "tests/unit/fakes.h"

namespace {

struct Core : ::testing::Test {
    void SetUp() override { reset_all(); }
    void TearDown() override { reset_all(); }
};

TEST_F(Core, PortIndexReadsEnvironmentOnEveryCall) {
    EXPECT_EQ(ds_get_port(), -1);
    setenv("PORT", "3", 1);
    EXPECT_EQ(ds_get_port(), 3);
    setenv("PORT", "x", 1);
    EXPECT_EQ(ds_get_port(), 0);
    setenv("PORT", "12abc", 1);
    EXPECT_EQ(ds_get_port(), 12);
    unsetenv("PORT");
    EXPECT_EQ(ds_get_port(), -1);
}

// What each conversation answers: the peer's name to an echoed prompt, the
// PAP password to a hidden one, nothing to a text; CHAP has no password to
// give, and an unknown style or no message fails the whole conversation.
TEST_F(Core, ConversationsAnswerOnlyWhatTheyHave) {
    struct row {
        decltype(&ds_pap_conv) conv;
        const char *user, *password;
        std::vector<int> styles;
        int rc;
        std::vector<const char *> answers;
    };
    const row rows[] = {
        {ds_pap_conv, "alice", "s3cret", {PAM_PROMPT_ECHO_ON, PAM_PROMPT_ECHO_OFF, PAM_TEXT_INFO, PAM_ERROR_MSG},
         PAM_SUCCESS, {"alice", "s3cret", nullptr, nullptr}},
        {ds_chap_conv, nullptr, nullptr, {PAM_PROMPT_ECHO_ON}, PAM_SUCCESS, {nullptr}},
        // The name is already duplicated when the hidden question fails: the
        // sanitizer build reports it if it is not released.
        {ds_chap_conv, "alice", "", {PAM_PROMPT_ECHO_ON, PAM_PROMPT_ECHO_OFF}, PAM_CONV_ERR, {}},
        {ds_pap_conv, "alice", "s3cret", {PAM_PROMPT_ECHO_ON, 5}, PAM_CONV_ERR, {}},
        {ds_chap_conv, "alice", "", {0}, PAM_CONV_ERR, {}},
        {ds_pap_conv, "alice", "s3cret", {}, PAM_CONV_ERR, {}},
    };
    for (const row &r : rows) {
        ds_conv_user = r.user;
        ds_conv_password = r.password;
        std::vector<pam_message> messages;
        for (int style : r.styles) messages.push_back({style, "ignored"});
        std::vector<const pam_message *> pointers;
        for (auto &m : messages) pointers.push_back(&m);
        pam_response *resp = nullptr;
        EXPECT_EQ(r.conv(static_cast<int>(pointers.size()), pointers.data(), &resp, nullptr), r.rc);
        EXPECT_EQ(resp != nullptr, !r.answers.empty());
        for (std::size_t i = 0; resp && i < r.answers.size(); ++i) {
            EXPECT_STREQ(resp[i].resp, r.answers[i]) << i;
            EXPECT_EQ(resp[i].resp_retcode, 0);
            std::free(resp[i].resp);
        }
        std::free(resp);
    }
}

TEST_F(Core, PasswordAttributeOnlyWhenGiven) {
    pam_handle_t *pamh = test_pam_start("ppp", "bob");
    ASSERT_NE(pamh, nullptr);
    EXPECT_EQ(ds_set_auth_attrs(pamh, "bob", "", 0), 1);
    EXPECT_STREQ(pam_getenv(pamh, "USER_PASSWORD"), "");
    ds_pam_putenv_str(pamh, "USER_PASSWORD", "earlier");
    EXPECT_EQ(ds_set_auth_attrs(pamh, "bob", nullptr, 0), 1);
    EXPECT_STREQ(pam_getenv(pamh, "USER_PASSWORD"), "earlier");
    pam_end(pamh, PAM_SUCCESS);
}

TEST_F(Core, PutsRefuseTextsThatDoNotFitWithoutTruncating) {
    pam_handle_t *pamh = test_pam_start("ppp", "bob");
    ASSERT_NE(pamh, nullptr);
    EXPECT_EQ(ds_pam_putenv_int(pamh, "NEGATIVE", -5), PAM_SUCCESS);
    EXPECT_STREQ(pam_getenv(pamh, "NEGATIVE"), "-5");
    // "K=" plus the value must stay below 1024 bytes with the terminator.
    std::string fits(kAttrTextBuffer - 3, 'v');
    EXPECT_EQ(ds_pam_putenv_str(pamh, "K", fits.c_str()), PAM_SUCCESS);
    EXPECT_EQ(ds_pam_putenv_str(pamh, "K", (fits + "w").c_str()), PAM_BUF_ERR);
    EXPECT_EQ(std::string(pam_getenv(pamh, "K")), fits);
    std::string long_name(kAttrIntBuffer, 'N');
    EXPECT_EQ(ds_pam_putenv_int(pamh, long_name.c_str(), 1), PAM_BUF_ERR);
    EXPECT_EQ(pam_getenv(pamh, long_name.c_str()), nullptr);
    // A password that does not fit is not put, and the put reports it.
    std::string huge(kAttrTextBuffer, 'p');
    EXPECT_EQ(ds_set_auth_attrs(pamh, "bob", huge.c_str(), 0), 0);
    EXPECT_EQ(pam_getenv(pamh, "USER_PASSWORD"), nullptr);
    pam_end(pamh, PAM_SUCCESS);
}

// Text a peer or server chose reaches a log line as printable ASCII only:
// nothing in it can end the line, forge the next or drive a terminal.
TEST(LogText, EscapesEverythingButPrintableAscii) {
    struct row {
        std::string in, out;
    };
    const std::string longest(base::kLogTextSize, '\n');
    const row rows[] = {
        {"alice", "alice"},
        {"bad\nuser\x1b[31m", "bad\\012user\\033[31m"},
        {"a\\b", "a\\134b"},  // a backslash cannot pass for an escape
        {std::string("nul\0x", 5), "nul\\000x"},
        {"\x7f\x80\xff\r\t", "\\177\\200\\377\\015\\011"},
        {"", ""},
    };
    for (const row &r : rows) EXPECT_EQ(base::escaped(std::string_view(r.in)).c_str(), r.out);
    EXPECT_STREQ(base::escaped(static_cast<const char *>(nullptr)).c_str(), "");
    // Too long: cut at a whole escape, and said to be cut.
    std::string cut = base::escaped(longest).c_str();
    EXPECT_LT(cut.size(), base::kLogTextSize);
    EXPECT_EQ(cut.substr(cut.size() - 7), "\\012...");
}

// Authorization values as the Parts read them (atol): what C's strtoll
// gives, without its undefined overflow.
TEST(LeadingDecimal, ReadsAsAtolDoes) {
    for (const char *text : {"42", " \t42x", "-7", "+5", "abc", "", "-", "0012", "12 34", "2147483648",
                             "-2147483649", "9223372036854775807", "99999999999999999999", "-99999999999999999999"}) {
        EXPECT_EQ(pam_env::decode_leading_decimal(text), std::strtoll(text, nullptr, 10)) << text;
        long long wide = std::strtoll(text, nullptr, 10);
        int clamped = wide > INT_MAX ? INT_MAX : wide < INT_MIN ? INT_MIN : static_cast<int>(wide);
        EXPECT_EQ(pam_env::decode_leading_int(text), clamped) << text;
    }
}

}  // namespace
