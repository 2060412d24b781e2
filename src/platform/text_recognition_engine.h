#pragma once

#include <QImage>
#include <QRectF>
#include <QString>
#include <QStringList>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace tavrolin {

// One line of text as the recognition engine read it.
struct TextRecognitionLine {
    // The engine's reading, untrimmed (it may hold surrounding blanks or a line break).
    QString text;
    // The ink box of the line in pixels of the image handed in, origin at the image's
    // top-left, y growing downwards. Fractional when the engine read a scaled copy.
    QRectF boundingBox;
    // The height of the line's text row (ascender to descender) in the same pixels: unlike the
    // ink box it does not shrink for a line without descenders or capitals.
    double rowHeight = 0;

    bool operator==(const TextRecognitionLine&) const = default;
};

// A failure of the engine itself: missing language data, an image it cannot read, an engine
// that does not start. The message is written for the user.
class TextRecognitionError : public std::runtime_error {
public:
    explicit TextRecognitionError(const std::string& message) : std::runtime_error(message) {}
    explicit TextRecognitionError(const QString& message) : std::runtime_error(message.toStdString()) {}
};

// Reads the lines of text of an image. Thread-safe: calls may run side by side from any
// thread; each blocks its caller until the whole image is read.
class TextRecognitionEngine {
public:
    virtual ~TextRecognitionEngine() = default;

    // The engine's language codes whose data is installed ("eng", "rus", "chi_sim"), sorted.
    virtual QStringList installedLanguages() const = 0;

    // The lines of the image, in no particular order, read with the given language codes (at
    // least one, each installed; the first is the main one). The image keeps its
    // devicePixelRatio: the engine may read a scaled copy, boxes still come back in the image's
    // own pixels. A null or empty image has no lines. Throws TextRecognitionError.
    virtual std::vector<TextRecognitionLine> recognizeLines(const QImage& image,
                                                            const QStringList& languages) const = 0;

    // Starts loading what a read with `languages` needs and returns without waiting for it, so
    // that a read that comes soon finds it loaded. May block for a moment (the engine's library
    // is opened): call it off the GUI thread. A failure is left to the read to report; an engine
    // with nothing to load does nothing.
    virtual void prepare(const QStringList& languages) const { (void)languages; }
};

}  // namespace tavrolin
