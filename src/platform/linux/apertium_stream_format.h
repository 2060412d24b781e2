#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

namespace tavrolin {

// Text in Apertium's stream format, as UTF-8: the characters that mean something in the stream
// ([ ] ^ $ @ / < > { } \ *) escaped with a backslash, a line break as the superblank "[\n]",
// and every other control character as a numbered reference inside a superblank ("[&#0;]"),
// so no raw control character, above all no NUL, reaches the pipeline.
QByteArray escapeApertiumStream(QStringView text);

// The text of an answer in the stream format: escapes undone, superblanks replaced by what they
// hold (line breaks and the references written above).
QString unescapeApertiumStream(const QByteArray& stream);

}  // namespace tavrolin
