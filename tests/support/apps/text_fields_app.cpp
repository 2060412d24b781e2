#include "support/apps/text_fields_app.h"

#include "support/async.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>

namespace tavrolin::test {

namespace {

QString appPath(const QString& program) {
    const QString buildDir = qEnvironmentVariable("TAVROLIN_BUILD_DIR");
    if (!buildDir.isEmpty()) {
        return buildDir + "/tests/support/" + program;
    }
    return QDir(QCoreApplication::applicationDirPath()).filePath("../support/" + program);
}

}  // namespace

TextFieldsApp::TextFieldsApp(const QString& program, const QStringList& arguments) {
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(appPath(program), arguments);
    if (!process_.waitForStarted(5000)) {
        return;
    }
    ready_ = readReply().value("ready").toBool();
}

TextFieldsApp::~TextFieldsApp() {
    if (process_.state() == QProcess::NotRunning) {
        return;
    }
    process_.write("quit\n");
    if (!process_.waitForFinished(3000)) {
        process_.kill();
        process_.waitForFinished(1000);
    }
}

QJsonObject TextFieldsApp::readReply() {
    if (!waitUntil([&] { return process_.canReadLine() || process_.state() == QProcess::NotRunning; },
                   std::chrono::seconds(10))) {
        return {};
    }
    return QJsonDocument::fromJson(process_.readLine()).object();
}

QJsonObject TextFieldsApp::command(const QString& line) {
    process_.write((line + "\n").toUtf8());
    return readReply();
}

bool TextFieldsApp::focus(const QString& field) {
    return command("focus " + field).value("ok").toBool();
}

bool TextFieldsApp::setText(const QString& field, const QString& text) {
    return command("set " + field + " " + QString::fromLatin1(text.toUtf8().toBase64())).value("ok").toBool();
}

bool TextFieldsApp::select(const QString& field, int start, int end) {
    return command(QString("select %1 %2 %3").arg(field).arg(start).arg(end)).value("ok").toBool();
}

QString TextFieldsApp::text(const QString& field) {
    return state(field).value("text").toString();
}

QJsonObject TextFieldsApp::state(const QString& field) {
    return command("get " + field);
}

QRect TextFieldsApp::rect(const QString& field) {
    const QJsonObject o = command("rect " + field);
    return QRect(o.value("x").toInt(), o.value("y").toInt(), o.value("width").toInt(), o.value("height").toInt());
}

}  // namespace tavrolin::test
