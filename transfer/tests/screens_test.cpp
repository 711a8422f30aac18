#include <gtest/gtest.h>

#include <curses.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "curses_screen.h"
#include "i18n.h"
#include "terminal.h"
#include "transfer_screens.h"

using namespace tovrel;

namespace {
class Screens : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(set_language("en")); }
    void TearDown() override { set_language("en"); }
};

// Types keys every 100 ms until destroyed: a screen drops the keys typed
// before it takes its input, so a test cannot type them just once. (Reading
// the window to see the screen would move curses' cursor under the drawing.)
class KeepTyping {
public:
    KeepTyping(CursesScreen& screen, std::string keys)
        : thread_([this, &screen, keys] {
              while (!stop_.load()) {
                  screen.type(keys);
                  std::this_thread::sleep_for(std::chrono::milliseconds(100));
              }
          }) {}
    ~KeepTyping() {
        stop_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Whether input is blocking: a blocking read would wait, so probe with a key.
bool reads_block() {
    ungetch('q');
    return wgetch(stdscr) == 'q' && is_nodelay(stdscr) == FALSE;
}
}  // namespace

TEST_F(Screens, ShareCardLayoutAndKeys) {
    CursesScreen screen(24, 80);
    // Typed while the key pair was made: dropped, so it cannot cancel the card.
    screen.type("\x1b");
    {
        KeepTyping keys(screen, "x\r");
        EXPECT_TRUE(show_share_card("0.0.0.0", 28473, "KYBER1024", "0A00FF"));
    }
    EXPECT_EQ(screen.text_at(0, 2, 35), " Share this card with the receiver ");
    EXPECT_EQ(screen.text_at(2, 2, 5), "Host:");
    EXPECT_EQ(screen.text_at(3, 4, 7), "0.0.0.0");
    EXPECT_EQ(screen.text_at(4, 2, 5), "Port:");
    EXPECT_EQ(screen.text_at(5, 4, 6), "28473 ");
    EXPECT_EQ(screen.text_at(6, 2, 8), "Session:");
    EXPECT_EQ(screen.text_at(7, 4, 9), "KYBER1024");
    EXPECT_EQ(screen.text_at(8, 2, 12), "Fingerprint:");
    EXPECT_EQ(screen.text_at(9, 4, 6), "0A00FF");
    EXPECT_EQ(screen.text_at(11, 2, 66), "Verify the fingerprint on both ends. Press Enter to start waiting.");
    EXPECT_EQ(screen.text_at(22, 2, 25), "Enter = OK | Esc = Cancel");
    EXPECT_TRUE(reads_block());

    screen.type("\r");
    {
        KeepTyping keys(screen, "\x1b");
        EXPECT_FALSE(show_share_card("0.0.0.0", 1, "KYBER1024", "ABCDEF"));
    }
    EXPECT_TRUE(reads_block());
}

TEST_F(Screens, ShareCardCutsLongTextsAndSpeaksTheLanguage) {
    CursesScreen screen(24, 40);
    ASSERT_TRUE(set_language("fr"));
    {
        KeepTyping keys(screen, "\n");
        EXPECT_TRUE(show_share_card(std::string(60, 'h'), 9, "KYBER1024", "123456"));
    }
    EXPECT_EQ(screen.text_at(2, 2, 5), "Hôte:");
    // Host cut to W-6 letters, the hint to W-4 (letters, not bytes).
    EXPECT_EQ(screen.text_at(3, 4, 35), std::string(34, 'h') + " ");
    EXPECT_EQ(screen.text_at(11, 2, 37), "Vérifiez le fingerprint des deux côt ");
}

TEST_F(Screens, ResultScreenShowsLinesAndWaitsForEnterOrEsc) {
    CursesScreen screen(10, 50);
    {
        KeepTyping keys(screen, "ab\x1b");
        show_result_screen("P2P Secure Transfer - Send", {"Error", "Could not listen on port 80.", "3", "4", "5", "6"});
    }
    EXPECT_EQ(screen.text_at(0, 2, 28), " P2P Secure Transfer - Send ");
    EXPECT_EQ(screen.text_at(2, 2, 5), "Error");
    EXPECT_EQ(screen.text_at(3, 2, 28), "Could not listen on port 80.");
    // Lines stop above row H-3.
    EXPECT_EQ(screen.text_at(6, 2, 1), "5");
    EXPECT_EQ(screen.text_at(7, 2, 1), " ");
    EXPECT_EQ(screen.text_at(8, 2, 21), "Press Enter to return");
    EXPECT_TRUE(reads_block());
}

// Enter and Esc pressed while the transfer runs (where keys do nothing) must
// not dismiss the result before it can be read.
TEST_F(Screens, KeysPressedDuringTheTransferDoNotCloseTheResult) {
    CursesScreen screen(8, 60);
    TransferLog log;
    for (int i = 1; i <= 10; ++i) log.push("line " + std::to_string(i));
    std::atomic<bool> done{false}, success{false}, returned{false};
    std::string error;
    std::thread worker([&] {
        screen.type("\r\x1b\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        error = "Receive failed.";
        success = false;
        done = true;
    });
    bool open_after_a_while = false;
    std::thread user([&] {
        while (!done.load()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        open_after_a_while = !returned.load();
        while (!returned.load()) {
            screen.type("\r");
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    show_transfer_progress("P2P Secure Transfer - Receive", "Transferring file...", log, done, success, error);
    returned = true;
    worker.join();
    user.join();
    EXPECT_TRUE(open_after_a_while);
    EXPECT_EQ(screen.text_at(0, 2, 31), " P2P Secure Transfer - Receive ");
    EXPECT_EQ(screen.text_at(2, 2, 5), "Error");
    EXPECT_EQ(screen.text_at(3, 2, 15), "Receive failed.");
    EXPECT_TRUE(reads_block());
}

TEST_F(Screens, ProgressFrameLayout) {
    CursesScreen screen(8, 60);
    TransferLog log;
    for (int i = 1; i <= 10; ++i) log.push("line " + std::to_string(i));
    std::atomic<bool> done{false}, success{true};
    std::string error;
    std::string row1, row3, row5, row6;
    std::thread worker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        // The screen is read between frames; curses state is only drawn by the screen thread.
        std::lock_guard<std::mutex> lock(terminal_mutex());
        row1 = screen.text_at(1, 2, 22);
        row3 = screen.text_at(3, 2, 7);
        row5 = screen.text_at(5, 2, 8);
        row6 = screen.text_at(6, 2, 32);
        done = true;
    });
    {
        KeepTyping keys(screen, "\r");
        show_transfer_progress("Send", "Transferring file...", log, done, success, error);
    }
    worker.join();
    EXPECT_NE(std::string("|/-\\").find(row1[0]), std::string::npos) << row1;
    EXPECT_EQ(row1.substr(1), " Transferring file...");
    // 8 rows: three log lines, the newest ones, on rows 3 to 5.
    EXPECT_EQ(row3, "line 8 ");
    EXPECT_EQ(row5, "line 10 ");
    EXPECT_EQ(row6, "Esc = (disabled during transfer)");
    EXPECT_EQ(screen.text_at(2, 2, 5), "Done.");
    EXPECT_EQ(screen.text_at(3, 2, 5), "     ");
}

TEST(CutText, CountsLettersNotBytes) {
    EXPECT_EQ(cut_text("abcdef", 3), "abc");
    EXPECT_EQ(cut_text("Hôte", 2), "Hô");
    EXPECT_EQ(cut_text("Hôte", 10), "Hôte");
    EXPECT_EQ(cut_text("abc", 0), "");
    EXPECT_EQ(cut_text("abc", -2), "");
}
