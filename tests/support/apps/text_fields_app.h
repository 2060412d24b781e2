#pragma once

#include <QJsonObject>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>

namespace tavrolin::test {

// The foreign application tavrolin_test_app_text_fields, started for one test and driven
// through its stdin commands. Waits spin the event loop, so this process keeps serving the
// clipboard while the application reads it.
class TextFieldsApp {
public:
    // The Qt application by default; tavrolin_test_gtk_text_fields is its GTK 3 sibling.
    explicit TextFieldsApp(const QString& program = QStringLiteral("tavrolin_test_app_text_fields"),
                           const QStringList& arguments = {});
    ~TextFieldsApp();  // quits the application and waits for it

    bool isReady() const { return ready_; }
    qint64 pid() const { return process_.processId(); }

    QJsonObject command(const QString& line);
    bool focus(const QString& field);
    bool setText(const QString& field, const QString& text);
    bool select(const QString& field, int start, int end);
    QString text(const QString& field);
    QJsonObject state(const QString& field);
    QRect rect(const QString& field);

private:
    QJsonObject readReply();
    QProcess process_;
    bool ready_ = false;
};

}  // namespace tavrolin::test
