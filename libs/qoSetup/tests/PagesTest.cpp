// The wizard's install, sign-in, apply-token and settings pages on the
// in-memory toolkit backend, inside a real wizard dialog: what they show,
// how their bars move, where their choices lead, which callbacks they
// refuse, and what the settings page sends.  The road with real packages,
// helper and browser runs in the whole-program tests.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "libs/qoSetup/ApplyTokenPage.h"
#include "libs/qoSetup/DownloadPage.h"
#include "libs/qoSetup/InstallPage.h"
#include "libs/qoSetup/PkgSvr.h"
#include "libs/qoSetup/SettingsPage.h"
#include "libs/qoSetup/SetupDlg.h"
#include "libs/qoSetup/SignInPages.h"
#include "libs/qoSetup/tests/SetupTestSupport.h"
#include "platform/launchsvc/LaunchServices.h"
#include "qocore/base/plat/Configuration.h"
#include "qocore/libs/muimisc/ClearTextPassword.h"
#include "qocore/libs/muimisc/ProgressBar.h"
#include "qocore/uilibs/mui/MuAnimation.h"
#include "qocore/uilibs/mui/MuControls.h"
#include "qocore/uilibs/mui/MuLayout.h"
#include "qocore/uilibs/mui/MuText.h"
#include "testing/DesktopFixtures.h"
#include "testing/FailureOf.h"
#include "testing/ui/MuTestBackend.h"

namespace {

using qoSetup::InstallPage;
using qoSetup::SettingsPage;
using qoSetup::SigningInPage;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::MatchesRegex;
using testing::Not;

constexpr const char kPortal[] = "https://portal.corvane.example";
constexpr const char kScheme[] = "example.corvane.vuzovuvivovevada";

// Unsets a parameter's test value when the test ends.
class ParamValue {
 public:
  ParamValue(const char* name, const char* value) : name_(name) {
    EXPECT_TRUE(plat::Configuration::global().setParam(name, value, plat::ConfigParameter::kPolicy)) << name;
  }
  ~ParamValue() { plat::Configuration::global().findParam(name_)->unsetParam(plat::ConfigParameter::kPolicy); }
  ParamValue(const ParamValue&) = delete;
  ParamValue& operator=(const ParamValue&) = delete;

 private:
  const char* name_;
};

// A wizard dialog on the in-memory backend, with private desktop folders
// and an opener that writes down the URL it was given.
class PagesTest : public setup_test::SetupTest {
 protected:
  void SetUp() override {
    SetupTest::SetUp();
    launchsvc::setOpener(opener_.path());
    qoSetup::capsFeatures().clear();
    dlg_ = std::make_unique<qoSetup::SetupDlg>();
    dlg_->show();
  }
  void TearDown() override {
    backend_.modalScript = nullptr;
    dlg_.reset();
    qoSetup::capsFeatures().clear();
    launchsvc::setOpener(nullptr);
    SetupTest::TearDown();
  }

  // The element at the path in the page that shows: a dropped page stays
  // in the pager until the loop turns.
  mui::MuElement* find(const char* path) {
    const std::string text = path;
    const size_t dot = text.find('.');
    const std::string page = text.substr(0, dot);
    mui::MuPager* pager = dlg_->pager();
    for (int32_t i = 0; i < pager->childCount(); ++i) {
      mui::MuElement* root = pager->childAt(i);
      if (root->isVisible() && page == root->id())
        return dot == std::string::npos ? root : root->findElement(text.substr(dot + 1).c_str());
    }
    return nullptr;
  }
  template <typename T>
  T* find(const char* path) {
    auto* element = dynamic_cast<T*>(find(path));
    EXPECT_NE(element, nullptr) << path;
    return element;
  }
  void click(const char* path, const char* argument = nullptr) {
    mui::MuElement* element = find(path);
    ASSERT_NE(element, nullptr) << path;
    EXPECT_TRUE(element->performAction("click", argument)) << path;
  }
  // The page whose root shows, by its id.
  std::string current() {
    mui::MuPager* pager = dlg_->pager();
    for (int32_t i = 0; i < pager->childCount(); ++i) {
      mui::MuElement* root = pager->childAt(i);
      if (root->isVisible()) return root->id();
    }
    return "(none)";
  }
  static bool enabled(mui::MuElement* element) { return yarl_test::MuTestBackend::peerOf(element)->enabled; }
  std::string markupOf(const char* path) {
    auto* text = find<mui::MuText>(path);
    return text ? text->text() : "";
  }
  // The sign-in choice as the wizard shows it after an install.
  void toSignInChoice() {
    ParamValue force("_ForceSignInAvailable", "1");
    dlg_->installFinished(nullptr, "");
    ASSERT_EQ(current(), "signInChoose");
  }
  // The signing-in page of a sign-in (not a trial), with the portal set.
  void toSigningIn() {
    toSignInChoice();
    click("signInChoose.signIn.btn");
    ASSERT_EQ(current(), "signingIn");
  }
  std::string callback(const std::string& query) { return std::string(kScheme) + ":///install?" + query; }
  std::string goodCallback() { return callback(std::string("state=") + SigningInPage::state() + "&server=t1"); }
  // The settings page, reached through an accepted callback.
  void toSettings() {
    toSigningIn();
    dlg_->uriReceived(goodCallback().c_str());
    ASSERT_TRUE(runUntil([&] { return current() == "settings"; }));
  }

  yarl_test::MuTestBackend& backend_ = yarl_test::MuTestBackend::install();
  yarl_test::XdgHome xdg_;
  yarl_test::RecordingOpener opener_;
  ParamValue portal_{"_PortalUri", kPortal};
  std::unique_ptr<qoSetup::SetupDlg> dlg_;
};

// ---- Download and install pages ----

TEST(ProgressBarsTest, DownloadsShowTheRoundedFraction) {
  struct Case {
    int64_t received, total;
    uint16_t value;
  };
  const Case cases[] = {{0, 100, 0},
                        {1, 2, 32768},
                        {100, 100, 65535},
                        {1, 1, 65535},
                        {5, 0, 0},
                        {5, -1, 0},
                        {200, 100, 65535},
                        {1, 3, 21845},
                        {1 << 30, 1 << 30, 65535},
                        {(1 << 30) - 1, 1 << 30, 65535}};
  for (const Case& c : cases)
    EXPECT_EQ(qoSetup::DownloadPage::barValue(c.received, c.total), c.value) << c.received << "/" << c.total;
}

TEST(ProgressBarsTest, InstallsRiseFastOverFortyNineBytesAndNeverReachFull) {
  struct Case {
    uint64_t count;
    uint16_t value;
  };
  const Case cases[] = {{0, 6553},     {1, 7142},        {49, 35453},      {50, 36044},        {100, 50789},
                        {1000, 64060}, {1474500, 65533}, {1474501, 65534}, {1ull << 40, 65534}};
  for (const Case& c : cases) EXPECT_EQ(InstallPage::barValue(c.count), c.value) << c.count;
  uint16_t last = 0;
  for (uint64_t count = 0; count < 100000; ++count) {
    ASSERT_GE(InstallPage::barValue(count), last) << count;
    last = InstallPage::barValue(count);
  }
}

TEST_F(PagesTest, TheInstallPageCountsOutputAcrossReportsAndKeepsItForTheErrorPage) {
  InstallPage page(dlg_.get());
  page.showElevating();
  EXPECT_EQ(find<mui::MuStatic>("install.text")->label(), std::string("Elevating..."));
  const std::string first(30, 'a');
  const std::string second(20, 'b');
  page.installOutput(nullptr, static_cast<int>(first.size()), reinterpret_cast<const uint8_t*>(first.data()));
  EXPECT_EQ(page.progress()->value(), InstallPage::barValue(30));
  page.installOutput(nullptr, static_cast<int>(second.size()), reinterpret_cast<const uint8_t*>(second.data()));
  EXPECT_EQ(page.progress()->value(), InstallPage::barValue(50));
  EXPECT_FALSE(page.isInstalling());

  // Cancel reports the cancellation with the output so far.
  click("install.cancel");
  EXPECT_EQ(current(), "error");
  EXPECT_THAT(markupOf("error.detail"), HasSubstr("Installation cancelled"));
  EXPECT_TRUE(find("error.cmdOutBtn")->isVisible());
  EXPECT_FALSE(page.progress()->isVisible());
}

// ---- Sign-in pages ----

TEST_F(PagesTest, TheChoiceHeadingSaysWhetherTheLastAttemptTimedOut) {
  struct Case {
    bool timedOut;
    const char* text;
    const char* size;
  };
  const Case cases[] = {
      {false, "Installation Successful", "font-size:133%"},
      {true, "Timed out waiting for signing in or signing up to complete. Please select again.", "font-size:108%"}};
  for (const Case& c : cases) {
    qoSetup::SignInChoosePage page(dlg_.get(), c.timedOut);
    const std::string heading = markupOf("signInChoose.text");
    EXPECT_THAT(heading, HasSubstr(c.text));
    EXPECT_THAT(heading, HasSubstr(c.size));
    EXPECT_THAT(heading, HasSubstr("font-weight:700"));
  }
}

TEST_F(PagesTest, TheChoiceButtonsShareTheWiderOnesWidth) {
  // Buttons as wide as their labels are long: the two labels differ.
  mui::muButtonFactory = [](mui::MuContainer* parent, const char* id, const char* label, uint32_t type, uint32_t flags,
                            uint32_t option) {
    auto* button = yarl_test::MuTestBackend::withPeer(new mui::MuButton(parent, id, label, type, flags, option));
    yarl_test::MuTestBackend::peerOf(button)->natural = {static_cast<int32_t>(10 * std::strlen(label ? label : "")),
                                                         20};
    return button;
  };
  qoSetup::SignInChoosePage page(dlg_.get(), false);
  yarl_test::MuTestBackend::fillHooks();
  const int32_t wider =
      10 * static_cast<int32_t>(std::max(std::strlen("Start my free trial"), std::strlen("Sign in to continue")));
  for (const qoSetup::SignInChoosePage::ButtonRow* row : {&page.trialRow(), &page.signInRow()}) {
    uint32_t mode = 0;
    int32_t size = 0;
    ASSERT_TRUE(row->row->childLayout(row->btn.button(), mode, size));
    EXPECT_EQ(mode, mui::MuLayout::kFixed);
    EXPECT_EQ(size, wider);
  }
  EXPECT_EQ(page.trialRow().btn.style(), qoSetup::SetupButton::kBlue);
  EXPECT_EQ(page.signInRow().btn.style(), qoSetup::SetupButton::kWhite);
  EXPECT_EQ(find<mui::MuButton>("signInChoose.noSignIn")->type(), mui::MuButton::kHyperlink);
}

TEST_F(PagesTest, EachChoiceOpensThePortalWithTheOneStateOfTheRun) {
  toSignInChoice();
  click("signInChoose.trial.btn");
  ASSERT_EQ(current(), "signingIn");
  const std::string state = SigningInPage::state();
  EXPECT_THAT(state, MatchesRegex("[A-Za-z0-9_-]{11}"));
  EXPECT_EQ(opener_.wait(), "1\n" + std::string(kPortal) + "/auth/sign_up/software_trial?state=" + state +
                                "&version=serversetupapp2.4.0\n");

  // The scheme is registered as this program's: its desktop entry and its
  // default line.
  const std::string entry = launchsvc::desktopEntryName("vuzovuvivovevada", kScheme).c_str();
  EXPECT_THAT(yarl_test::readFile(xdg_.dataHome() + "/applications/" + entry), HasSubstr("-uri %u"));
  EXPECT_THAT(yarl_test::readFile(xdg_.mimeappsList()),
              HasSubstr("x-scheme-handler/" + std::string(kScheme) + "=" + entry));

  // Back, then a sign-in: the same state, no version.
  ASSERT_EQ(::unlink((std::string(opener_.path()) + ".args").c_str()), 0);
  click("signingIn.goback");
  ASSERT_EQ(current(), "signInChoose");
  EXPECT_THAT(markupOf("signInChoose.text"), HasSubstr("Installation Successful"));
  click("signInChoose.signIn.btn");
  EXPECT_EQ(opener_.wait(), "1\n" + std::string(kPortal) + "/auth/download_first?state=" + state + "\n");
  EXPECT_EQ(SigningInPage::state(), state);
}

TEST_F(PagesTest, NoSignInLaunchesTheServerAsItIs) {
  toSignInChoice();
  ASSERT_TRUE(dlg_->dialog()->isVisible());
  click("signInChoose.noSignIn");
  EXPECT_FALSE(dlg_->dialog()->isVisible());
  EXPECT_EQ(dlg_->signingInPage(), nullptr);
  EXPECT_EQ(dlg_->errorPage(), nullptr);
}

TEST(SigningInTimeOutTest, SecondsBecomeMillisecondsThatFitAnInt) {
  struct Case {
    int seconds;
    int ms;
  };
  const Case cases[] = {{0, 0}, {600, 600000}, {2147483, 2147483000}, {2147484, 0x7fffffff}, {2147483647, 0x7fffffff}};
  for (const Case& c : cases) EXPECT_EQ(SigningInPage::timeoutMs(c.seconds), c.ms) << c.seconds;
}

TEST_F(PagesTest, ATimeOutOfZeroBringsTheChoiceBackAtTheNextTurn) {
  ParamValue timeout("_SignInTimeoutSecs", "0");
  toSigningIn();
  ASSERT_TRUE(runUntil([&] { return current() == "signInChoose"; }));
  EXPECT_THAT(markupOf("signInChoose.text"), HasSubstr("Timed out waiting"));
}

TEST_F(PagesTest, AnAcceptedCallbackStopsTheTimeOut) {
  toSigningIn();
  SigningInPage* signingIn = dlg_->signingInPage();
  ASSERT_TRUE(signingIn->timer().isRunning());
  dlg_->uriReceived(goodCallback().c_str());
  EXPECT_EQ(current(), "applyToken");
  EXPECT_FALSE(signingIn->timer().isRunning());
  ASSERT_TRUE(runUntil([&] { return current() == "settings"; }));

  // An end of the attempt that no longer shows changes nothing.
  for (bool timedOut : {true, false}) {
    dlg_->signingInEnded(timedOut);
    EXPECT_EQ(current(), "settings");
  }
}

TEST_F(PagesTest, RefusedCallbacksChangeNoPageAndTouchNoPackage) {
  toSigningIn();
  const std::string state = SigningInPage::state();
  std::string otherState = state;
  otherState[5] = otherState[5] == 'A' ? 'B' : 'A';
  struct Case {
    std::string uri;
    const char* failure;
  };
  const Case cases[] = {
      {std::string(kScheme) + ":///Install?state=" + state + "&server=t1", "Bad URI endpoint"},
      {std::string(kScheme) + ":///install/more?state=" + state + "&server=t1", "Bad URI endpoint"},
      {std::string(kScheme) + ":///install?state=" + otherState, "Bad signingInState"},
      {callback("server=t1"), "Bad signingInState"},
      {callback("state=" + state), "Missing server param"},
      {callback("state=" + state + "&server"), "Invalid endpoint"},
      {callback("state=" + state + "&=t1"), "Invalid endpoint"},
      {callback("state=" + state + "&server=t1&server=t2"), "Invalid endpoint"},
      {callback("state=" + state + "&&server=t1"), "Invalid endpoint"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.uri);
    EXPECT_THAT(yarl_test::failureOf<plat::Exception>([&] { dlg_->uriReceived(c.uri.c_str()); }), HasSubstr(c.failure));
    EXPECT_EQ(current(), "signingIn");
    EXPECT_EQ(dlg_->applyTokenPage(), nullptr);
    EXPECT_TRUE(dlg_->signingInPage()->timer().isRunning());
  }
}

TEST_F(PagesTest, CallbacksSeparatedBySemicolonsOrWithAnEmptyTicketAreAccepted) {
  for (const char* form : {"state=%s;server=t1", "server=&state=%s"}) {
    SCOPED_TRACE(form);
    toSigningIn();
    std::string query = form;
    query.replace(query.find("%s"), 2, SigningInPage::state());
    const std::string uri = callback(query);
    EXPECT_EQ(yarl_test::failureOf<plat::Exception>([&] { dlg_->uriReceived(uri.c_str()); }),
              yarl_test::kNothingThrown);
    ASSERT_NE(dlg_->applyTokenPage(), nullptr);
    EXPECT_EQ(current(), "applyToken");
    EXPECT_EQ(dlg_->applyTokenPage()->query().count("server"), 1u);
    EXPECT_TRUE(dlg_->applyTokenPage()->spinner()->image()->isVisible());
    EXPECT_THAT(markupOf("applyToken.text"), HasSubstr("Please wait while the setup completes ..."));
    ASSERT_TRUE(runUntil([&] { return current() == "settings"; }));
  }
}

TEST_F(PagesTest, ACallbackOutsideTheSigningInPageIsRefused) {
  toSigningIn();
  const std::string uri = goodCallback();
  click("signingIn.goback");
  EXPECT_EQ(yarl_test::failureOf<plat::Exception>([&] { dlg_->uriReceived(uri.c_str()); }),
            "URI received when not showing SigningInPage");
  EXPECT_EQ(current(), "signInChoose");
}

// ---- Settings page ----

TEST_F(PagesTest, TheSettingsPageProposesFourWordsInClearAndChecksBothBoxes) {
  toSettings();
  SettingsPage* page = dlg_->settingsPage();
  auto* clear = find<mui::MuEdit>("settings.pwd.clear");
  EXPECT_TRUE(clear->isVisible());
  EXPECT_FALSE(find("settings.pwd.hidden")->isVisible());
  EXPECT_THAT(clear->getText(), MatchesRegex("[A-Z][a-z]*(-[A-Z][a-z]*){3}"));
  EXPECT_EQ(page->password()->currentEdit(), clear);
  EXPECT_TRUE(find<mui::MuCheck>("settings.yarlAuth")->getValue());
  EXPECT_FALSE(find<mui::MuCheck>("settings.sysAuth")->getValue());
  EXPECT_TRUE(find<mui::MuCheck>("settings.analytics")->getValue());
  EXPECT_TRUE(find<mui::MuCheck>("settings.updates")->getValue());
  EXPECT_FALSE(find("settings.info")->isVisible());
}

TEST_F(PagesTest, SystemAuthenticationIsOfferedOnlyWithTheServersFeature) {
  struct Case {
    std::vector<const char*> features;
    bool offered;
  };
  const Case cases[] = {{{}, false}, {{"CLOUD_SSO", "OTHER"}, false}, {{"CLOUD_SSO", "SYSTEM_AUTH"}, true}};
  for (const Case& c : cases) {
    qoSetup::capsFeatures().clear();
    for (const char* feature : c.features) qoSetup::capsFeatures().emplace(feature);
    SettingsPage page(dlg_.get());
    auto* sysAuth = dynamic_cast<mui::MuCheck*>(page.root()->findElement("sysAuth"));
    ASSERT_NE(sysAuth, nullptr);
    EXPECT_TRUE(sysAuth->isVisible());
    EXPECT_EQ(enabled(sysAuth), c.offered);
    EXPECT_THAT(page.sysAuthText()->text(), HasSubstr("disabledText"));
    EXPECT_THAT(page.sysAuthText()->text(), HasSubstr("Use the username and password of a Mac account"));
  }
}

TEST_F(PagesTest, ChoosingSystemAccountsDisablesThePasswordAndColoursTheDescription) {
  qoSetup::capsFeatures().emplace("SYSTEM_AUTH");
  toSettings();
  SettingsPage* page = dlg_->settingsPage();
  click("settings.sysAuth", "1");
  EXPECT_FALSE(find<mui::MuCheck>("settings.yarlAuth")->getValue());
  for (const char* edit : {"settings.pwd.hidden", "settings.pwd.clear", "settings.pwd.clearObsBtn"})
    EXPECT_FALSE(enabled(find(edit))) << edit;
  EXPECT_THAT(page->sysAuthText()->text(), Not(HasSubstr("disabledText")));
  click("settings.yarlAuth", "1");
  EXPECT_TRUE(enabled(find("settings.pwd.clear")));
  EXPECT_THAT(page->sysAuthText()->text(), HasSubstr("disabledText"));
}

TEST_F(PagesTest, TheSettingsAreCollectedInNameOrder) {
  qoSetup::capsFeatures().emplace("SYSTEM_AUTH");
  toSettings();
  SettingsPage* page = dlg_->settingsPage();
  auto entries = [&] {
    SettingsPage::Values values;
    EXPECT_TRUE(page->collect(values));
    std::vector<std::string> out;
    for (const auto& [name, value] : values)
      out.push_back(
          std::string(name.c_str()) + "=" +
          (std::strcmp(name.c_str(), "Password") == 0 ? std::to_string(value.length()) + " digits" : value.c_str()));
    return out;
  };
  EXPECT_TRUE(find<mui::MuEdit>("settings.pwd.clear")->performAction("settext", "secret"));
  EXPECT_THAT(entries(), ElementsAre("Authentication=YarlAuth", "EnableAnalytics=1", "EnableAutoUpdateChecks=1",
                                     "Password=174 digits"));
  click("settings.analytics", "0");
  click("settings.sysAuth", "1");
  EXPECT_THAT(entries(), ElementsAre("Authentication=SystemAuth", "EnableAnalytics=0", "EnableAutoUpdateChecks=1"));
}

TEST_F(PagesTest, PasswordsShorterThanSixBytesAreRefusedOnThePage) {
  toSettings();
  SettingsPage* page = dlg_->settingsPage();
  struct Case {
    const char* password;
    bool accepted;
  };
  // "é" is two bytes: five characters, six bytes.
  const Case cases[] = {{"", false}, {"abcde", false}, {"abcdé", true}, {"abcdef", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.password);
    EXPECT_TRUE(find<mui::MuEdit>("settings.pwd.clear")->performAction("settext", c.password));
    SettingsPage::Values values;
    EXPECT_EQ(page->collect(values), c.accepted);
    EXPECT_EQ(values.empty(), !c.accepted);
    if (!c.accepted) {
      EXPECT_TRUE(find("settings.info")->isVisible());
      EXPECT_THAT(markupOf("settings.info.split.textLayout.text"),
                  HasSubstr("The password must have a minimum of 6 characters."));
      // The typed text stays for the user to correct.
      EXPECT_EQ(std::string(find<mui::MuEdit>("settings.pwd.clear")->getText()), c.password);
    }
  }
  // A refused "Launch" sends nothing.
  EXPECT_TRUE(find<mui::MuEdit>("settings.pwd.clear")->performAction("settext", "abcde"));
  click("settings.launch");
  EXPECT_FALSE(page->sending());
}

TEST_F(PagesTest, AFailedSettingsWriteIsShownAndTheServerIsLaunchedAllTheSame) {
  toSettings();
  std::vector<std::string> boxes;
  backend_.modalScript = [&](yarl_test::MuTestDialog& box) {
    auto* text = static_cast<mui::MuText*>(box.findElement("main.frame.split.info.msg"));
    boxes.push_back(text ? text->text() : "(no text)");
    EXPECT_TRUE(box.findElement("main.buttons.ok")->performAction("click", nullptr));
  };
  ASSERT_TRUE(dlg_->dialog()->isVisible());
  dlg_->settingsPage()->svrSettingsResult(plat::Exception("Cannot write the settings"));
  EXPECT_THAT(boxes, ElementsAre(HasSubstr("Cannot write the settings")));
  // Launched: the dialog hides and ends the loop later.
  EXPECT_FALSE(dlg_->dialog()->isVisible());
}

TEST_F(PagesTest, APageDroppedWhileItsBoxShowsLaunchesNothing) {
  toSettings();
  backend_.modalScript = [&](yarl_test::MuTestDialog& box) {
    // The helper died meanwhile, say: the error page replaces the page.
    dlg_->showError("Helper gone", nullptr);
    EXPECT_TRUE(box.findElement("main.buttons.ok")->performAction("click", nullptr));
  };
  dlg_->settingsPage()->svrSettingsResult(plat::Exception("Cannot write the settings"));
  EXPECT_TRUE(dlg_->dialog()->isVisible());
  EXPECT_EQ(current(), "error");
  ASSERT_TRUE(runUntil([&] { return dlg_->pendingFrees() == 0; }));
}

}  // namespace
