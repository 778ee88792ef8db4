#include "app/browser_cookies.h"
#include "app/browser_view.h"
#include "app/main_window.h"
#include "app/web_login_source.h"
#include "named_case.h"
#include "netdisk/page_text.h"
#include "test_support.h"

#include <QFile>
#include <QNetworkCookie>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>
#include <gtest/gtest.h>

using namespace vantorel::gui;
using namespace vantorel::gui::test;

using vantorel::test::CaseName;
using vantorel::test::PrintTo;

namespace {

// A stand-in for the service's page: its module loader hands out a context
// whose file list reports a selection, as the real page's does.
const char* const kFileListPage = R"(<!DOCTYPE html><html><head><meta charset="utf-8">
<script>
var selected = [
  {"fs_id": 1001, "server_filename": "a%41.txt", "path": "/docs/a%41.txt", "isdir": 0,
   "md5": "0cc175b9c0f1b6a831c399e269772661", "size": 12, "thumbs": {"url3": "t.jpg"}},
  {"fs_id": 1002, "server_filename": "照片", "path": "/docs/照片", "isdir": 1}
];
function SystemContext(flag) {
  this.flag = flag;
  this.list = { getSelected: function () { return flag === false ? selected : []; } };
}
window.require = function (name) {
  if (name !== "system-core:context/SystemContext.js") { throw new Error("no module " + name); }
  return SystemContext;
};
</script></head><body>files</body></html>)";

const char* const kEmptySelectionPage = R"(<!DOCTYPE html><script>
window.require = function () {
  return function () { this.list = { getSelected: function () { return []; } }; };
};
</script>)";

class LoginSourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        server_ = std::make_unique<LocalServer>([](httplib::Server& s) {
            servePage(s, "/", "<p>home</p>");
            servePage(s, "/files", kFileListPage);
            servePage(s, "/empty", kEmptySelectionPage);
            servePage(s, "/plain", "<p>no loader here</p>");
            servePage(s, "/disk/main", "<p>folder</p>");
            s.Get("/login", [](const httplib::Request&, httplib::Response& res) {
                res.set_header("Set-Cookie", "BDUSS=secret-login; Path=/; HttpOnly");
                res.set_header("Set-Cookie", "STOKEN=tok; Path=/");
                res.set_header("Set-Cookie", "DEEP=1; Path=/deep");
                res.set_content("<p>logged in</p>", "text/html");
            });
            s.Get("/logout", [](const httplib::Request&, httplib::Response& res) {
                res.set_header("Set-Cookie", "BDUSS=; Path=/; Max-Age=0; HttpOnly");
                res.set_content("<p>logged out</p>", "text/html");
            });
        });
        test_ = std::make_unique<TestState>(server_->origin());
        openWindow();
    }

    void TearDown() override {
        window_.reset();
        server_.reset();
    }

    void openWindow() {
        auto loaded = MainWindow::load(test_->state);
        ASSERT_TRUE(loaded) << loaded.error().message;
        window_ = std::move(loaded.value());
        QSignalSpy settled(window_->browserView()->page(), &QWebEnginePage::loadFinished);
        window_->show();
        ASSERT_TRUE(waitFor([&] { return !settled.isEmpty(); }));
    }

    void navigate(const QString& pathAndQuery) {
        QSignalSpy loaded(window_->browserView()->page(), &QWebEnginePage::loadFinished);
        window_->browserView()->load(server_->url(pathAndQuery));
        ASSERT_TRUE(waitFor([&] { return !loaded.isEmpty(); }));
        ASSERT_TRUE(loaded.first().first().toBool()) << pathAndQuery.toStdString();
    }

    vantorel::BrowserSource& source() { return window_->loginSource(); }

    std::unique_ptr<LocalServer> server_;
    std::unique_ptr<TestState> test_;
    std::unique_ptr<MainWindow> window_;
};

} // namespace

TEST_F(LoginSourceTest, CookieTextHoldsTheServiceCookiesHttpOnlyIncluded) {
    navigate(QStringLiteral("/login"));
    const std::string expected = "DEEP=1; BDUSS=secret-login; STOKEN=tok";
    EXPECT_TRUE(waitFor([&] { return source().cookieText() == expected; }))
        << source().cookieText();

    // The login cookie is out of the page's own reach, yet gathered.
    const std::string pageCookies = source().runPageScript("return document.cookie;");
    EXPECT_EQ(pageCookies.find("BDUSS"), std::string::npos) << pageCookies;
    EXPECT_NE(pageCookies.find("STOKEN=tok"), std::string::npos) << pageCookies;
}

TEST_F(LoginSourceTest, CookiesOfOtherHostsStayOut) {
    navigate(QStringLiteral("/login"));
    ASSERT_TRUE(waitFor([&] { return window_->cookies().cookies().size() == 3; }));
    QNetworkCookie other("OTHER", "x");
    other.setDomain(QStringLiteral("other.test"));
    other.setPath(QStringLiteral("/"));
    window_->profile()->cookieStore()->setCookie(other, QUrl(QStringLiteral("http://other.test/")));
    ASSERT_TRUE(waitFor([&] { return window_->cookies().cookies().size() == 4; }));
    EXPECT_EQ(source().cookieText(), "DEEP=1; BDUSS=secret-login; STOKEN=tok");
}

TEST_F(LoginSourceTest, CookieTheServiceDeletesIsGone) {
    navigate(QStringLiteral("/login"));
    ASSERT_TRUE(waitFor([&] { return source().cookieText().find("BDUSS") != std::string::npos; }));
    navigate(QStringLiteral("/logout"));
    EXPECT_TRUE(waitFor([&] { return source().cookieText() == "DEEP=1; STOKEN=tok"; }))
        << source().cookieText();
}

TEST_F(LoginSourceTest, LoginSurvivesARestart) {
    navigate(QStringLiteral("/login"));
    ASSERT_TRUE(waitFor([&] { return source().cookieText().find("BDUSS") != std::string::npos; }));
    window_.reset(); // as at the end of the program
    openWindow();    // the same data directory; "/" sets no cookie
    EXPECT_TRUE(waitFor([&] {
        return source().cookieText() == "DEEP=1; BDUSS=secret-login; STOKEN=tok";
    })) << source().cookieText();
}

TEST_F(LoginSourceTest, CurrentAddressIsTheFullEncodedAddressWithItsFragment) {
    navigate(QStringLiteral("/disk/main?vmode=list&path=%2Fdocs%2F2021#/index?category=all"));
    EXPECT_EQ(source().currentUrl(),
              server_->origin().toString().toStdString() +
                  "/disk/main?vmode=list&path=%2Fdocs%2F2021#/index?category=all");
}

TEST_F(LoginSourceTest, SelectionScriptReturnsTheSelectedItemsAsJson) {
    navigate(QStringLiteral("/files"));
    const std::string json = source().runPageScript(vantorel::selectionPageScript);
    EXPECT_EQ(json,
              R"([{"fs_id":1001,"server_filename":"a%41.txt","path":"/docs/a%41.txt","isdir":0,)"
              R"("md5":"0cc175b9c0f1b6a831c399e269772661","size":12,"thumbs":{"url3":"t.jpg"}},)"
              R"({"fs_id":1002,"server_filename":"照片","path":"/docs/照片","isdir":1}])");
}

TEST_F(LoginSourceTest, NothingSelectedGivesAnEmptyArray) {
    navigate(QStringLiteral("/empty"));
    EXPECT_EQ(source().runPageScript(vantorel::selectionPageScript), "[]");
}

TEST_F(LoginSourceTest, FailingScriptOrNoValueGivesEmptyText) {
    navigate(QStringLiteral("/plain"));
    EXPECT_EQ(source().runPageScript(vantorel::selectionPageScript), "")
        << "the page has no require()";
    EXPECT_EQ(source().runPageScript("var x = 1;"), "");
    EXPECT_EQ(source().runPageScript("return null;"), "");
    EXPECT_EQ(source().runPageScript("return 42;"), "42");
    EXPECT_EQ(source().runPageScript("return '分享';"), "分享");
}

TEST(CookieJournal, ReadsBackWhatIsStillValidInItsOrder) {
    QTemporaryDir dir;
    const QString journal = dir.filePath(QStringLiteral("cookie-journal"));
    QFile file(journal);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("A=1; domain=127.0.0.1; path=/; HttpOnly\n"
               "OLD=x; expires=Thu, 01-Jan-2004 00:00:00 GMT; domain=127.0.0.1; path=/\n"
               "\n"
               "B=2; expires=Fri, 01-Jan-2100 00:00:00 GMT; domain=.0.1; path=/\n"
               "C=3; domain=other.test; path=/\n");
    file.close();

    CookieMirror mirror(nullptr, journal);
    EXPECT_EQ(mirror.cookies().size(), 3U);
    EXPECT_EQ(mirror.cookieTextFor(QStringLiteral("127.0.0.1"), false), "A=1; B=2");
    EXPECT_TRUE(mirror.cookies().front().isHttpOnly());
}

TEST(SelectionScript, RunsAsAFunctionBody) {
    EXPECT_EQ(wrapAsFunctionBody("return 1;"), QStringLiteral("(function(){\r\nreturn 1;\r\n})()"));
}

struct DomainCase {
    const char* name;
    const char* domain;
    const char* host;
    bool matches;
};

class CookieDomain : public ::testing::TestWithParam<DomainCase> {};

TEST_P(CookieDomain, MatchesAsABrowserSendsIt) {
    const DomainCase& c = GetParam();
    EXPECT_EQ(cookieDomainMatches(QString::fromUtf8(c.domain), QString::fromUtf8(c.host)),
              c.matches);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CookieDomain,
    ::testing::Values(DomainCase{"HostOnly", "pan.baidu.com", "pan.baidu.com", true},
                      DomainCase{"HostOnlyNotForParent", "pan.baidu.com", "baidu.com", false},
                      DomainCase{"HostOnlyNotForChild", "baidu.com", "pan.baidu.com", false},
                      DomainCase{"DomainForChild", ".baidu.com", "pan.baidu.com", true},
                      DomainCase{"DomainForItself", ".baidu.com", "baidu.com", true},
                      DomainCase{"NoSuffixTrick", ".baidu.com", "notbaidu.com", false},
                      DomainCase{"CaseInsensitive", ".Baidu.COM", "pan.baidu.com", true},
                      DomainCase{"IpHost", "127.0.0.1", "127.0.0.1", true},
                      DomainCase{"Empty", "", "127.0.0.1", false}),
    CaseName{});
