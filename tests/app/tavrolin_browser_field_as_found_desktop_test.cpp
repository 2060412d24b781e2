// What a command that could not write leaves in a browser's field, with the real executable in
// Firefox ESR and Chromium (each started once for its suite): after a paste the page refused, the
// caret and selection the user had, in a rich-text field with a link and beside emoji; lists,
// nested or after a paragraph, written item by item or left exactly as they were, their links and
// bold words kept; paragraphs that stay paragraphs; and, once the user acts in the field or the
// page leaves our select-all standing, the user's letters and their message both kept; and links
// that keep their addresses.
#include "app/browser_test_program.h"
#include "app/terminal_job.h"
#include "language/focused_text_replacement_fallback.h"
#include "support/qt_printers.h"
#include "support/session/accessible_texts.h"
#include "support/test_browser.h"

#include <QApplication>
#include <QClipboard>
#include <QRegularExpression>
#include <QScopeGuard>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;
using browser_desktop::press;
using browser_desktop::Program;
using test::TestBrowser;
using Element = TestBrowser::Element;
using Selection = TestBrowser::Selection;

template <TestBrowser::Kind kind>
class FieldAsFoundTest : public browser_desktop::BrowserSuite<kind> {
protected:
    using Base = browser_desktop::BrowserSuite<kind>;
    using Base::browser_;
    using Base::program_;

    // One field as the user left it before Write Message: `html` in the contenteditable element,
    // or `text` in the textarea, and `placed` their caret or selection there.
    struct Case {
        std::string what;
        Element element;
        QString content;
        std::pair<int, int> placed;
    };

    // Write Message on each case while the page cancels every paste: the field keeps its text,
    // and once the copy window offering the result is closed, the caret and selection are where
    // the user had them, and stay there.
    void aRefusedPasteLeavesTheCaretAndSelectionWhereTheyWere(const std::vector<Case>& cases) {
        const auto refuseNoMore = qScopeGuard([] { browser_->refusePastesBy(TestBrowser::Refusal::none); });
        QApplication::clipboard()->setText(QStringLiteral("the user's own clipboard"));
        for (const Case& run : cases) {
            ASSERT_TRUE(program_->closeCopyWindows());
            ASSERT_TRUE(browser_->activate());
            ASSERT_TRUE(browser_->refusePastesBy(TestBrowser::Refusal::pasteEvent));
            if (run.element == Element::editable) {
                ASSERT_TRUE(browser_->prepareEditableHtml(run.content, Selection::caretAtEnd)) << run.what;
            } else {
                ASSERT_TRUE(browser_->prepare(run.element, run.content, Selection::caretAtEnd)) << run.what;
            }
            ASSERT_TRUE(browser_->select(run.placed.first, run.placed.second)) << run.what;
            const std::optional<QString> text = browser_->text(run.element);
            ASSERT_TRUE(text.has_value());
            if (run.element == Element::textarea) {
                Base::waitUntilAccessible(*text, run.what);
            }
            const qsizetype logBefore = program_->log().size();
            const int before = program_->events("translate_message");
            press("w");
            ASSERT_TRUE(program_->waitForEvents("translate_message", before + 1))
                << run.what << "\n"
                << program_->log().mid(logBefore).toStdString();
            // The user reads the result in the copy window and closes it once the page's refusal
            // is seen, or the paste is watched for. On a loaded machine no paste may go at all: the
            // select-all did not show in time, or a place the measure of the field's pictures did
            // not reach counts as a picture that a write would take away.
            test::waitUntil([] { return program_->copyWindow().has_value(); }, 5s);
            const auto holdOver = [&] {
                const QString since = program_->log().mid(logBefore);
                return since.contains("it refused the paste") || since.contains("watched for a late paste") ||
                       since.contains("paste not sent") || since.contains("object without text where the result") ||
                       since.contains("links the result would not keep");
            };
            EXPECT_TRUE(test::waitUntil(holdOver, 15s)) << run.what << "\n"
                                                        << program_->log().mid(logBefore).toStdString();
            ASSERT_TRUE(program_->closeCopyWindows()) << run.what;
            ASSERT_TRUE(browser_->activate());
            EXPECT_EQ(browser_->text(run.element), text) << run.what;
            test::waitUntil([&] { return browser_->selection() == run.placed; }, 10s);
            test::TerminalJob::pause(1500ms);
            const std::optional<std::pair<int, int>> now = browser_->selection();
            EXPECT_EQ(now, run.placed) << run.what << ": ends at " << (now ? now->first : -1) << "-"
                                       << (now ? now->second : -1) << "\n"
                                       << program_->log().mid(logBefore).toStdString();
            typeElsewhere();
        }
    }

    // Lines typed into the focused field as a user types them, a line break between them.
    static void typeLines(const QStringList& lines) {
        for (qsizetype i = 0; i < lines.size(); ++i) {
            if (i > 0) {
                browser_desktop::tool("xdotool", {"key", "Return"});
            }
            browser_desktop::tool("xdotool", {"type", "--delay", "20", lines[i]});
        }
        const QString last = lines.constLast();
        ASSERT_TRUE(browser_->waitForText(
            Element::editable, [&](const QString& now) { return now.contains(last); }, 5s));
        test::TerminalJob::pause(500ms);
    }

    // The user types on, in another field of the page: the refused paste's field is theirs again,
    // and the page's own changes to it (the next case's) are no late paste to undo.
    static void typeElsewhere() {
        ASSERT_TRUE(browser_->prepare(Element::input, QString(), Selection::caretAtEnd));
        browser_desktop::tool("xdotool", {"type", "--delay", "50", "ok"});
        ASSERT_TRUE(browser_->waitForText(
            Element::input, [](const QString& now) { return now == QStringLiteral("ok"); }, 5s));
        test::TerminalJob::pause(500ms);
    }

    // The rich-text cases: a sentence with a link, the caret at its end, right after the link,
    // and a word after the link selected.
    static std::vector<Case> richTextCases() {
        const QString html =
            QStringLiteral("I would like to meet <a href=\"#x\">my good friend</a> tomorrow at the station.");
        const QString text = QStringLiteral("I would like to meet my good friend tomorrow at the station.");
        const int afterLink = static_cast<int>(text.indexOf("my good friend") + 14);
        const int word = static_cast<int>(text.indexOf("tomorrow"));
        return {{"rich text, caret at the end", Element::editable, html, {int(text.size()), int(text.size())}},
                {"rich text, caret after the link", Element::editable, html, {afterLink, afterLink}},
                {"rich text, a word selected", Element::editable, html, {word, word + 8}}};
    }

    // A textarea beginning with two emoji, the caret after "like" or "like" selected.
    static Case emojiCase(bool selected) {
        const QString text = QStringLiteral("🚗🚗 I would like to meet you tomorrow at the station.");
        const int like = static_cast<int>(text.indexOf("like"));
        if (selected) {
            return {"two emoji, \"like\" selected", Element::textarea, text, {like, like + 4}};
        }
        return {"two emoji, caret after \"like\"", Element::textarea, text, {like + 4, like + 4}};
    }

    // Write Message and Flip Language on lists nested in an item, and on a list after a
    // paragraph. Each run succeeds with every item holding the result of its own line (its own
    // words, no blank or no-break space at its start, the capital it began with), or fails with
    // the field exactly as it was and the result offered for copying.
    void nestedListsAndListsAfterAParagraphKeepEveryItem() {
        struct Run {
            const char* key;
            QString action;
            QString html;
            QStringList words;  // one the result of each item's line holds, in document order
            QStringList gone;   // words of the original no item may keep
        };
        const Run runs[] = {
            {"w",
             "translate_message",
             "<ul><li>I have a red car.<ul><li>The house is big.</li></ul></li><li>The dog is small.</li></ul>",
             {"coche", "casa", "perro"},
             {"car", "house", "dog"}},
            {"f",
             "flip_language",
             QStringLiteral("<ul><li>Tengo un coche rojo.<ul><li>La casa es grande.</li></ul></li>"
                            "<li>El perro es pequeño.</li></ul>"),
             {"car", "house", "dog"},
             {"coche", "casa", "perro"}},
            {"w",
             "translate_message",
             "<p>Hello Anna,</p><ul><li>I have a red car.</li><li>The house is big.</li></ul>",
             {"coche", "casa"},
             {"car", "house"}},
            {"f",
             "flip_language",
             "<p>Hola Anna,</p><ul><li>Tengo un coche rojo.</li><li>La casa es grande.</li></ul>",
             {"car", "house"},
             {"coche", "casa"}},
        };
        for (const Run& run : runs) {
            const std::string what = (run.action + ": " + run.html).toStdString();
            ASSERT_TRUE(program_->closeCopyWindows());
            ASSERT_TRUE(browser_->activate());
            ASSERT_TRUE(browser_->prepareEditableHtml(run.html, Selection::caretAtEnd)) << what;
            const std::optional<QString> original = browser_->editableHtml();
            ASSERT_TRUE(original.has_value());
            const qsizetype logBefore = program_->log().size();
            const int before = program_->events(run.action);
            press(run.key);
            ASSERT_TRUE(program_->waitForEvents(run.action, before + 1)) << program_->log().toStdString();
            const QString ended = program_->eventLines(run.action).constLast();
            if (!ended.contains("success=true")) {
                EXPECT_EQ(browser_->editableHtml(), original) << what << ": " << ended.toStdString() << "\n"
                                                              << program_->log().mid(logBefore).toStdString();
                EXPECT_TRUE(test::waitUntil([&] { return program_->copyWindow().has_value(); }, 5s)) << what;
                continue;
            }
            const QStringList items = browser_->editableItems().value_or(QStringList());
            ASSERT_EQ(items.size(), run.words.size())
                << what << ": " << browser_->editableHtml().value_or("(no answer)").toStdString();
            for (qsizetype i = 0; i < items.size(); ++i) {
                const QString& item = items[i];
                EXPECT_TRUE(item.contains(run.words[i]) && !item.isEmpty() && item.front().isUpper() &&
                            item.trimmed() == item && !item.contains(QChar(0x00A0)))
                    << what << ": item " << i << " \"" << item.toStdString() << "\" in "
                    << browser_->editableHtml().value_or("(no answer)").toStdString();
                for (const QString& word : run.gone) {
                    EXPECT_FALSE(item.contains(word)) << what << ": " << item.toStdString();
                }
            }
        }
    }

    // Write Message on a list three levels deep whose items hold a bold word and a link: it
    // succeeds with each item holding the result of its own line, and the bold word and the
    // link, whose words the result keeps, still bold and a link.
    void aThreeLevelListIsWrittenItemByItemWithItsBoldWordsAndLinks() {
        ASSERT_TRUE(program_->closeCopyWindows());
        ASSERT_TRUE(browser_->activate());
        ASSERT_TRUE(browser_->prepareEditableHtml(
            QStringLiteral(
                "<ul><li>I have a red car with <b>Zorbel</b>.<ul><li>The house of <a href=\"#x\">Kravitz</a> "
                "is big.<ul><li>The dog is small.</li></ul></li></ul></li><li>We are going to the park.</li>"
                "</ul>"),
            Selection::caretAtEnd));
        const qsizetype logBefore = program_->log().size();
        const int before = program_->events("translate_message");
        press("w");
        ASSERT_TRUE(program_->waitForEvents("translate_message", before + 1)) << program_->log().toStdString();
        const QString ended = program_->eventLines("translate_message").constLast();
        const QString html = browser_->editableHtml().value_or(QStringLiteral("(no answer)"));
        EXPECT_TRUE(ended.contains("success=true")) << ended.toStdString() << "\n"
                                                    << program_->log().mid(logBefore).toStdString();
        const QStringList items = browser_->editableItems().value_or(QStringList());
        const QStringList words{"coche", "casa", "perro", "parque"};
        ASSERT_EQ(items.size(), words.size()) << html.toStdString();
        for (qsizetype i = 0; i < items.size(); ++i) {
            EXPECT_TRUE(items[i].contains(words[i]))
                << "item " << i << " \"" << items[i].toStdString() << "\" in " << html.toStdString();
        }
        EXPECT_TRUE(html.contains(QStringLiteral("<b>Zorbel</b>"))) << html.toStdString();
        EXPECT_TRUE(html.contains(QStringLiteral("<a href=\"#x\">Kravitz</a>"))) << html.toStdString();
    }

    // A message of two paragraphs, a greeting on the first: Write Message and Flip Language leave
    // two paragraphs, each the translation of its own line, neither starting with a blank (a
    // no-break space in the page) nor with a small letter where the user's began with a capital,
    // and no line break in place of a paragraph.
    void twoParagraphsStayTwoParagraphs() {
        struct Run {
            const char* key;
            QString action;
            QString html;  // typed line by line where it holds no markup
            QStringList paragraphs;
        };
        const Run runs[] = {
            {"w",
             "translate_message",
             "<p>Hello Anna,</p><p>I have a red car.</p>",
             {"Hola Anna,", "Tengo un coche rojo."}},
            {"f", "flip_language", "<p>Hola Anna,</p><p>Tengo un coche rojo.</p>", {"Hello Anna,", "Have a red car."}},
            // Lines as a user types them: Firefox makes a <div> of each, and then moves the caret
            // away from a line selected inside one a moment after it shows selected.
            {"w", "translate_message", "Hello Anna,\nI have a red car.", {"Hola Anna,", "Tengo un coche rojo."}},
        };
        for (const Run& run : runs) {
            const std::string what = (run.action + ": " + run.html).toStdString();
            ASSERT_TRUE(program_->closeCopyWindows());
            ASSERT_TRUE(browser_->activate());
            const bool typed = !run.html.startsWith(u'<');
            ASSERT_TRUE(browser_->prepareEditableHtml(typed ? QString() : run.html, Selection::caretAtEnd)) << what;
            if (typed) {
                typeLines(run.html.split(u'\n'));
            }
            const qsizetype logBefore = program_->log().size();
            const int before = program_->events(run.action);
            press(run.key);
            ASSERT_TRUE(program_->waitForEvents(run.action, before + 1)) << program_->log().toStdString();
            EXPECT_TRUE(program_->eventLines(run.action).constLast().contains("success=true"))
                << what << "\n"
                << program_->log().mid(logBefore).toStdString();
            const QString html = browser_->editableHtml().value_or(QStringLiteral("(no answer)"));
            EXPECT_EQ(paragraphsOf(html), run.paragraphs) << what << ": " << html.toStdString();
            EXPECT_FALSE(html.contains("&nbsp;") || html.contains("<br")) << what << ": " << html.toStdString();
        }
    }

    // A plain message of two paragraphs with a bold word and a link holds no picture: it is
    // never refused for one, however long the page takes to answer (the tests run on busy
    // cores too).
    void aMessageWithABoldWordAndALinkIsWritten() {
        const QString message = QStringLiteral(
            "<p>Hello Anna, I have a <b>red</b> car.</p><p>I would like to meet <a href=\"#x\">my good friend</a> "
            "tomorrow.</p>");
        ASSERT_TRUE(program_->closeCopyWindows());
        ASSERT_TRUE(browser_->activate());
        ASSERT_TRUE(browser_->prepareEditableHtml(message, Selection::caretAtEnd));
        const qsizetype logBefore = program_->log().size();
        const int before = program_->events("translate_message");
        press("w");
        ASSERT_TRUE(program_->waitForEvents("translate_message", before + 1)) << program_->log().toStdString();
        const QString log = program_->log().mid(logBefore);
        EXPECT_FALSE(log.contains(QStringLiteral("holds an object without text"))) << log.toStdString();
    }

    // Write Message on two paragraphs, the user going on in the field 0.5 s after the chord, as
    // the lines are written: a click at the end of the first paragraph and "XYZ" typed there, or
    // " okay" typed alone. At the end the field holds their letters, never taken out again, and
    // after the click each paragraph as it was or translated.
    void theUsersActEndsAWriteLineByLine() {
        const QString html = QStringLiteral("<p>Hello Anna,</p><p>I have a red car.</p>");
        for (const bool click : {true, false}) {
            const std::string what = click ? "a click and typing" : "typing alone";
            const QString typed = click ? QStringLiteral("XYZ") : QStringLiteral(" okay");
            ASSERT_TRUE(program_->closeCopyWindows());
            ASSERT_TRUE(browser_->activate());
            ASSERT_TRUE(browser_->prepareEditableHtml(html, Selection::caretAtEnd)) << what;
            std::optional<QPoint> lineEnd;
            if (click) {
                lineEnd = browser_->firstParagraphEndOnScreen();
                ASSERT_TRUE(lineEnd.has_value()) << "the first paragraph shows no place";
            }
            const qsizetype logBefore = program_->log().size();
            const int before = program_->events("translate_message");
            press("w");
            test::TerminalJob::pause(500ms);
            if (click) {
                browser_desktop::tool("xdotool", {"mousemove", QString::number(lineEnd->x()),
                                                  QString::number(lineEnd->y()), "click", "1"});
            }
            browser_desktop::tool("xdotool", {"type", "--delay", "50", typed});
            ASSERT_TRUE(program_->waitForEvents("translate_message", before + 1)) << program_->log().toStdString();
            test::TerminalJob::pause(1500ms);
            // A browser makes a blank a no-break space where its layout needs one.
            const QString text = browser_->text(Element::editable)
                                     .value_or(QStringLiteral("(no answer)"))
                                     .replace(QChar(0x00A0), QLatin1Char(' '));
            const std::string seen = text.toStdString() + "\n" + program_->log().mid(logBefore).toStdString();
            // Typed alone, their first letter may come while a line stands selected for its paste,
            // and replace it: the letters after it find every step of ours ended.
            EXPECT_TRUE(text.contains(click ? typed : typed.right(2))) << what << ": " << seen;
            // Their letters land where the caret is, which may be where a paste of ours left it.
            const QString ours = QString(text).remove(typed);
            EXPECT_FALSE(ours.trimmed().isEmpty()) << what << ": " << seen;
            if (click) {
                // Their letters go where they clicked, at the end of the first paragraph.
                EXPECT_TRUE(text.section(QLatin1Char('\n'), 0, 0).contains(typed)) << what << ": " << seen;
                EXPECT_TRUE(ours.contains("Hello Anna") || ours.contains("Hola Anna")) << what << ": " << seen;
                EXPECT_TRUE(ours.contains("red car") || ours.contains("coche rojo")) << what << ": " << seen;
            }
        }
    }

    // A mail of three paragraphs (one quoted) and a list three levels deep, a bold word and a link
    // on their lines, the links' words ones the translation changes, and a paragraph with a link
    // to a name: Write Message, then Flip Language, leave every link with its address in the
    // field, or the field exactly as it was and the result, its words translated, offered for
    // copying with the reason told.
    void everyLinkKeepsItsAddressOrTheFieldStaysAsItWas() {
        struct Message {
            QString html;
            QStringList addresses;
            QStringList words;  // the translation of Write Message holds them
        };
        const Message messages[] = {
            {"<p>Hello <b>Anna</b>, please see <a href=\"https://example.org/notes\">my notes</a> today.</p>"
             "<blockquote><p>I have a <b>red</b> car and <a href=\"https://example.org/house\">the house</a> is "
             "big.</p></blockquote><p>The house is <b>small</b>, see <a href=\"https://example.org/photos\">the "
             "photos</a> here.</p>",
             {"https://example.org/notes", "https://example.org/house", "https://example.org/photos"},
             {"Hola", "coche", "fotos"}},
            {"<ul><li>I have a <b>red</b> car, see <a href=\"https://example.org/car\">my car</a>.<ul><li>The "
             "house is <a href=\"https://example.org/house\">very big</a>.<ul><li>The dog is small.</li></ul></li>"
             "</ul></li></ul>",
             {"https://example.org/car", "https://example.org/house"},
             {"coche", "casa", "perro"}},
            // One paragraph whose link's words the translation keeps: written around the link.
            {"<p>I would like to meet <a href=\"https://example.org/kravitz\">Kravitz</a> tomorrow.</p>",
             {"https://example.org/kravitz"},
             {"Kravitz", "mañana"}},
        };
        for (const Message& message : messages) {
            ASSERT_TRUE(program_->closeCopyWindows());
            ASSERT_TRUE(browser_->activate());
            ASSERT_TRUE(browser_->prepareEditableHtml(message.html, Selection::caretAtEnd));
            for (const auto& [key, action] : {std::pair{"w", QStringLiteral("translate_message")},
                                              std::pair{"f", QStringLiteral("flip_language")}}) {
                const std::string what = (action + ": " + message.html).toStdString();
                ASSERT_TRUE(program_->closeCopyWindows());
                ASSERT_TRUE(browser_->activate());
                const std::optional<QString> original = browser_->editableHtml();
                ASSERT_TRUE(original.has_value());
                const qsizetype logBefore = program_->log().size();
                const int before = program_->events(action);
                press(key);
                ASSERT_TRUE(program_->waitForEvents(action, before + 1)) << program_->log().toStdString();
                const QString log = program_->log().mid(logBefore);
                const QString html = browser_->editableHtml().value_or(QStringLiteral("(no answer)"));
                if (!program_->eventLines(action).constLast().contains("success=true")) {
                    EXPECT_EQ(html, *original) << what << "\n" << log.toStdString();
                    ASSERT_TRUE(test::waitUntil([&] { return program_->copyWindow().has_value(); }, 5s)) << what;
                    if (action == QStringLiteral("translate_message")) {
                        const QString offered = test::accessibleTextBoxContents(program_->pid()).join('\n');
                        for (const QString& word : message.words) {
                            EXPECT_TRUE(offered.contains(word)) << what << ": " << offered.toStdString();
                        }
                        EXPECT_TRUE(test::accessibleTexts(program_->pid())
                                        .contains(FocusedTextReplacementFallback::linkNotKeptReason))
                            << what;
                    }
                    continue;
                }
                for (const QString& address : message.addresses) {
                    EXPECT_TRUE(html.contains(address)) << what << ": " << html.toStdString() << "\n"
                                                        << log.toStdString();
                }
                if (action == QStringLiteral("translate_message")) {
                    for (const QString& word : message.words) {
                        EXPECT_TRUE(html.contains(word)) << what << ": " << html.toStdString();
                    }
                }
            }
        }
    }

    // The text of each paragraph of the markup, its inner markup left out.
    static QStringList paragraphsOf(const QString& html) {
        static const QRegularExpression paragraph(QStringLiteral("<(p|div)(?: [^>]*)?>(.*?)</\\1>"));
        static const QRegularExpression tag(QStringLiteral("<[^>]*>"));
        QStringList found;
        for (const QRegularExpressionMatch& match : paragraph.globalMatch(html)) {
            found << match.captured(2).remove(tag);
        }
        return found;
    }
};

using FirefoxFieldAsFoundDesktopTest = FieldAsFoundTest<TestBrowser::Kind::firefox>;
using ChromiumFieldAsFoundDesktopTest = FieldAsFoundTest<TestBrowser::Kind::chromium>;

// Firefox reports a U+FEFF after each emoji: the caret after "like" is counted past them.
TEST_F(FirefoxFieldAsFoundDesktopTest, ARefusedPasteLeavesTheCaretAndSelectionWhereTheyWere) {
    std::vector<Case> cases = richTextCases();
    cases.push_back(emojiCase(false));
    aRefusedPasteLeavesTheCaretAndSelectionWhereTheyWere(cases);
}

// Chromium counts a selection's ends after emoji otherwise than its caret.
TEST_F(ChromiumFieldAsFoundDesktopTest, ARefusedPasteLeavesTheCaretAndSelectionWhereTheyWere) {
    std::vector<Case> cases = richTextCases();
    cases.push_back(emojiCase(true));
    aRefusedPasteLeavesTheCaretAndSelectionWhereTheyWere(cases);
}

TEST_F(FirefoxFieldAsFoundDesktopTest, TwoParagraphsStayTwoParagraphsEachWithItsOwnTranslation) {
    twoParagraphsStayTwoParagraphs();
}

TEST_F(ChromiumFieldAsFoundDesktopTest, TwoParagraphsStayTwoParagraphsEachWithItsOwnTranslation) {
    twoParagraphsStayTwoParagraphs();
}

TEST_F(FirefoxFieldAsFoundDesktopTest, AMessageWithABoldWordAndALinkIsWrittenNotRefused) {
    aMessageWithABoldWordAndALinkIsWritten();
}

TEST_F(ChromiumFieldAsFoundDesktopTest, AMessageWithABoldWordAndALinkIsWrittenNotRefused) {
    aMessageWithABoldWordAndALinkIsWritten();
}

TEST_F(FirefoxFieldAsFoundDesktopTest, NestedListsAndListsAfterAParagraphKeepEveryItemOrTheFieldAsItWas) {
    nestedListsAndListsAfterAParagraphKeepEveryItem();
}

TEST_F(ChromiumFieldAsFoundDesktopTest, NestedListsAndListsAfterAParagraphKeepEveryItemOrTheFieldAsItWas) {
    nestedListsAndListsAfterAParagraphKeepEveryItem();
}

TEST_F(FirefoxFieldAsFoundDesktopTest, TheUsersClickOrTypingEndsAWriteLineByLine) {
    theUsersActEndsAWriteLineByLine();
}

TEST_F(ChromiumFieldAsFoundDesktopTest, TheUsersClickOrTypingEndsAWriteLineByLine) {
    theUsersActEndsAWriteLineByLine();
}

TEST_F(FirefoxFieldAsFoundDesktopTest, EveryLinkKeepsItsAddressOrTheFieldStaysAsItWas) {
    everyLinkKeepsItsAddressOrTheFieldStaysAsItWas();
}

TEST_F(ChromiumFieldAsFoundDesktopTest, EveryLinkKeepsItsAddressOrTheFieldStaysAsItWas) {
    everyLinkKeepsItsAddressOrTheFieldStaysAsItWas();
}

TEST_F(ChromiumFieldAsFoundDesktopTest, AThreeLevelListIsWrittenItemByItemWithItsBoldWordsAndLinks) {
    aThreeLevelListIsWrittenItemByItemWithItsBoldWordsAndLinks();
}

}  // namespace
}  // namespace tavrolin
