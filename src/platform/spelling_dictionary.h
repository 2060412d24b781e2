#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace tavrolin {

// One loaded instance of a spelling dictionary. Not thread-safe: each instance serves one thread
// at a time. Both queries may be slow (suggestions take tens of milliseconds).
class SpellingDictionary {
public:
    virtual ~SpellingDictionary() = default;

    // Whether the dictionary accepts the word. Words the dictionary's encoding cannot express are
    // not judged (accepted).
    virtual bool isCorrect(const QString& word) = 0;
    // Suggested spellings for the word, best first; none for a word the encoding cannot express.
    virtual QStringList suggestions(const QString& word) = 0;
};

// Loads one instance of a dictionary from its affix and word files (paths in the file system's
// encoding); null when the dictionary cannot be used. May throw on files it cannot read.
using SpellingDictionaryLoader =
    std::function<std::unique_ptr<SpellingDictionary>(const QByteArray& affixPath, const QByteArray& dictionaryPath)>;

}  // namespace tavrolin
