// A foreign application with text fields for desktop tests: a line edit, a multi-line text
// edit, an empty search field, a read-only field, a pad that edits text without any
// accessible text interface (reachable only through copy and paste), a read-only multi-line
// text and a password entry.
//
// Driven through stdin, one command per line, one JSON reply line on stdout each:
//   focus NAME                      give NAME the keyboard focus
//   set NAME [BASE64]               replace NAME's text (UTF-8, base64; none: empty)
//   select NAME START END           select UTF-16 offsets START..END (caret at END)
//   get NAME                        {"text", "selectionStart", "selectionEnd", "cursor"}
//   rect NAME                       NAME's screen rectangle {"x", "y", "width", "height"}
//   maxlength NAME N                a line edit keeps at most N characters (longer texts are cut)
//   clipboard-set BASE64TEXT BASE64PNG   own the clipboard with text/plain and image/png
//   clipboard-get                   {"formats": {name: base64}} of the clipboard as read here
//   quit
// Names: line, text, search, readonly, pad, readtext, password.
#include <QApplication>
#include <QClipboard>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPainter>
#include <QSocketNotifier>
#include <QTextEdit>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>
#include <iostream>
#include <string>

namespace {

// Keeps a text, selects it all with Control+A and copies, cuts and pastes it; it has no
// accessible text interface, so only the clipboard reaches its text.
class Pad final : public QWidget {
public:
    Pad() {
        setFocusPolicy(Qt::StrongFocus);
        setMinimumHeight(40);
    }
    QString text;
    bool allSelected = false;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->modifiers() != Qt::ControlModifier) {
            QWidget::keyPressEvent(event);
            return;
        }
        switch (event->key()) {
        case Qt::Key_A:
            allSelected = true;
            break;
        case Qt::Key_C:
            if (allSelected) {
                QApplication::clipboard()->setText(text);
            }
            break;
        case Qt::Key_X:
            if (allSelected) {
                QApplication::clipboard()->setText(text);
                text.clear();
                allSelected = false;
            }
            break;
        case Qt::Key_V:
            text = allSelected ? QApplication::clipboard()->text() : text + QApplication::clipboard()->text();
            allSelected = false;
            break;
        default:
            QWidget::keyPressEvent(event);
            return;
        }
        update();
    }
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, text);
    }
};

class Fields final : public QWidget {
public:
    Fields() {
        setWindowTitle("Tavrolin test fields");
        auto* layout = new QVBoxLayout(this);
        line.setObjectName("line");
        text.setObjectName("text");
        search.setPlaceholderText("Search");
        readOnly.setText("fixed text");
        readOnly.setReadOnly(true);
        readText.setObjectName("readtext");
        readText.setReadOnly(true);
        // Selectable with the mouse and the keyboard, like a document viewer.
        readText.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        password.setObjectName("password");
        password.setEchoMode(QLineEdit::Password);
        for (QWidget* w :
             std::initializer_list<QWidget*>{&line, &text, &search, &readOnly, &pad, &readText, &password}) {
            layout->addWidget(w);
        }
        resize(600, 560);
        move(80, 60);
    }

    QWidget* widget(const QString& name) {
        if (name == "line")
            return &line;
        if (name == "text")
            return &text;
        if (name == "search")
            return &search;
        if (name == "readonly")
            return &readOnly;
        if (name == "pad")
            return &pad;
        if (name == "readtext")
            return &readText;
        if (name == "password")
            return &password;
        return nullptr;
    }

    QJsonObject state(QWidget* w) {
        QJsonObject o;
        if (auto* edit = qobject_cast<QLineEdit*>(w)) {
            o["text"] = edit->text();
            const int start = edit->hasSelectedText() ? edit->selectionStart() : edit->cursorPosition();
            o["selectionStart"] = start;
            o["selectionEnd"] = edit->hasSelectedText() ? edit->selectionEnd() : start;
            o["cursor"] = edit->cursorPosition();
        } else if (auto* area = qobject_cast<QTextEdit*>(w)) {
            const QTextCursor cursor = area->textCursor();
            o["text"] = area->toPlainText();
            o["selectionStart"] = cursor.selectionStart();
            o["selectionEnd"] = cursor.selectionEnd();
            o["cursor"] = cursor.position();
        } else if (w == &pad) {
            o["text"] = pad.text;
            o["selectionStart"] = 0;
            o["selectionEnd"] = pad.allSelected ? int(pad.text.size()) : 0;
            o["cursor"] = int(pad.text.size());
        }
        return o;
    }

    QLineEdit line;
    QTextEdit text;
    QLineEdit search;
    QLineEdit readOnly;
    Pad pad;
    QTextEdit readText;
    QLineEdit password;
};

void reply(const QJsonObject& o) {
    std::cout << QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString() << std::endl;
}

void handle(Fields& fields, const QString& command) {
    const QStringList parts = command.split(' ', Qt::SkipEmptyParts);
    if (parts.isEmpty()) {
        return;
    }
    const QString verb = parts[0];
    QWidget* w = parts.size() > 1 ? fields.widget(parts[1]) : nullptr;
    QJsonObject ok{{"ok", true}};
    if (verb == "quit") {
        reply(ok);
        QApplication::quit();
    } else if (verb == "focus" && w) {
        fields.activateWindow();
        fields.raise();
        w->setFocus(Qt::OtherFocusReason);
        reply(ok);
    } else if (verb == "set" && w) {
        const QString value =
            parts.size() > 2 ? QString::fromUtf8(QByteArray::fromBase64(parts[2].toLatin1())) : QString();
        if (auto* edit = qobject_cast<QLineEdit*>(w)) {
            edit->setText(value);
        } else if (auto* area = qobject_cast<QTextEdit*>(w)) {
            area->setPlainText(value);
        } else if (w == &fields.pad) {
            fields.pad.text = value;
            fields.pad.allSelected = false;
            fields.pad.update();
        }
        reply(ok);
    } else if (verb == "select" && w && parts.size() > 3) {
        const int start = parts[2].toInt();
        const int end = parts[3].toInt();
        if (auto* edit = qobject_cast<QLineEdit*>(w)) {
            edit->setSelection(start, end - start);
        } else if (auto* area = qobject_cast<QTextEdit*>(w)) {
            QTextCursor cursor = area->textCursor();
            cursor.setPosition(start);
            cursor.setPosition(end, QTextCursor::KeepAnchor);
            area->setTextCursor(cursor);
        }
        reply(ok);
    } else if (verb == "maxlength" && parts.size() > 2 && qobject_cast<QLineEdit*>(w)) {
        qobject_cast<QLineEdit*>(w)->setMaxLength(parts[2].toInt());
        reply(ok);
    } else if (verb == "get" && w) {
        reply(fields.state(w));
    } else if (verb == "rect" && w) {
        const QPoint origin = w->mapToGlobal(QPoint(0, 0));
        reply({{"x", origin.x()}, {"y", origin.y()}, {"width", w->width()}, {"height", w->height()}});
    } else if (verb == "clipboard-set" && parts.size() > 2) {
        auto* data = new QMimeData;
        data->setData("text/plain", QByteArray::fromBase64(parts[1].toLatin1()));
        data->setData("image/png", QByteArray::fromBase64(parts[2].toLatin1()));
        QApplication::clipboard()->setMimeData(data);
        reply(ok);
    } else if (verb == "clipboard-get") {
        QJsonObject formats;
        if (const QMimeData* data = QApplication::clipboard()->mimeData()) {
            for (const QString& format : data->formats()) {
                formats[format] = QString::fromLatin1(data->data(format).toBase64());
            }
        }
        reply({{"formats", formats}});
    } else {
        reply({{"ok", false}, {"error", "unknown command: " + command}});
    }
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    Fields fields;
    fields.show();
    QSocketNotifier input(fileno(stdin), QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        // Several commands may arrive in one read: handle every buffered line.
        do {
            std::string line;
            if (!std::getline(std::cin, line)) {
                QApplication::quit();
                return;
            }
            handle(fields, QString::fromStdString(line).trimmed());
        } while (std::cin.rdbuf()->in_avail() > 0);
    });
    std::cout << QJsonDocument(QJsonObject{{"ready", true}}).toJson(QJsonDocument::Compact).toStdString() << std::endl;
    return app.exec();
}
