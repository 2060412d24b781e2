#pragma once

#include <QString>

#include <vector>

namespace tavrolin {

// A message's lines as the user wrote them. Every line break of a message is the user's own: a
// greeting on a line of its own ("Hello Anna,") is no part of the sentence on the next line, so
// the engines translate each line as its own and the result keeps the user's line breaks.

struct MessageLine {
    QString text;
    // The break that ends the line as written ("\n", "\r\n", U+2028, U+2029); empty for the last.
    QString lineBreak;
};

// The lines of a text, each with the break after it; a text without breaks is one line.
std::vector<MessageLine> messageLines(const QString& text);

// A line of a result as it stands where a line of the user's stood (its own line, a list item, a
// paragraph): no blank at its start or end where the user's line had none (a browser keeps a
// blank pasted at a paragraph's start as a no-break space), and a capital at its start where the
// user began the line with one (a translator takes a line after a greeting for the rest of its
// sentence).
QString asLineOf(QString result, const QString& original);

// A result made of the same number of lines as the user's text, each line as asLineOf() makes it,
// joined by the user's own line breaks; the start of the first line and the end of the last stay
// as the result has them. A result with another number of lines comes back unchanged: nothing
// tells which of its lines stands for which of the user's.
QString withLinesOf(const QString& result, const QString& original);

// A translated line with no more spaces in a row than the user's line has anywhere (one where it
// has no run of them): a translator that leaves a word out (a subject pronoun Spanish drops) keeps
// the spaces on both sides of it, which a field shows as two (a rich field as a no-break space).
QString withSpacesOf(QString result, const QString& original);

}  // namespace tavrolin
