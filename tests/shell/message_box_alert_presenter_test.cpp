// The modal message box behind the alerts: texts, button order, default and Escape buttons.
#include "shell/alert_presenting.h"
#include "support/qt_printers.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

struct Seen {
    QString text;
    QString informativeText;
    QStringList buttons;
    QString defaultButton;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool hasIconPixmap = false;
    bool modal = false;
    // Every label that shows text: its format and whether it opens links.
    std::vector<std::pair<Qt::TextFormat, bool>> labels;
    QStringList labelTexts;
};

// Inspects the box once it is up, then answers it with `answer`.
int presentAndAnswer(const Alert& alert, const std::function<void(QMessageBox&)>& answer, Seen& seen) {
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        seen.text = box->text();
        seen.informativeText = box->informativeText();
        for (QAbstractButton* button : box->buttons()) {
            seen.buttons << button->text();
        }
        seen.defaultButton = box->defaultButton() ? box->defaultButton()->text() : QString();
        seen.icon = box->icon();
        seen.hasIconPixmap = !box->iconPixmap().isNull();
        seen.modal = box->isModal();
        for (QLabel* label : box->findChildren<QLabel*>()) {
            if (!label->text().isEmpty()) {
                seen.labels.emplace_back(label->textFormat(), label->openExternalLinks());
                seen.labelTexts << label->text();
            }
        }
        answer(*box);
    });
    MessageBoxAlertPresenter presenter;
    return presenter.present(alert);
}

TEST(MessageBoxAlertPresenter, ShowsTheTextsAndButtonsInOrderWithTheFirstAsDefault) {
    QPixmap icon(16, 16);
    icon.fill(Qt::blue);
    const Alert alert{AlertStyle::informational,
                      "Install Translation Languages",
                      "can\u2019t translate\n\u2022 German",
                      QIcon(icon),
                      {"Open Settings", "Try Again", "OK"}};
    Seen seen;
    const int answer = presentAndAnswer(
        alert, [](QMessageBox& box) { box.buttons()[1]->click(); }, seen);
    EXPECT_EQ(seen.text, alert.title);
    EXPECT_EQ(seen.informativeText, alert.message);
    EXPECT_EQ(seen.buttons, alert.buttons);
    EXPECT_EQ(seen.defaultButton, "Open Settings");
    EXPECT_TRUE(seen.hasIconPixmap);
    EXPECT_TRUE(seen.modal);
    EXPECT_EQ(answer, 1);
}

TEST(MessageBoxAlertPresenter, TitleAndMessageAreShownAsPlainText) {
    // A foreign window class or error text that looks like markup must not render as HTML.
    const Alert alert{AlertStyle::informational,
                      "<b>Bold</b> title",
                      "<a href=\"https://example.invalid\">Click</a> in <i>firefox</i>",
                      QIcon(),
                      {"OK"}};
    Seen seen;
    presentAndAnswer(
        alert, [](QMessageBox& box) { box.buttons()[0]->click(); }, seen);
    ASSERT_EQ(seen.labels.size(), 2u) << seen.labelTexts.join(" | ").toStdString();
    for (const auto& [format, opensLinks] : seen.labels) {
        EXPECT_EQ(format, Qt::PlainText);
        EXPECT_FALSE(opensLinks);
    }
    EXPECT_TRUE(seen.labelTexts.contains(alert.message));
    EXPECT_TRUE(seen.labelTexts.contains(alert.title));
}

TEST(MessageBoxAlertPresenter, EscapeAnswersTheLastButton) {
    const Alert alert{AlertStyle::warning, "Could not restore shortcuts", "text", QIcon(), {"Open Settings", "OK"}};
    Seen seen;
    const int answer = presentAndAnswer(
        alert, [](QMessageBox& box) { box.reject(); }, seen);
    EXPECT_EQ(seen.icon, QMessageBox::Warning);
    EXPECT_EQ(answer, 1);
}

TEST(MessageBoxAlertPresenter, ClosingAnAlertThatNamesItsCancelButtonAnswersThatButton) {
    Alert alert{AlertStyle::critical,
                "Important Tavrolin update available",
                "text",
                QIcon(),
                {"Update Now", "Later", "Skip This Version"}};
    alert.cancelButton = 1;
    Seen seen;
    const int answer = presentAndAnswer(
        alert, [](QMessageBox& box) { box.reject(); }, seen);
    EXPECT_EQ(seen.icon, QMessageBox::Critical);
    EXPECT_EQ(seen.buttons, alert.buttons);
    EXPECT_EQ(answer, 1);
}

}  // namespace
}  // namespace tavrolin
