// The wizard dialog in this process, on the macOS toolkit backend and the
// windowing façade: its construction, the initial and error pages, the
// transitions, and the pages and packages it drops while their own
// callbacks run (a click on their button, the helper's report, a modal box
// opened inside the page's click), which the sanitized build checks.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "libs/hosted/HostedEndpoint.h"
#include "libs/qoSetup/ApplyTokenPage.h"
#include "libs/qoSetup/DownloadPage.h"
#include "libs/qoSetup/ErrorPage.h"
#include "libs/qoSetup/InitialPage.h"
#include "libs/qoSetup/InstallPage.h"
#include "libs/qoSetup/Pkg.h"
#include "libs/qoSetup/PkgSvr.h"
#include "libs/qoSetup/SetupComms.h"
#include "libs/qoSetup/SetupDlg.h"
#include "libs/qoSetup/SignInPages.h"
#include "libs/qoSetup/StartMuiMac.h"
#include "libs/qoSetup/WorkDir.h"
#include "libs/qoSetup/tests/SetupTestSupport.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Injector.h"
#include "platform/appkit/Window.h"
#include "qocore/base/loc/Localize.h"
#include "qocore/base/os/unix/UnixIo.h"
#include "qocore/base/plat/Configuration.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/File.h"
#include "qocore/base/plat/Resource.h"
#include "qocore/base/plat/Timer.h"
#include "qocore/base/plat/UniqueFd.h"
#include "qocore/uilibs/mui/MuControls.h"
#include "qocore/uilibs/mui/MuDialog.h"
#include "qocore/uilibs/mui/MuLayout.h"
#include "qocore/uilibs/mui/MuMessageBox.h"
#include "qocore/uilibs/mui/MuPager.h"
#include "qocore/uilibs/mui/MuText.h"
#include "qocore/uilibs/mui/Mui.h"
#include "qocore/uilibs/mui/mac/MuDialogMac.h"
#include "testing/BootstrapFixture.h"
#include "testing/DesktopFixtures.h"
#include "testing/FailureOf.h"
#include "testing/MockCloud.h"

namespace {

using testing::HasSubstr;

constexpr const char kInstallerScript[] = "#!/bin/sh\nexit 0\n";

// A resource of the test's own, kept for the process (the cache keeps
// pointers to it); null data makes it missing.
void setResource(const char* name, const std::string* text) {
  plat::registerResource(name, text ? static_cast<uint32_t>(text->size()) : 0, text ? text->data() : nullptr);
}

const std::string kLangs = "de es fr en pt\n";
const std::string kLangDescs =
    "Deutsch\nEspa\xc3\xb1ol\nFran\xc3\xa7"
    "ais\nEnglish\nPortugu\xc3\xaas\n";

// Runs a step from the loop, also from a modal loop nested in it.
class Later : public plat::Timer::Callback {
 public:
  explicit Later(std::function<void()> step) : step_(std::move(step)) {}
  void start(int ms) { timer_.start(ms); }
  bool timerExpired(plat::Timer*) override {
    step_();
    return false;
  }

 private:
  std::function<void()> step_;
  plat::Timer timer_{this};
};

// The element of a registered dialog by its id and a path inside it.
mui::MuElement* registered(const char* id, const char* path) {
  for (const auto& [serial, element] : mui::Mui::instance()->registry()) {
    if (element->id() && std::string(element->id()) == id) return element->findElement(path);
  }
  return nullptr;
}

// Every rich text below the element, in order.
std::string textsOf(mui::MuElement* element) {
  std::string out;
  if (auto* text = dynamic_cast<mui::MuText*>(element)) out += text->text();
  if (auto* container = dynamic_cast<mui::MuContainer*>(element)) {
    for (int32_t i = 0; i < container->childCount(); ++i) out += textsOf(container->childAt(i));
  }
  return out;
}

class SetupDlgTest : public setup_test::HelperTest {
 protected:
  void SetUp() override {
    HelperTest::SetUp();
    appkit::Application::reset();
    appkit::inject::mainDisplay(1440, 900, 1);
    qoSetup::startMuiMac();
    // The translations follow `Locale`, as after product initialisation.
    loc::Localize::instance().init({});
    setResource("langs.txt", &kLangs);
    setResource("langDescs.txt", &kLangDescs);
    setup_test::writeFileAt(root_ + "/usr/sbin/installer", kInstallerScript, 0755);
  }
  void TearDown() override {
    dlg_.reset();
    // The helpers launched end once their pipe has closed.
    HelperTest::TearDown();
    for (const char* name : {"SvrUri", "Locale", "_ForceSignInAvailable"}) {
      plat::ConfigParameter* p = plat::Configuration::global().findParam(name);
      if (p) {
        p->unsetParam(plat::ConfigParameter::kPreference);
        p->unsetParam(plat::ConfigParameter::kPolicy);
      }
    }
    setResource("cacerts.pem", nullptr);
    loc::Localize::instance().updateLocales();
    appkit::Application::reset();
  }

  qoSetup::SetupDlg& dlg() {
    if (!dlg_) dlg_ = std::make_unique<qoSetup::SetupDlg>();
    return *dlg_;
  }
  // The page whose root the pager shows.
  mui::MuElement* current() { return dlg().pager()->childAt(dlg().pager()->current()); }
  mui::MuElement* find(const char* path) { return dlg().dialog()->findElement(path); }
  std::string label(const char* path) {
    mui::MuElement* element = find(path);
    return element && element->label() ? element->label() : "(none)";
  }
  bool click(const char* path) {
    mui::MuElement* element = find(path);
    return element && element->performAction("click", nullptr);
  }
  static void set(const char* name, const std::string& value, int priority = plat::ConfigParameter::kPolicy) {
    ASSERT_TRUE(plat::Configuration::global().setParam(name, value.c_str(), priority)) << name;
  }
  // A package whose installer the mock cloud serves over HTTPS, trusted
  // through the test's certificates in place of the built-in ones.
  void serveInstaller(yarl_test::MockCloud& cloud) {
    static const std::string* pem = new std::string(yarl_test::testPkiFile("root.pem"));
    setResource("cacerts.pem", pem);
    setup_test::writeFileAt(cloud.folder() + "/www/dl/YarlServer.pkg", "package\n");
    set("SvrUri", cloud.base() + "/dl/YarlServer.pkg");
  }

  std::unique_ptr<qoSetup::SetupDlg> dlg_;
};

TEST_F(SetupDlgTest, TheDialogHasItsBannerAboveThePagerThatShowsTheInitialPage) {
  mui::MuDialog* dialog = dlg().dialog();
  EXPECT_STREQ(dialog->id(), "SetupDlg");
  auto* mac = dynamic_cast<mui::MuDialogMac*>(dialog);
  ASSERT_NE(mac, nullptr);
  EXPECT_STREQ(mac->window()->title(), "Corvane Server Setup");
  EXPECT_EQ(dialog->dialogFlags(), 3u);
  // 1020 by 120 units, scaled by the text size factor (115) and ppmm (4).
  auto* banner = dynamic_cast<mui::MuImage*>(dialog->childAt(0));
  ASSERT_NE(banner, nullptr);
  EXPECT_STREQ(banner->image(), "yarlconnectbanner");
  EXPECT_EQ(banner->id(), nullptr);
  EXPECT_EQ(dialog->childAt(1), dlg().pager());
  const mui::MuFont& font = dialog->getFont();
  EXPECT_EQ(font.size, 120);
  EXPECT_EQ(font.weight, 400);
  EXPECT_STREQ(font.background.c_str(), "contentBg");
  EXPECT_STREQ(font.colour.c_str(), "contentText");

  EXPECT_EQ(current(), static_cast<mui::MuElement*>(dlg().initialPage()->root()));
  EXPECT_EQ(dlg().pendingFrees(), 0u);
  EXPECT_FALSE(dialog->isVisible());
  dlg().show();
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_TRUE(dlg().queryClose(dialog));
}

TEST_F(SetupDlgTest, TheInitialPageSelectsTheFirstLanguageOfTheLocaleSearchList) {
  const std::string oneCode = "en\n";
  const std::string oneDesc = "English\n";
  struct Case {
    const char* locale;
    const std::string* codes;
    const std::string* descs;
    int32_t selected;
    bool shown;
  };
  // clang-format off
  const Case cases[] = {
      {"fr_FR", &kLangs, &kLangDescs, 2, true},
      {"pt_BR", &kLangs, &kLangDescs, 4, true},
      // Not in the list: the search list goes on with "en_US" and "en".
      {"ja_JP", &kLangs, &kLangDescs, 3, true},
      // One code is chosen whatever the locale.
      {"de_DE", &oneCode, &oneDesc, 0, true},
      // No list: a hidden, empty choice.
      {"de_DE", nullptr, nullptr, -1, false},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.locale);
    set("Locale", c.locale, plat::ConfigParameter::kPreference);
    setResource("langs.txt", c.codes);
    setResource("langDescs.txt", c.descs);
    dlg_.reset();
    auto* langs = dynamic_cast<mui::MuChoice*>(find("initial.langs"));
    ASSERT_NE(langs, nullptr);
    EXPECT_EQ(langs->getSelected(), c.selected);
    EXPECT_EQ(langs->isVisible(), c.shown);
    EXPECT_EQ(langs->itemCount(), c.codes ? static_cast<int32_t>(dlg().initialPage()->codes().size()) : 0);
  }
}

TEST_F(SetupDlgTest, ChoosingALanguageSetsLocaleAtPolicyPriorityAndEveryTextAtOnce) {
  EXPECT_EQ(label("initial.install"), "Accept and Install");
  EXPECT_THAT(label("initial.eula"), HasSubstr("End User License Agreement"));
  mui::MuElement* langs = find("initial.langs");
  ASSERT_TRUE(langs->performAction("select", "0"));
  plat::ConfigParameter* locale = plat::Configuration::global().findParam("Locale");
  ASSERT_TRUE(locale->hasValueAt(plat::ConfigParameter::kPolicy));
  EXPECT_STREQ(locale->getValueStrAt(plat::ConfigParameter::kPolicy).c_str(), "de");
  EXPECT_EQ(label("initial.install"), "Akzeptieren und installieren");
  EXPECT_THAT(label("initial.eula"), HasSubstr("Endbenutzer-Lizenzvereinbarung"));
  EXPECT_STREQ(dynamic_cast<mui::MuDialogMac*>(dlg().dialog())->window()->title(), "Corvane Server Setup");
  // The agreement's links follow the product's address.
  auto* eula = dynamic_cast<mui::MuText*>(find("initial.eula"));
  ASSERT_EQ(eula->links().size(), 2u);
  EXPECT_THAT(eula->links()[0].c_str(), testing::EndsWith("/legal/#eulas"));
  EXPECT_THAT(eula->links()[1].c_str(), testing::EndsWith("/legal/#privacy"));
  // Pages built later speak it too.
  dlg().showError("x", nullptr);
  EXPECT_THAT(label("error.text1"), HasSubstr("Installation fehlgeschlagen"));
}

TEST_F(SetupDlgTest, TheErrorPageShowsTheMessageAndOffersTheOutputOnlyWhenThereIsSome) {
  struct Case {
    const char* message;
    const char* detail;
    const char* shown;
    bool outputButton;
  };
  // clang-format off
  const Case cases[] = {
      {"Installer <failed> & stopped", "line 1\nline 2\n", "Installer &lt;failed&gt; &amp; stopped", true},
      {"Installer failed", "", "Installer failed", false},
      {"Installer failed", nullptr, "Installer failed", false},
      // No message: the detail stays empty.
      {nullptr, nullptr, nullptr, false},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message ? c.message : "(none)");
    if (c.message) {
      dlg().installFinished(c.message, c.detail);
    } else {
      dlg().showError(nullptr, nullptr);
    }
    // The page replaced goes at the next turn of the loop.
    EXPECT_TRUE(runUntil([&] { return dlg().pendingFrees() == 0; }));
    EXPECT_EQ(current(), static_cast<mui::MuElement*>(dlg().errorPage()->root()));
    if (c.shown) {
      EXPECT_THAT(label("error.detail"), HasSubstr(c.shown));
    } else {
      EXPECT_EQ(label("error.detail"), "");
    }
    EXPECT_EQ(find("error.cmdOutBtn")->isVisible(), c.outputButton);
    EXPECT_THAT(label("error.support"), HasSubstr(qoSetup::kInstallHelpUrl));
  }
}

// The output box runs its modal loop inside the page's click; a failure
// reported meanwhile replaces the page, which is freed only once the box
// has ended.
TEST_F(SetupDlgTest, AnErrorPageReplacedWhileItsOutputBoxRunsIsFreedAfterTheBox) {
  dlg().installFinished("Installer failed", "the output\n");
  qoSetup::ErrorPage* first = dlg().errorPage();
  std::string boxText;
  size_t pendingInside = 0;
  Later close([&] {
    pendingInside = dlg().pendingFrees();
    mui::MuElement* ok = registered("messagebox", "main.buttons.ok");
    ASSERT_NE(ok, nullptr);
    EXPECT_TRUE(ok->performAction("click", nullptr));
  });
  Later replace([&] {
    boxText = textsOf(registered("messagebox", nullptr));
    dlg().showError("Elevation failed", nullptr);
    // The free timer (armed first) finds the modal loop running and waits.
    close.start(0);
  });
  replace.start(0);
  EXPECT_TRUE(click("error.cmdOutBtn"));
  EXPECT_THAT(boxText, HasSubstr("the output"));
  EXPECT_NE(dlg().errorPage(), first);
  EXPECT_EQ(pendingInside, 1u);
  EXPECT_TRUE(runUntil([&] { return dlg().pendingFrees() == 0; }));
  EXPECT_THAT(label("error.detail"), HasSubstr("Elevation failed"));
}

TEST_F(SetupDlgTest, ShowErrorDropsEveryPageButTheInitialOneAndEveryPackageAndFreesThemLater) {
  set("SvrUri", "https://127.0.0.1:1/none.pkg");
  dlg().startDownload();
  ASSERT_EQ(dlg().packageCount(), 1u);
  qoSetup::DownloadPage* download = dlg().downloadPage();
  ASSERT_NE(download, nullptr);
  EXPECT_EQ(current(), static_cast<mui::MuElement*>(download->root()));
  dlg().showError("Stopped", nullptr);
  EXPECT_EQ(dlg().downloadPage(), nullptr);
  EXPECT_EQ(dlg().packageCount(), 0u);
  EXPECT_EQ(dlg().pendingFrees(), 2u);
  EXPECT_NE(dlg().initialPage(), nullptr);
  EXPECT_EQ(current(), static_cast<mui::MuElement*>(dlg().errorPage()->root()));
  // Nothing more reaches the dropped ones: the download's failure is not
  // reported again.
  EXPECT_TRUE(runUntil([&] { return dlg().pendingFrees() == 0; }));
  settle();
  EXPECT_THAT(label("error.detail"), HasSubstr("Stopped"));
  EXPECT_EQ(dlg().dialog()->findElement("download"), nullptr);

  // Try again: back to the kept initial page, the work folders gone.
  ASSERT_TRUE(plat::pathExists(qoSetup::setupWorkDir().c_str()));
  EXPECT_TRUE(click("error.retry"));
  EXPECT_EQ(current(), static_cast<mui::MuElement*>(dlg().initialPage()->root()));
  EXPECT_FALSE(plat::pathExists(qoSetup::installerDir().c_str()));
}

TEST_F(SetupDlgTest, CancelDropsTheDownloadPageInsideItsOwnClick) {
  set("SvrUri", "https://127.0.0.1:1/none.pkg");
  EXPECT_TRUE(click("initial.install"));
  ASSERT_NE(dlg().downloadPage(), nullptr);
  EXPECT_TRUE(click("download.cancel"));
  EXPECT_EQ(dlg().downloadPage(), nullptr);
  EXPECT_THAT(label("error.detail"), HasSubstr("Download cancelled"));
  EXPECT_TRUE(runUntil([&] { return dlg().pendingFrees() == 0; }));
}

TEST_F(SetupDlgTest, TheDialogFreesWhatItDroppedWhenItGoesFirst) {
  set("SvrUri", "https://127.0.0.1:1/none.pkg");
  EXPECT_TRUE(click("initial.install"));
  EXPECT_TRUE(click("download.cancel"));
  EXPECT_EQ(dlg().pendingFrees(), 2u);
  dlg_.reset();
}

// The install page is dropped from inside the helper client's report.
TEST_F(SetupDlgTest, AFailedHelperLaunchEndsOnTheErrorPage) {
  yarl_test::MockCloud cloud;
  serveInstaller(cloud);
  elevation_->exitWith(1);
  EXPECT_TRUE(click("initial.install"));
  ASSERT_TRUE(runUntil([&] { return dlg().errorPage() != nullptr; }));
  EXPECT_THAT(label("error.detail"), HasSubstr("Elevation failed"));
  EXPECT_EQ(dlg().installPage(), nullptr);
  EXPECT_EQ(elevation_->launches().size(), 1u);
  EXPECT_TRUE(runUntil([&] { return dlg().pendingFrees() == 0; }));
}

TEST_F(SetupDlgTest, ADownloadedPackageGoesToTheInstallPageAndTheHelperIsStarted) {
  yarl_test::MockCloud cloud;
  serveInstaller(cloud);
  EXPECT_TRUE(click("initial.install"));
  ASSERT_TRUE(runUntil([&] { return dlg().helperClient()->isLaunched(); }));
  ASSERT_NE(dlg().installPage(), nullptr);
  EXPECT_EQ(current(), static_cast<mui::MuElement*>(dlg().installPage()->root()));
  EXPECT_EQ(dlg().errorPage(), nullptr);
  // The download page stays until a failure or another download.
  EXPECT_NE(dlg().downloadPage(), nullptr);
  // The ready helper was given the package at once; closing waits for it.
  EXPECT_TRUE(dlg().installPage()->isInstalling());
  EXPECT_FALSE(dlg().queryClose(dlg().dialog()));
  ASSERT_TRUE(runUntil([&] { return !dlg().installPage() || !dlg().installPage()->isInstalling(); }));
  EXPECT_TRUE(dlg().queryClose(dlg().dialog()));
}

TEST_F(SetupDlgTest, SignInIsOfferedUnlessThereIsNoPackageOrItIsForced) {
  EXPECT_FALSE(dlg().signInOffered());
  set("_ForceSignInAvailable", "1");
  EXPECT_TRUE(dlg().signInOffered());
  plat::Configuration::global().findParam("_ForceSignInAvailable")->unsetParam(plat::ConfigParameter::kPolicy);
  set("SvrUri", "https://127.0.0.1:1/none.pkg");
  dlg().startDownload();
  EXPECT_TRUE(dlg().signInOffered());
  // An installation without error then offers it.
  dlg().installFinished(nullptr, nullptr);
  ASSERT_NE(dlg().signInChoosePage(), nullptr);
  EXPECT_FALSE(dlg().signInChoosePage()->timedOut());
  EXPECT_EQ(current(), static_cast<mui::MuElement*>(dlg().signInChoosePage()->root()));
}

// "No sign-in" launches the server; without one installed, the launch
// fails and the error page replaces the choice page that asked.
TEST_F(SetupDlgTest, ALaunchThatFailsEndsOnTheErrorPage) {
  ASSERT_EQ(::unlink((root_ + "/Library/yarl/yarlserver").c_str()), 0);
  set("SvrUri", "https://127.0.0.1:1/none.pkg");
  dlg().startDownload();
  dlg().installFinished(nullptr, nullptr);
  ASSERT_NE(dlg().signInChoosePage(), nullptr);
  dlg().launch();
  EXPECT_EQ(dlg().signInChoosePage(), nullptr);
  EXPECT_THAT(label("error.detail"), HasSubstr("No server executable found"));
  EXPECT_TRUE(runUntil([&] { return dlg().pendingFrees() == 0; }));
}

// Without a cloud configuration there is no endpoint: asking for the
// capability client is an ordinary failure, never a client over nothing.
TEST_F(SetupDlgTest, NoCapabilityClientWithoutACloudEndpoint) {
  const plat::LinkedPtr<hosted::HostedEndpoint> saved = qoSetup::cloudEndpoint();
  qoSetup::cloudEndpoint() = plat::LinkedPtr<hosted::HostedEndpoint>();
  EXPECT_EQ(yarl_test::failureOf<plat::Exception>([&] { dlg().capsClient(); }), "No cloud endpoint");
  qoSetup::cloudEndpoint() = saved;
}

TEST_F(SetupDlgTest, ACallbackUriIsTakenOnlyWhileTheSigningInPageShows) {
  yarl_test::XdgHome xdg;
  EXPECT_EQ(yarl_test::failureOf<plat::Exception>([&] { dlg().uriReceived("x:///install"); }),
            "URI received when not showing SigningInPage");
  // Without a package, so that the accepted callback redeems nothing.
  set("_ForceSignInAvailable", "1");
  dlg().installFinished(nullptr, nullptr);
  plat::Configuration::global().findParam("_ForceSignInAvailable")->unsetParam(plat::ConfigParameter::kPolicy);
  EXPECT_EQ(yarl_test::failureOf<plat::Exception>([&] { dlg().uriReceived("x:///install"); }),
            "URI received when not showing SigningInPage");
  // The scheme is registered once, on the first choice.
  dlg().signInChosen(false);
  ASSERT_NE(dlg().signingInPage(), nullptr);
  const std::string mimeapps = yarl_test::readFile(xdg.mimeappsList());
  EXPECT_THAT(mimeapps, HasSubstr(std::string("x-scheme-handler/") + qoSetup::kUrlScheme + "="));
  dlg().signingInEnded(true);
  ASSERT_NE(dlg().signInChoosePage(), nullptr);
  EXPECT_TRUE(dlg().signInChoosePage()->timedOut());
  dlg().signInChosen(true);
  EXPECT_TRUE(dlg().signingInPage()->trial());
  EXPECT_EQ(yarl_test::readFile(xdg.mimeappsList()), mimeapps);

  dlg().uriReceived(
      (std::string(qoSetup::kUrlScheme) + ":///install?state=" + qoSetup::SigningInPage::state() + "&server=t")
          .c_str());
  ASSERT_NE(dlg().applyTokenPage(), nullptr);
  EXPECT_EQ(current(), static_cast<mui::MuElement*>(dlg().applyTokenPage()->root()));
  // Not showing any more: the next one is refused.
  EXPECT_EQ(yarl_test::failureOf<plat::Exception>([&] { dlg().uriReceived("x:///install"); }),
            "URI received when not showing SigningInPage");
}

TEST_F(SetupDlgTest, ShowingTheDialogRemovesTheWorkFoldersOfEarlierRuns) {
  const std::string work = qoSetup::setupWorkDir().c_str();
  setup_test::writeFileAt(work + "/left.pkg", "x");
  ASSERT_TRUE(plat::pathExists(work.c_str()));
  dlg().show();
  EXPECT_FALSE(plat::pathExists(qoSetup::installerDir().c_str()));
}

// The single-instance listener on the dialog: "fg" raises the wizard's
// window and changes no page.
TEST_F(SetupDlgTest, FgFromASecondStartRaisesTheWizardsWindow) {
  dlg().show();
  qoSetup::SetupComms comms(&dlg());
  appkit::Window* wizard = dynamic_cast<mui::MuDialogMac*>(dlg().dialog())->window();
  appkit::Window* about = dynamic_cast<mui::MuDialogMac*>(dlg().aboutDialog()->dialog())->window();
  about->makeKeyAndOrderFront(nullptr);
  ASSERT_FALSE(wizard->isKeyWindow());

  plat::UniqueFd peer(os::connectUnix(qoSetup::SetupComms::socketPath().c_str(), false, false));
  std::string version;
  ASSERT_TRUE(runUntil([&] {
    pollfd p{peer.get(), POLLIN, 0};
    char bytes[4];
    if (::poll(&p, 1, 0) == 1) {
      const ssize_t n = ::read(peer.get(), bytes, sizeof(bytes) - version.size());
      if (n > 0) version.append(bytes, static_cast<size_t>(n));
    }
    return version.size() == 4;
  }));
  EXPECT_EQ(version, std::string("\x5e\x7c\xbc\x03", 4));
  // One last frame of 3 bytes: the name "fg" with its 8-bit length.
  const char fg[] = {'\x80', 3, 2, 'f', 'g'};
  ASSERT_EQ(::write(peer.get(), fg, sizeof(fg)), static_cast<ssize_t>(sizeof(fg)));
  EXPECT_TRUE(runUntil([&] { return wizard->isKeyWindow(); }));
  EXPECT_EQ(current(), static_cast<mui::MuElement*>(dlg().initialPage()->root()));
}

}  // namespace
