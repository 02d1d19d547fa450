// The Linux shell's own rules, table by table: what no end-to-end run reaches.
#include "shell/gtk/browser_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/gtk/sandbox_probe.h"
#include "shell/gtk/zoom_level.h"

namespace quorvel::gtk {
namespace {

TEST(BrowserRules, SchemesWebKitLoadsStayInTheShell) {
    struct TCase {
        const char* Uri;
        const char* Scheme;
        bool WebKitLoads;
    };
    for (const TCase& c : std::vector<TCase>{{"MAILTO:grace@example.test", "mailto", false},
                                             {"Https://app.example/", "https", true},
                                             {"/relative/page", "", true},
                                             {"", "", true},
                                             {"about:blank", "about", true},
                                             {"file:///etc/passwd", "file", true},
                                             {"x-quorvel-test:open?id=7", "x-quorvel-test", false},
                                             {"tel:+4912345", "tel", false}}) {
        SCOPED_TRACE(c.Uri);
        EXPECT_EQ(UriScheme(c.Uri), c.Scheme);
        EXPECT_EQ(WebKitLoadsScheme(c.Uri), c.WebKitLoads);
    }
}

TEST(BrowserRules, StartPageSiteIsHostAndPortInAnyCase) {
    struct TCase {
        const char* Uri;
        const char* StartPageHost;
        bool Same;
    };
    for (const TCase& c : std::vector<TCase>{{"http://APP.Example/inbox", "app.example", true},
                                             {"http://app.example:80/", "app.example", true},
                                             {"https://app.example/", "app.example", true},
                                             {"https://app.example/", "app.example:80", false},
                                             {"http://app.example:8080/", "app.example", false},
                                             {"http://127.0.0.1:18080/x", "127.0.0.1:18080", true},
                                             {"http://127.0.0.1:18081/x", "127.0.0.1:18080", false},
                                             {"http://127.0.0.1:18080:18080/x", "127.0.0.1:18080", false},
                                             {"http://app.example.evil.test/", "app.example", false},
                                             {"mailto:app.example", "app.example", false}}) {
        SCOPED_TRACE(std::string(c.Uri) + " on " + c.StartPageHost);
        EXPECT_EQ(IsStartPageSite(c.Uri, c.StartPageHost), c.Same);
    }
}

TEST(BrowserRules, OnlyMailAndLinksOutGoWithoutAQuestion) {
    struct TCase {
        const char* Uri;
        bool LinkToNewWindow;
        THandoff Handoff;
    };
    for (const TCase& c : std::vector<TCase>{{"http://other.example/", true, THandoff::Desktop},
                                             {"http://other.example/", false, THandoff::None},
                                             {"http://app.example/second", true, THandoff::None},
                                             {"mailto:grace@example.test", false, THandoff::Desktop},
                                             {"x-quorvel-test:open?id=7", false, THandoff::Ask},
                                             {"x-quorvel-test:open?id=7", true, THandoff::Ask},
                                             {"file:///tmp/x.html", true, THandoff::None}}) {
        SCOPED_TRACE(c.Uri);
        EXPECT_EQ(HandoffFor(c.Uri, c.LinkToNewWindow, "app.example"), c.Handoff);
    }
}

TEST(BrowserRules, WebPagesOpenNoLocalOrDataWindows) {
    struct TCase {
        const char* Page;
        const char* Target;
        bool May;
    };
    for (const TCase& c : std::vector<TCase>{{"http://app.example/", "file:///etc/hostname", false},
                                             {"https://app.example/", "FILE:///etc/hostname", false},
                                             {"file:///home/u/mail.html", "file:///home/u/other.html", true},
                                             {"http://app.example/", "data:text/html,<script>x</script>", false},
                                             {"http://app.example/", "javascript:alert(1)", false},
                                             {"http://app.example/", "https://other.example/", true},
                                             {"http://app.example/", "", true},
                                             {"http://app.example/", "about:blank", true},
                                             {"", "file:///etc/hostname", false}}) {
        SCOPED_TRACE(std::string(c.Target) + " from " + c.Page);
        EXPECT_EQ(PageMayOpenWindow(c.Page, c.Target), c.May);
    }
}

TEST(BrowserRules, SuggestedNamesArePlainNamesInsideTheFolder) {
    struct TCase {
        std::string Suggested;
        std::string Offered;
    };
    for (const TCase& c : std::vector<TCase>{{"../q3 report.csv", "q3 report.csv"},
                                             {".bashrc", "bashrc"},
                                             {". .hidden", "hidden"},
                                             {"...", "download"},
                                             {"", "download"},
                                             {"a\\b\tc.txt", "a_b_c.txt"},
                                             {"caf\xC3\xA9.txt", "caf\xC3\xA9.txt"},
                                             {"bad\xFF.txt", "bad\xEF\xBF\xBD.txt"}}) {
        SCOPED_TRACE(c.Suggested);
        EXPECT_EQ(SafeFileName(c.Suggested), c.Offered);
    }
}

TEST(BrowserRules, OverlongNamesAreCutOnACharacterKeepingTheExtension) {
    const std::string ascii = SafeFileName(std::string(400, 'a') + ".pdf");
    EXPECT_EQ(ascii, std::string(251, 'a') + ".pdf");
    // Two-byte characters: the cut may not fall inside one.
    std::string accents;
    for (int i = 0; i < 150; ++i) accents += "\xC3\xA9";
    const std::string cut = SafeFileName(accents + ".txt");
    EXPECT_LE(cut.size(), 255u);
    EXPECT_EQ(cut.substr(cut.size() - 4), ".txt");
    EXPECT_EQ((cut.size() - 4) % 2, 0u);
    // An "extension" as long as the name is part of it.
    const std::string noExtension = SafeFileName("x." + std::string(300, 'b'));
    EXPECT_EQ(noExtension.size(), 255u);
    EXPECT_EQ(SafeFileName(std::string(255, 'c')), std::string(255, 'c'));
}

TEST(BrowserRules, LongAddressesKeepBothEnds) {
    EXPECT_EQ(ElideMiddle("x-quorvel-test:open", 40), "x-quorvel-test:open");
    EXPECT_EQ(ElideMiddle("abcdefghij", 5), "ab\u2026ij");
    EXPECT_EQ(ElideMiddle("\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", 4), "\xC3\xA9\u2026\xC3\xA9\xC3\xA9");
}

TEST(BrowserRules, RetriesWaitOneSecondDoublingToThirty) {
    std::vector<int> delays;
    int delay = 0;
    for (int i = 0; i < 8; ++i) delays.push_back(delay = NextRetryDelayMs(delay));
    EXPECT_EQ(delays, (std::vector<int>{1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000}));
}

TEST(BrowserRules, TheStartPageSiteNotifiesOverTlsOnlyWithoutAPort) {
    const std::vector<TOrigin> plain = StartPageOrigins("App.Example");
    ASSERT_EQ(plain.size(), 2u);
    EXPECT_EQ(plain[0].Scheme + "://" + plain[0].Host + ":" + std::to_string(plain[0].Port), "http://app.example:0");
    EXPECT_EQ(plain[1].Scheme + "://" + plain[1].Host + ":" + std::to_string(plain[1].Port), "https://app.example:0");
    const std::vector<TOrigin> port = StartPageOrigins("127.0.0.1:17380");
    ASSERT_EQ(port.size(), 1u);
    EXPECT_EQ(port[0].Scheme + "://" + port[0].Host + ":" + std::to_string(port[0].Port), "http://127.0.0.1:17380");
}

TEST(BrowserRules, SpellingLanguagesComeFromTheLocaleNames) {
    EXPECT_EQ(SpellingLanguages({"de_DE.UTF-8@euro", "de_DE", "de", "en_GB.UTF-8", "en_GB", "en", "C"}),
              (std::vector<std::string>{"de_DE", "de", "en_GB", "en"}));
    EXPECT_EQ(SpellingLanguages({"C.UTF-8", "POSIX", "C"}), std::vector<std::string>{});
}

TEST(ZoomFile, OnlyALevelInRangeWithAtMostALineFeed) {
    struct TCase {
        const char* Text;
        int Percent;  // 0: none
    };
    for (const TCase& c : std::vector<TCase>{{"120\n", 120},
                                             {"30", 30},
                                             {"300\n", 300},
                                             {"29\n", 0},
                                             {"301", 0},
                                             {"1200000000\n", 0},
                                             {"120\n\n", 0},
                                             {" 120", 0},
                                             {"", 0},
                                             {"12a", 0}}) {
        SCOPED_TRACE(c.Text);
        const std::optional<int> percent = ParseZoomPercent(c.Text);
        EXPECT_EQ(percent.value_or(0), c.Percent);
    }
}

TEST(SandboxProbe, ABusSocketDirectlyInTheRootIsFound) {
    struct TCase {
        const char* Address;
        const char* Socket;
    };
    for (const TCase& c : std::vector<TCase>{{"unix:path=/bus", "/bus"},
                                             {"unix:path=/run/user/0/bus", ""},
                                             {"unix:abstract=/tmp/x;unix:path=/b%75s,guid=1", "/bus"},
                                             {"unix:guid=1,path=/tmp/dbus-x", ""},
                                             {"tcp:host=localhost,port=1", ""},
                                             {"", ""}}) {
        SCOPED_TRACE(c.Address);
        EXPECT_EQ(BusSocketInRoot(c.Address), c.Socket);
    }
}

}  // namespace
}  // namespace quorvel::gtk
