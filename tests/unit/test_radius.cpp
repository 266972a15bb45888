// SPDX-License-Identifier: BSD-3-Clause
// The RADIUS packet layer and the module's configuration.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <sys/stat.h>

#include "pam/env.h"
#include "pam/radius/config.h"
#include "pam/radius/packet.h"
#include "tests/radius_reply.h"

namespace {

radius::authenticator from_hex(const char *hex) {
    radius::authenticator a{};
    for (std::size_t i = 0; i < a.size(); ++i) std::sscanf(hex + 2 * i, "%2hhx", &a[i]);
    return a;
}

TEST(RadiusPacket, HidesPasswordsAsTheRfcExample) {
    // RFC 2865 section 7.1: "arctangent", secret "xyzzy5461".
    auto auth = from_hex("0f403f9473978057bd83d5cb98f4227a");
    auto hidden = radius::hide_password("arctangent", "xyzzy5461", auth);
    ASSERT_TRUE(hidden);
    EXPECT_EQ(pamenv::to_hex(*hidden), "0dbe708d93d413ce3196e43f782a0aee");
    auto long_one = radius::hide_password(std::string(40, 'x'), "s", auth);
    ASSERT_TRUE(long_one);
    EXPECT_EQ(long_one->size(), 48u);
    EXPECT_TRUE(radius::hide_password(std::string(128, 'x'), "s", auth));
    EXPECT_FALSE(radius::hide_password(std::string(129, 'x'), "s", auth));
}

TEST(RadiusPacket, RequestsCarryAVerifiableMessageAuthenticator) {
    radius::packet p;
    p.code = radius::access_request;
    p.identifier = 7;
    p.auth = from_hex("00112233445566778899aabbccddeeff");
    p.add(radius::user_name, "alice");
    auto bytes = radius::encode_access_request(p, "secret");
    ASSERT_TRUE(bytes);
    auto decoded = radius::decode(bytes->data(), bytes->size());
    ASSERT_TRUE(decoded);
    auto ma = decoded->first(radius::message_authenticator);
    ASSERT_TRUE(ma);
    // The server's check: HMAC over the packet with the field zeroed.
    std::vector<uint8_t> zeroed = *bytes;
    std::fill(zeroed.end() - 16, zeroed.end(), 0);
    unsigned char mac[16];
    unsigned len = 0;
    HMAC(EVP_md5(), "secret", 6, zeroed.data(), zeroed.size(), mac, &len);
    EXPECT_EQ(*ma, std::string(reinterpret_cast<char *>(mac), 16));
    EXPECT_EQ(decoded->first(radius::user_name), "alice");
}

TEST(RadiusPacket, RepliesAreCheckedPieceByPiece) {
    auto auth = from_hex("0102030405060708090a0b0c0d0e0f10");
    std::vector<radius::attribute> attrs = {{radius::framed_mtu, std::string("\0\0\x05\xdc", 4)}};
    auto good = radius_test::reply(radius::access_accept, 9, auth, attrs, "s3cret");
    using radius::reply_check;
    EXPECT_EQ(radius::check_reply(good.data(), good.size(), 9, auth, "s3cret", true), reply_check::ok);
    EXPECT_EQ(radius::check_reply(good.data(), good.size(), 10, auth, "s3cret", true),
              reply_check::wrong_identifier);
    EXPECT_EQ(radius::check_reply(good.data(), good.size(), 9, auth, "other", true),
              reply_check::bad_authenticator);
    auto unsigned_reply = radius_test::reply(radius::access_accept, 9, auth, attrs, "s3cret", false);
    EXPECT_EQ(radius::check_reply(unsigned_reply.data(), unsigned_reply.size(), 9, auth, "s3cret", true),
              reply_check::missing_message_authenticator);
    EXPECT_EQ(radius::check_reply(unsigned_reply.data(), unsigned_reply.size(), 9, auth, "s3cret", false),
              reply_check::ok);
    // A forged Message-Authenticator under a recomputed Response Authenticator.
    auto forged = good;
    forged[forged.size() - 1] ^= 1;
    std::copy(auth.begin(), auth.end(), forged.begin() + 4);
    auto digest = radius::md5({std::string_view(reinterpret_cast<char *>(forged.data()), forged.size()), "s3cret"});
    std::copy(digest.begin(), digest.end(), forged.begin() + 4);
    EXPECT_EQ(radius::check_reply(forged.data(), forged.size(), 9, auth, "s3cret", true),
              reply_check::bad_message_authenticator);
}

TEST(RadiusPacket, DecodeChecksEveryLengthAgainstTheEnd) {
    auto auth = from_hex("0102030405060708090a0b0c0d0e0f10");
    auto good = radius_test::reply(radius::access_accept, 1, auth, {{radius::class_, "abc"}}, "s");
    EXPECT_TRUE(radius::decode(good.data(), good.size()));
    EXPECT_FALSE(radius::decode(good.data(), 19));  // shorter than a header
    EXPECT_FALSE(radius::decode(good.data(), good.size() - 1));  // length field past the data
    auto past_end = good;
    past_end[radius::kHeaderSize + 1] = 200;  // first attribute runs past the packet
    EXPECT_FALSE(radius::decode(past_end.data(), past_end.size()));
    auto zero_len = good;
    zero_len[radius::kHeaderSize + 1] = 0;
    EXPECT_FALSE(radius::decode(zero_len.data(), zero_len.size()));
    auto trailing = good;
    trailing.push_back(0xee);  // bytes past the packet's length are ignored
    EXPECT_TRUE(radius::decode(trailing.data(), trailing.size()));
    radius::packet p;
    EXPECT_FALSE(p.add(radius::class_, std::string(254, 'x')));
}

TEST(RadiusPacket, AccountingAuthenticatorIsKeyed) {
    radius::packet p;
    p.code = radius::accounting_request;
    p.identifier = 3;
    p.add_u32(radius::acct_status_type, radius::kAcctStart);
    auto bytes = radius::encode_accounting_request(p, "k");
    ASSERT_TRUE(bytes);
    std::vector<uint8_t> zeroed = *bytes;
    std::fill(zeroed.begin() + 4, zeroed.begin() + 20, 0);
    auto digest = radius::md5({std::string_view(reinterpret_cast<char *>(zeroed.data()), zeroed.size()), "k"});
    EXPECT_TRUE(std::equal(digest.begin(), digest.end(), bytes->begin() + 4));
    EXPECT_TRUE(std::equal(digest.begin(), digest.end(), p.auth.begin()));
}

TEST(RadiusConfig, ParsesAndRefuses) {
    char dir[] = "/tmp/dsradius-conf-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    std::string secret = std::string(dir) + "/secret";
    std::ofstream(secret) << "s3cret\n";
    chmod(secret.c_str(), 0600);
    std::string error;
    auto c = radius::parse_config("# servers\nserver 127.0.0.1 auth-port 18121 acct-port 18131 secret-file " +
                                      secret + " timeout 1 retries 0\nserver ::1 secret-file " + secret +
                                      "\nnas-identifier dsppp\nnas-ip-address 192.0.2.1\n"
                                      "require-message-authenticator no\ntotal-timeout 5\n",
                                  error);
    ASSERT_TRUE(c) << error;
    ASSERT_EQ(c->servers.size(), 2u);
    EXPECT_EQ(c->servers[0].auth_port, 18121u);
    EXPECT_EQ(c->servers[0].timeout_ms, 1000u);
    EXPECT_EQ(c->servers[0].retries, 0u);
    EXPECT_EQ(c->servers[0].secret, "s3cret");
    EXPECT_EQ(c->servers[1].auth_port, 1812u);
    EXPECT_FALSE(c->require_message_authenticator);
    EXPECT_EQ(c->total_timeout_ms, 5000u);

    struct bad { std::string text, message; };
    for (const bad &b : {bad{"", "no server configured"},
                         bad{"server example.org secret-file " + secret, "bad server address \"example.org\""},
                         bad{"server 127.0.0.1", "needs a secret-file"},
                         bad{"server 127.0.0.1 secret-file " + secret + " timeout 0", "bad timeout \"0\""},
                         bad{"server 127.0.0.1 secret-file " + secret + " auth-port 70000", "bad auth-port"},
                         bad{"server 127.0.0.1 secret-file /nonexistent", "missing or not a regular file"},
                         bad{"colour blue", "unknown or incomplete directive"}}) {
        error.clear();
        EXPECT_FALSE(radius::parse_config(b.text, error)) << b.text;
        EXPECT_NE(error.find(b.message), std::string::npos) << error;
    }
    chmod(secret.c_str(), 0640);
    error.clear();
    EXPECT_FALSE(radius::parse_config("server 127.0.0.1 secret-file " + secret, error));
    EXPECT_NE(error.find("may be read by group or others"), std::string::npos) << error;
    std::remove(secret.c_str());
    rmdir(dir);
}

}  // namespace
