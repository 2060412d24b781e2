#include "updates/app_update_state_store.h"

#include "updates/app_update_configuration.h"

#include <QJsonArray>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;

AppUpdate update(const QString& build) {
    return {"1.0", build, std::nullopt, QUrl("https://example.test/d"), std::nullopt, false};
}

TEST(AppUpdateStateStore, NothingStored) {
    InMemoryDefaultsStore defaults;
    AppUpdateStateStore store(defaults);
    EXPECT_FALSE(store.isSkipped(update("57")));
    EXPECT_FALSE(store.isSkipped(update("")));
    EXPECT_FALSE(store.lastCheckDate());
    EXPECT_TRUE(store.isCheckDue(QDateTime::currentDateTimeUtc(), 86400));
}

TEST(AppUpdateStateStore, SkippedBuildComparesAsText) {
    struct Case {
        QJsonValue stored;
        QString build;
        bool skipped;
    };
    const Case cases[] = {
        {QJsonValue("57"), "57", true},
        {QJsonValue(57), "57", true},  // a number reads as its decimal text
        {QJsonValue("057"), "57", false},
        {QJsonValue("57"), "58", false},
        {QJsonValue(""), "", true},
        {QJsonValue(QJsonArray{"57"}), "57", false},
        {QJsonValue(QJsonObject{{"$date", "2026-01-01T00:00:00Z"}}), "57", false},
    };
    for (const auto& c : cases) {
        InMemoryDefaultsStore defaults;
        defaults.setRawValue(AppUpdateStateStore::skippedBuildKey, c.stored);
        EXPECT_EQ(AppUpdateStateStore(defaults).isSkipped(update(c.build)), c.skipped) << c.build.toStdString();
    }
}

TEST(AppUpdateStateStore, LastCheckDateOnlyFromAStoredDate) {
    InMemoryDefaultsStore defaults;
    AppUpdateStateStore store(defaults);
    defaults.setString(AppUpdateStateStore::lastCheckDateKey, "2026-01-15T12:00:00Z");
    EXPECT_FALSE(store.lastCheckDate());
    const QDateTime when(QDate(2026, 1, 15), QTime(12, 0), Qt::UTC);
    defaults.setDate(AppUpdateStateStore::lastCheckDateKey, when);
    ASSERT_TRUE(store.lastCheckDate());
    EXPECT_EQ(*store.lastCheckDate(), when);
}

TEST(AppUpdateStateStore, TimeUntilNextCheck) {
    const QDateTime last(QDate(2026, 1, 15), QTime(12, 0), Qt::UTC);
    InMemoryDefaultsStore defaults;
    defaults.setDate(AppUpdateStateStore::lastCheckDateKey, last);
    AppUpdateStateStore store(defaults);
    const double day = 86400;

    EXPECT_EQ(store.timeUntilNextCheck(last.addSecs(600), day), 23h + 50min);
    EXPECT_FALSE(store.isCheckDue(last.addSecs(600), day));
    EXPECT_EQ(store.timeUntilNextCheck(last.addSecs(86400 - 30), day), 30s);
    EXPECT_TRUE(store.isCheckDue(last.addSecs(86400), day));  // exactly the interval: due
    EXPECT_TRUE(store.isCheckDue(last.addDays(40), day));

    // A date in the future (clock set back) is due now, not once that date has passed.
    EXPECT_TRUE(store.isCheckDue(last.addYears(-3), day));
    EXPECT_TRUE(store.isCheckDue(last.addSecs(-1), day));

    // Whatever interval is handed in, the answer stays finite and bounded.
    const auto huge = store.timeUntilNextCheck(last, std::numeric_limits<double>::infinity());
    EXPECT_EQ(huge,
              std::chrono::milliseconds(static_cast<qint64>(AppUpdateConfiguration::maximumCheckInterval * 1000)));
    EXPECT_EQ(store.timeUntilNextCheck(last.addSecs(1), std::nan("")), 0ms);
}

}  // namespace
}  // namespace tavrolin
