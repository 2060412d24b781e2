#include "core/app_metadata.h"
#include "shell/share_alert_presenter.h"
#include "shell/share_prompt_coordinator.h"
#include "shell/share_prompt_store.h"
#include "support/fakes/scripted_alert_presenter.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QUrlQuery>

#include <deque>
#include <gtest/gtest.h>

namespace tavrolin {
namespace {

using Event = std::pair<TelemetryAction, TelemetryTrigger>;

// Successes (1-based) at which recordSuccess() answers true among the first `count`.
std::vector<int> duePoints(SharePromptStore& store, int count) {
    std::vector<int> due;
    for (int i = 1; i <= count; ++i) {
        if (store.recordSuccess()) {
            due.push_back(i);
        }
    }
    return due;
}

TEST(SharePromptStoreTest, ScheduleFallsDueAtItsSuccessCounts) {
    const struct {
        const char* name;
        std::vector<int> schedule;
        std::vector<int> expected;
    } cases[] = {
        {"default", SharePromptStore::defaultSchedule(), {20, 30, 40, 50, 60}},
        {"last entry repeats", {3, 5}, {3, 8, 13, 18, 23, 28, 33, 38, 43, 48, 53, 58}},
        {"empty schedule steps by ten", {}, {10, 20, 30, 40, 50, 60}},
    };
    for (const auto& c : cases) {
        InMemoryDefaultsStore defaults;
        SharePromptStore store(c.schedule, defaults);
        EXPECT_EQ(duePoints(store, 60), c.expected) << c.name;
    }
}

TEST(SharePromptStoreTest, TwentiethSuccessStoresIndexAndNextDuePoint) {
    InMemoryDefaultsStore defaults;
    SharePromptStore store(SharePromptStore::defaultSchedule(), defaults);
    EXPECT_EQ(duePoints(store, 19), std::vector<int>{});
    EXPECT_FALSE(defaults.contains(SharePromptStore::nextAtKey));
    EXPECT_TRUE(store.recordSuccess());
    EXPECT_EQ(defaults.integer(SharePromptStore::indexKey), 1);
    EXPECT_EQ(defaults.integer(SharePromptStore::nextAtKey), 30);
    EXPECT_EQ(defaults.integer(SharePromptStore::totalSuccessCountKey), 20);
}

TEST(SharePromptStoreTest, StoredValuesWeNeverWriteAreReadSafely) {
    const struct {
        const char* name;
        QJsonValue index;
        QJsonValue nextAt;
        int firstDue;
    } cases[] = {
        // A negative position reads as the start of the schedule.
        {"negative index", -3, QJsonValue(), 20},
        {"index past the end", 7, QJsonValue(), 10},
        // A due point that is not a number is ignored rather than read as 0 (a prompt at once).
        {"text due point", QJsonValue(), QStringLiteral("soon"), 20},
        {"numeric due point", QJsonValue(), 5, 5},
    };
    for (const auto& c : cases) {
        InMemoryDefaultsStore defaults;
        if (!c.index.isUndefined() && !c.index.isNull()) {
            defaults.setRawValue(SharePromptStore::indexKey, c.index);
        }
        if (!c.nextAt.isUndefined() && !c.nextAt.isNull()) {
            defaults.setRawValue(SharePromptStore::nextAtKey, c.nextAt);
        }
        SharePromptStore store(SharePromptStore::defaultSchedule(), defaults);
        const std::vector<int> due = duePoints(store, 25);
        ASSERT_FALSE(due.empty()) << c.name;
        EXPECT_EQ(due.front(), c.firstDue) << c.name;
    }
}

TEST(SharePromptStoreTest, DisabledStoreStopsCounting) {
    InMemoryDefaultsStore defaults;
    SharePromptStore store(SharePromptStore::defaultSchedule(), defaults);
    duePoints(store, 5);
    store.disableForever();
    EXPECT_EQ(duePoints(store, 40), std::vector<int>{});
    EXPECT_EQ(defaults.integer(SharePromptStore::totalSuccessCountKey), 5);
}

TEST(ShareAlertPresenterTest, QuestionTextIsExact) {
    EXPECT_EQ(ShareAlertPresenter::title(), u"Enjoying Tavrolin?");
    EXPECT_EQ(ShareAlertPresenter::message(),
              QString::fromUtf8("If you find Tavrolin useful, help others discover it by sharing it with a friend. "
                                "You can choose \xE2\x80\x9C"
                                "Don\xE2\x80\x99t Ask Again\xE2\x80\x9D to stop seeing this prompt."));
    EXPECT_EQ(ShareAlertPresenter::buttons(),
              (QStringList{QString::fromUtf8("Share Tavrolin\xE2\x80\xA6"), QStringLiteral("Not Now"),
                           QString::fromUtf8("Don\xE2\x80\x99t Ask Again")}));
    const ShareItems items = ShareItems::defaults();
    EXPECT_EQ(items.text,
              QString::fromUtf8("Check out Tavrolin \xE2\x80\x94 instant screenshot & text translation on Linux."));
    EXPECT_EQ(items.url, AppMetadata::websiteURL());
}

// The application's share flow with a scripted question and a recorded menu.
struct ShareHarness {
    InMemoryDefaultsStore defaults;
    SharePromptStore store{SharePromptStore::defaultSchedule(), defaults};
    std::deque<int> answers;
    int questionsAsked = 0;
    std::vector<Event> events;
    std::optional<QPoint> anchor = QPoint(40, 10);
    std::vector<QPoint> menusShownAt;
    std::optional<TelemetryTrigger> pending;
    // Runs while the question is up (what the event loop of a modal alert may deliver).
    std::function<void()> duringQuestion;
    SharePromptCoordinator coordinator{store, pending,
                                       [this] {
                                           return ShareAlertPresenter(
                                               [this] { return anchor; },
                                               [this](const QString&, const QString&, const QStringList&) {
                                                   ++questionsAsked;
                                                   if (duringQuestion) {
                                                       duringQuestion();
                                                   }
                                                   const int answer = answers.empty() ? 1 : answers.front();
                                                   if (!answers.empty()) {
                                                       answers.pop_front();
                                                   }
                                                   return answer;
                                               },
                                               [this](QMenu* menu, QPoint at) {
                                                   menusShownAt.push_back(at);
                                                   delete menu;
                                               });
                                       },
                                       [this](TelemetryAction a, TelemetryTrigger t) { events.emplace_back(a, t); }};

    void succeed(int times, TelemetryTrigger trigger) {
        for (int i = 0; i < times; ++i) {
            coordinator.recordSuccess(trigger);
        }
    }
};

TEST(SharePromptFlowTest, PromptWaitsForTheResultPanelToClose) {
    ShareHarness h;
    h.succeed(20, TelemetryTrigger::hotkey);
    EXPECT_EQ(h.questionsAsked, 0);
    EXPECT_EQ(h.coordinator.pendingTrigger(), TelemetryTrigger::hotkey);

    h.coordinator.resultPanelClosed();
    EXPECT_EQ(h.questionsAsked, 1);
    EXPECT_FALSE(h.coordinator.pendingTrigger());
    EXPECT_EQ(h.events, (std::vector<Event>{{TelemetryAction::sharePromptShown, TelemetryTrigger::hotkey},
                                            {TelemetryAction::shareDismissed, TelemetryTrigger::hotkey}}));
    // A panel closing with nothing pending asks nothing.
    h.coordinator.resultPanelClosed();
    EXPECT_EQ(h.questionsAsked, 1);
}

TEST(SharePromptFlowTest, APanelClosingWhileAQuestionIsUpKeepsTheDuePrompt) {
    ShareHarness h;
    h.duringQuestion = [&h] {
        h.duringQuestion = nullptr;
        h.succeed(20, TelemetryTrigger::hotkey);
        h.coordinator.resultPanelClosed();
    };
    h.coordinator.shareApp();
    EXPECT_EQ(h.questionsAsked, 1) << "no second question on top of the first";
    EXPECT_EQ(h.pending, TelemetryTrigger::hotkey) << "the due prompt is still pending";

    h.coordinator.resultPanelClosed();
    EXPECT_EQ(h.questionsAsked, 2);
    EXPECT_FALSE(h.pending);
    EXPECT_EQ(h.events.at(2), Event(TelemetryAction::sharePromptShown, TelemetryTrigger::hotkey));
}

TEST(SharePromptFlowTest, LaterDueSuccessOverwritesThePendingTrigger) {
    ShareHarness h;
    h.succeed(20, TelemetryTrigger::hotkey);
    h.succeed(10, TelemetryTrigger::selectionPopup);
    h.coordinator.resultPanelClosed();
    EXPECT_EQ(h.questionsAsked, 1);
    EXPECT_EQ(h.events.front().second, TelemetryTrigger::selectionPopup);
}

TEST(SharePromptFlowTest, NotNowMovesTheScheduleOneEntryFurther) {
    ShareHarness h;
    h.answers = {1};
    h.succeed(20, TelemetryTrigger::overlay);
    h.coordinator.resultPanelClosed();
    EXPECT_EQ(h.defaults.integer(SharePromptStore::indexKey), 2);
    EXPECT_EQ(h.defaults.integer(SharePromptStore::nextAtKey), 30);
    h.succeed(9, TelemetryTrigger::overlay);
    EXPECT_FALSE(h.coordinator.pendingTrigger());
    h.succeed(1, TelemetryTrigger::overlay);
    EXPECT_TRUE(h.coordinator.pendingTrigger());
}

TEST(SharePromptFlowTest, DontAskAgainStopsAutomaticPromptsButNotTheMenu) {
    ShareHarness h;
    h.answers = {2};
    h.succeed(20, TelemetryTrigger::hotkey);
    h.coordinator.resultPanelClosed();
    EXPECT_TRUE(h.defaults.boolValue(SharePromptStore::disabledForeverKey));
    EXPECT_EQ(h.events.back(), Event(TelemetryAction::sharePromptDisabled, TelemetryTrigger::hotkey));

    h.succeed(30, TelemetryTrigger::hotkey);
    EXPECT_EQ(h.defaults.integer(SharePromptStore::totalSuccessCountKey), 20);
    h.coordinator.presentSharePrompt(TelemetryTrigger::hotkey);
    EXPECT_EQ(h.questionsAsked, 1);

    h.coordinator.shareApp();
    EXPECT_EQ(h.questionsAsked, 2);
    EXPECT_EQ(h.events.back(), Event(TelemetryAction::shareDismissed, TelemetryTrigger::menu));
}

TEST(SharePromptFlowTest, MenuPathNeverTouchesTheCounters) {
    for (const int answer : {0, 1, 2}) {
        ShareHarness h;
        h.succeed(7, TelemetryTrigger::hotkey);
        h.answers = {answer};
        h.coordinator.shareApp();
        EXPECT_EQ(h.defaults.integer(SharePromptStore::totalSuccessCountKey), 7) << answer;
        EXPECT_FALSE(h.defaults.contains(SharePromptStore::indexKey)) << answer;
        EXPECT_FALSE(h.defaults.contains(SharePromptStore::nextAtKey)) << answer;
        EXPECT_EQ(h.defaults.boolValue(SharePromptStore::disabledForeverKey), answer == 2) << answer;
        EXPECT_EQ(h.events.front(), Event(TelemetryAction::sharePromptShown, TelemetryTrigger::menu));
    }
}

TEST(SharePromptFlowTest, ShareOpensTheMenuAtTheTrayIconOrThePointerAndNeedsAnIcon) {
    const struct {
        const char* name;
        std::optional<QPoint> anchor;
        size_t menus;
    } cases[] = {
        {"tray icon", QPoint(40, 10), 1}, {"unknown position", QPoint(), 1}, {"no tray icon", std::nullopt, 0}};
    for (const auto& c : cases) {
        ShareHarness h;
        h.anchor = c.anchor;
        h.answers = {0};
        h.coordinator.shareApp();
        EXPECT_EQ(h.menusShownAt.size(), c.menus) << c.name;
        // The choice is reported whether or not a menu could be shown.
        EXPECT_EQ(h.events.back(), Event(TelemetryAction::shareApp, TelemetryTrigger::menu)) << c.name;
        if (c.anchor && !c.anchor->isNull()) {
            EXPECT_EQ(h.menusShownAt.front(), *c.anchor);
        }
    }
}

TEST(ShareAlertPresenterTest, TrayIconAnchorNeedsAnIconAndFallsBackToThePointer) {
    EXPECT_EQ(ShareAlertPresenter::trayIconAnchor(nullptr), std::nullopt);
    // No tray host reports a position here: the menu goes to the pointer.
    QSystemTrayIcon icon;
    EXPECT_EQ(ShareAlertPresenter::trayIconAnchor(&icon), QPoint());
}

// Only the button turns the prompt off: closed with Escape or the window's button, it is "Not Now".
TEST(ShareAlertPresenterTest, QuestionIsAnInformationalAlertAnsweredByButtonTitleAndClosedAsNotNow) {
    test::ScriptedAlertPresenter alerts;
    alerts.answers = {QString::fromUtf8("Don\xE2\x80\x99t Ask Again")};
    std::vector<Event> events;
    int disabled = 0;
    int dismissed = 0;
    ShareAlertPresenter presenter([] { return std::nullopt; }, ShareAlertPresenter::askThrough(alerts));
    const auto prompt = [&] {
        presenter.presentPrompt([&](TelemetryAction a, TelemetryTrigger t) { events.emplace_back(a, t); },
                                TelemetryTrigger::overlay, {}, [&] { ++dismissed; }, [&] { ++disabled; });
    };
    prompt();
    ASSERT_EQ(alerts.shown.size(), 1u);
    EXPECT_EQ(alerts.shown[0].style, AlertStyle::informational);
    EXPECT_EQ(alerts.shown[0].title, ShareAlertPresenter::title());
    EXPECT_EQ(alerts.shown[0].buttons, ShareAlertPresenter::buttons());
    EXPECT_EQ(disabled, 1);
    EXPECT_EQ(events.back(), Event(TelemetryAction::sharePromptDisabled, TelemetryTrigger::overlay));

    prompt();  // no answer scripted: closed without a button
    EXPECT_EQ(disabled, 1);
    EXPECT_EQ(dismissed, 1);
    EXPECT_EQ(events.back(), Event(TelemetryAction::shareDismissed, TelemetryTrigger::overlay));
}

TEST(ShareMenuTest, ActionsCopyMailAndOpenTheWebsite) {
    const ShareItems items{QStringLiteral("Try it & see + more"), QUrl(QStringLiteral("https://tavrolin.invalid"))};
    std::vector<QUrl> opened;
    std::unique_ptr<QMenu> menu(ShareMenu::create(items, nullptr, [&](const QUrl& url) {
        opened.push_back(url);
        return true;
    }));
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), 3);

    QClipboard* clipboard = QGuiApplication::clipboard();
    const QString saved = clipboard->text();
    actions[0]->trigger();
    EXPECT_EQ(clipboard->text(), u"https://tavrolin.invalid");
    clipboard->setText(saved);

    actions[1]->trigger();
    actions[2]->trigger();
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0].scheme(), u"mailto");
    const QUrlQuery query(opened[0]);
    EXPECT_EQ(query.queryItemValue(QStringLiteral("subject"), QUrl::FullyDecoded), items.text);
    EXPECT_EQ(query.queryItemValue(QStringLiteral("body"), QUrl::FullyDecoded),
              items.text + QStringLiteral("\n\nhttps://tavrolin.invalid"));
    EXPECT_EQ(opened[1], items.url);
}

}  // namespace
}  // namespace tavrolin
