#include "language/translation_setup_support.h"

#include "core/linux_wording.h"
#include "support/async.h"

#include <QCoroTimer>

#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace tavrolin {
namespace {

using Pair = std::pair<AppLanguage, AppLanguage>;
using Availability = TranslationPairAvailability;

// Answers availability from a table (unsupported when absent) after a short real pause, and
// records every question and how many were in flight at once.
class AvailabilityTable final : public TranslationClient {
public:
    std::map<Pair, Availability> answers;
    std::vector<Pair> asked;
    int inFlight = 0;
    int mostInFlight = 0;

    QCoro::Task<Availability> availability(AppLanguage source, AppLanguage target) override {
        asked.emplace_back(source, target);
        mostInFlight = std::max(mostInFlight, ++inFlight);
        co_await QCoro::sleepFor(std::chrono::milliseconds(1));
        --inFlight;
        const auto found = answers.find({source, target});
        co_return found == answers.end() ? Availability::unsupported : found->second;
    }
    using TranslationClient::translate;
    QCoro::Task<QStringList> translate(QStringList, AppLanguage, AppLanguage) override {
        throw std::logic_error("setup notices never translate");
    }
};

// The packages of the pairs these tests name (the desktop's own table is the Linux back end's).
std::optional<QString> packageOf(AppLanguage source, AppLanguage target) {
    if (source == AppLanguage::english && target == AppLanguage::spanish) {
        return QStringLiteral("apertium-eng-spa");
    }
    if (source == AppLanguage::french && target == AppLanguage::spanish) {
        return QStringLiteral("apertium-fr-es");
    }
    return std::nullopt;
}

struct Fixture {
    std::shared_ptr<AvailabilityTable> client = std::make_shared<AvailabilityTable>();
    TranslationSetupSupport support{client, isTranslationSystemSupported, packageOf};

    std::optional<TranslationDownloadNotice> notice(AppLanguage source, AppLanguage target) {
        return test::await(support.downloadNotice({source, target}));
    }
};

TEST(TranslationSetupSupportTest, PairNoticeOnlyForDownloadablePairs) {
    Fixture f;
    EXPECT_EQ(f.notice(AppLanguage::english, AppLanguage::english), std::nullopt);
    EXPECT_TRUE(f.client->asked.empty()) << "a pair of one language is never asked about";

    for (const Availability answer : {Availability::installed, Availability::unsupported}) {
        f.client->answers[{AppLanguage::english, AppLanguage::spanish}] = answer;
        EXPECT_EQ(f.notice(AppLanguage::english, AppLanguage::spanish), std::nullopt);
    }

    f.client->answers[{AppLanguage::english, AppLanguage::spanish}] = Availability::supported;
    f.client->asked.clear();
    const auto notice = f.notice(AppLanguage::english, AppLanguage::spanish);
    ASSERT_TRUE(notice);
    EXPECT_EQ(f.client->asked, (std::vector<Pair>{{AppLanguage::english, AppLanguage::spanish}}));
    EXPECT_EQ(notice->title, "Translation Languages Need Installing");
    EXPECT_EQ(notice->message,
              "Install the Apertium language data for English and Spanish with your package "
              "manager to use this translation pair. To install: sudo apt install "
              "apertium-eng-spa");

    // A downloadable pair without a known package still gets its notice, in general words.
    f.client->answers[{AppLanguage::spanish, AppLanguage::german}] = Availability::supported;
    const auto general = f.notice(AppLanguage::spanish, AppLanguage::german);
    ASSERT_TRUE(general);
    EXPECT_EQ(general->message,
              "Install the Apertium language data for Spanish and German with your package "
              "manager to use this translation pair.");
}

TEST(TranslationSetupSupportTest, UnsupportedSystemGivesNoNoticeWithoutAsking) {
    auto client = std::make_shared<AvailabilityTable>();
    client->answers[{AppLanguage::english, AppLanguage::spanish}] = Availability::supported;
    client->answers[{AppLanguage::french, AppLanguage::german}] = Availability::supported;
    TranslationSetupSupport support(client, [] { return false; });
    EXPECT_EQ(test::await(support.downloadNotice({AppLanguage::english, AppLanguage::spanish})), std::nullopt);
    EXPECT_EQ(test::await(support.downloadNotice({AppLanguage::automatic, AppLanguage::german})), std::nullopt);
    EXPECT_TRUE(client->asked.empty());
}

TEST(TranslationSetupSupportTest, TargetScanAsksEverySourceInOrderOneAtATime) {
    Fixture f;
    // Both flags are set by the first two sources asked; the scan still goes on to the end.
    f.client->answers[{AppLanguage::arabic, AppLanguage::german}] = Availability::installed;
    f.client->answers[{AppLanguage::chinese, AppLanguage::german}] = Availability::supported;
    ASSERT_TRUE(f.notice(AppLanguage::automatic, AppLanguage::german));

    std::vector<Pair> expected;
    for (const AppLanguage source : AppLanguages::sourceCases()) {
        if (source != AppLanguage::automatic && source != AppLanguage::german) {
            expected.emplace_back(source, AppLanguage::german);
        }
    }
    EXPECT_EQ(expected.size(), 18u);
    EXPECT_EQ(f.client->asked, expected);
    EXPECT_EQ(f.client->mostInFlight, 1);
    for (const auto& [source, target] : f.client->asked) {
        EXPECT_NE(source, AppLanguage::hebrew);
        EXPECT_NE(source, AppLanguage::german);
    }
}

TEST(TranslationSetupSupportTest, TargetNoticeFollowsTheFlags) {
    {
        SCOPED_TRACE("nothing downloadable");
        Fixture f;
        f.client->answers[{AppLanguage::english, AppLanguage::german}] = Availability::installed;
        EXPECT_EQ(f.notice(AppLanguage::automatic, AppLanguage::german), std::nullopt);
    }
    {
        SCOPED_TRACE("downloadable, nothing installed, no package known");
        Fixture f;
        f.client->answers[{AppLanguage::french, AppLanguage::german}] = Availability::supported;
        const auto notice = f.notice(AppLanguage::automatic, AppLanguage::german);
        ASSERT_TRUE(notice);
        EXPECT_EQ(notice->title, "Translation Languages Need Installing");
        EXPECT_EQ(notice->message,
                  "Install the Apertium language data for German and the source languages you "
                  "translate from with your package manager.");
    }
    {
        SCOPED_TRACE("partly installed");
        Fixture f;
        f.client->answers[{AppLanguage::english, AppLanguage::german}] = Availability::installed;
        f.client->answers[{AppLanguage::french, AppLanguage::german}] = Availability::supported;
        const auto notice = f.notice(AppLanguage::automatic, AppLanguage::german);
        ASSERT_TRUE(notice);
        EXPECT_EQ(notice->title, "Some Translation Languages May Need Installing");
        EXPECT_TRUE(notice->message.endsWith("before translating into German.")) << notice->message.toStdString();
    }
    {
        SCOPED_TRACE("the packages of every downloadable source, in scan order, once each");
        Fixture f;
        f.client->answers[{AppLanguage::english, AppLanguage::spanish}] = Availability::supported;
        f.client->answers[{AppLanguage::french, AppLanguage::spanish}] = Availability::supported;
        f.client->answers[{AppLanguage::italian, AppLanguage::spanish}] = Availability::installed;
        const auto notice = f.notice(AppLanguage::automatic, AppLanguage::spanish);
        ASSERT_TRUE(notice);
        EXPECT_EQ(notice->message,
                  "Some detected source languages may need additional Apertium language data "
                  "installed before translating into Spanish. To install: sudo apt install "
                  "apertium-eng-spa apertium-fr-es");
    }
}

TEST(TranslationSetupSupportTest, AClientThatHasEverythingInstalledGivesNoNotices) {
    Fixture f;
    for (const AppLanguage source : AppLanguages::allCases()) {
        for (const AppLanguage target : AppLanguages::targetCases()) {
            f.client->answers[{source, target}] = Availability::installed;
        }
    }
    for (const AppLanguage target : AppLanguages::targetCases()) {
        EXPECT_EQ(f.notice(AppLanguage::automatic, target), std::nullopt);
        EXPECT_EQ(f.notice(AppLanguage::english, target), std::nullopt);
    }
}

TEST(TranslationSetupSupportTest, NoticesReadInThisDesktopsWords) {
    const TranslationDownloadNotice notices[] = {
        TranslationSetupSupport::pairNotice(AppLanguage::spanish, AppLanguage::german, std::nullopt),
        TranslationSetupSupport::targetNoticeNothingInstalled(AppLanguage::german, {}),
        TranslationSetupSupport::targetNoticePartlyInstalled(AppLanguage::german, {QStringLiteral("x")}),
    };
    for (const auto& notice : notices) {
        for (const QString& text : {notice.title, notice.message}) {
            EXPECT_FALSE(text.contains("macOS")) << text.toStdString();
            EXPECT_FALSE(text.contains("Download")) << text.toStdString();
            EXPECT_FALSE(text.contains("Settings")) << text.toStdString();
            EXPECT_FALSE(text.contains(QRegularExpression("%\\d"))) << text.toStdString();
        }
    }
}

}  // namespace
}  // namespace tavrolin
