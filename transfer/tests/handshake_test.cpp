#include "handshake.h"

#include <gtest/gtest.h>

#include <thread>

#include "test_support.h"

using namespace tovrel;

namespace {
struct Outcome {
    bool ok = false;
    std::string fp;
    KemSession session;
};

// A fake sender's first three steps, with the given magic, length and key bytes.
void send_key_steps(const SocketHandle& s, std::uint32_t magic, std::uint32_t announced, std::size_t actual) {
    send_u32(s, magic);
    send_u32(s, announced);
    std::vector<std::uint8_t> key(actual, 0x42);
    send_exact(s, key.data(), key.size());
}
}  // namespace

TEST(Fingerprint, DigestAndFormat) {
    const std::uint8_t abc[] = {'a', 'b', 'c'};
    auto d = sha256_digest(abc, 3);
    EXPECT_EQ(d[0], 0xBA);
    EXPECT_EQ(d[31], 0xAD);
    EXPECT_EQ(short_fingerprint(abc, 3), "BA7816");
    // SHA-256 of nothing: e3b0c442...
    EXPECT_EQ(short_fingerprint(nullptr, 0), "E3B0C4");

    std::array<std::uint8_t, 32> digest{};
    digest[0] = 0x0A;
    digest[1] = 0x00;
    digest[2] = 0xFF;
    EXPECT_EQ(fingerprint_of_digest(digest), "0A00FF");
}

TEST(Handshake, LengthRangeTest) {
    const struct {
        std::uint32_t n;
        bool ok;
    } cases[] = {{0, false}, {1, true}, {1568, true}, {65536, true}, {65537, false}, {0xFFFFFFFFu, false}};
    for (const auto& c : cases) EXPECT_EQ(handshake_length_ok(c.n), c.ok) << c.n;
}

TEST(Handshake, NetStartupRunsOnce) {
    ASSERT_TRUE(net_startup());
    const int count = wsa_startup_count();
    EXPECT_TRUE(net_startup());
    EXPECT_EQ(wsa_startup_count(), count);
}

TEST(Handshake, BothSidesDeriveTheSameFingerprint) {
    KemSession sender;
    ShareCard card;
    ASSERT_TRUE(kem_generate_keypair(sender, card));
    EXPECT_EQ(card.session_text, "KYBER1024");
    EXPECT_EQ(sender.public_key.size(), 1568u);
    EXPECT_EQ(sender.secret_key.size(), 3168u);
    EXPECT_EQ(card.fingerprint, short_fingerprint(sender.public_key.data(), sender.public_key.size()));

    SocketPair pair;
    std::string sender_fp;
    bool sender_ok = false;
    std::thread t([&] { sender_ok = handshake_as_sender(pair.a, sender, sender_fp); });
    Outcome r;
    r.ok = handshake_as_receiver(pair.b, r.session, r.fp);
    t.join();

    ASSERT_TRUE(sender_ok);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(sender_fp.size(), 6u);
    EXPECT_EQ(sender_fp, r.fp);
    EXPECT_EQ(sender.shared_secret, r.session.shared_secret);
    EXPECT_EQ(sender.session_key, r.session.session_key);
    EXPECT_EQ(sender.session_key, sha256_digest(sender.shared_secret.data(), 32));
    EXPECT_NE(sender_fp, card.fingerprint);
    EXPECT_TRUE(r.session.public_key.empty());
}

TEST(Handshake, ReceiverRejectsWrongMagicBeforeSendingAnything) {
    SocketPair pair;
    send_key_steps(pair.a, 0x5A594C32, 1568, 1568);
    Outcome r;
    EXPECT_FALSE(handshake_as_receiver(pair.b, r.session, r.fp));
    close_socket(pair.b);
    EXPECT_TRUE(drain(pair.a).empty());
}

TEST(Handshake, ReceiverRejectsBadKeyLengths) {
    // Out of range, in range but not the KEM's, and a short key.
    const struct {
        std::uint32_t announced;
        std::size_t actual;
    } cases[] = {{0, 0}, {65537, 0}, {1, 1}, {65536, 65536}, {1000, 1000}, {1568, 100}};
    for (const auto& c : cases) {
        SocketPair pair;
        std::thread t([&] {
            send_key_steps(pair.a, kHandshakeMagic, c.announced, c.actual);
            ::shutdown(pair.a.value, SHUT_WR);
        });
        Outcome r;
        EXPECT_FALSE(handshake_as_receiver(pair.b, r.session, r.fp)) << c.announced << "/" << c.actual;
        t.join();
        close_socket(pair.b);
        EXPECT_TRUE(drain(pair.a).empty()) << c.announced;
    }
}

TEST(Handshake, SenderRejectsBadCiphertexts) {
    KemSession sender;
    ShareCard card;
    ASSERT_TRUE(kem_generate_keypair(sender, card));
    const struct {
        std::uint32_t announced;
        std::size_t actual;
    } cases[] = {{0, 0}, {65537, 0}, {1, 1}, {1000, 1000}, {1568, 1567}};
    for (const auto& c : cases) {
        SocketPair pair;
        std::string fp;
        bool ok = true;
        std::thread t([&] { ok = handshake_as_sender(pair.a, sender, fp); });
        std::vector<std::uint8_t> head(4 + 4 + 1568);
        ASSERT_TRUE(recv_exact(pair.b, head.data(), head.size()));
        EXPECT_EQ(head[0], 0x31);
        EXPECT_EQ(head[3], 0x5A);
        EXPECT_EQ(head[4] | (head[5] << 8), 1568);
        send_u32(pair.b, c.announced);
        std::vector<std::uint8_t> ct(c.actual, 1);
        send_exact(pair.b, ct.data(), ct.size());
        ::shutdown(pair.b.value, SHUT_WR);
        t.join();
        EXPECT_FALSE(ok) << c.announced << "/" << c.actual;
        EXPECT_TRUE(fp.empty());
    }
}

TEST(Handshake, PeerClosingEarlyFailsBothRoles) {
    KemSession sender;
    ShareCard card;
    ASSERT_TRUE(kem_generate_keypair(sender, card));
    {
        SocketPair pair;
        close_socket(pair.b);
        std::string fp;
        EXPECT_FALSE(handshake_as_sender(pair.a, sender, fp));
    }
    {
        SocketPair pair;
        close_socket(pair.a);
        Outcome r;
        EXPECT_FALSE(handshake_as_receiver(pair.b, r.session, r.fp));
    }
    SocketHandle none;
    std::string fp;
    EXPECT_FALSE(handshake_as_sender(none, sender, fp));
    std::uint8_t byte = 0;
    EXPECT_FALSE(send_exact(none, &byte, 1));
    EXPECT_FALSE(recv_exact(none, &byte, 1));
}
