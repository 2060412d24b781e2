// The text recognition module: Tesseract.
#include "platform/linux/modules/tesseract_text_recognition_engine.h"

#include "platform/linux/engine_module_entries.h"
#include "platform/linux/modules/text_bands.h"

#include <QDir>
#include <QFileInfo>
#include <QRect>
#include <QRegularExpression>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <future>
#include <malloc.h>
#include <map>
#include <mutex>
#include <omp.h>
#include <optional>
#include <string>
#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>
#include <variant>

namespace tavrolin {

namespace {

// Text below this pixel size loses words at 1x; reading it from a 2x copy costs about
// 1.5 times the time and finds them.
constexpr double smallTextHeight = 13;
// No image, nor upscaled copy of one, is read beyond this many pixels.
constexpr qint64 maximumPixels = 40'000'000;
// Bands are cut smaller than one a thread: text is not spread evenly down a screen, and the
// pool hands the next band to whichever thread is free.
constexpr int bandsPerThread = 2;
// Tesseract's own limit on either side of an image.
constexpr int maximumSide = 32767;

// The engines of one pool thread, one per data folder and language set. They go with the
// thread: the pool ends idle threads, and with them their engines' memory.
class ThreadEngines {
public:
    ~ThreadEngines() {
        if (engines_.empty()) {
            return;
        }
        for (auto& [key, engine] : engines_) {
            engine->End();
        }
        engines_.clear();
        // Hand the freed pages back to the system instead of keeping them in this thread's arena.
        // Not under AddressSanitizer: its own allocator serves every allocation, so glibc's stays
        // unset, and the first trims of two threads ending at once race to set it up.
#if !defined(__SANITIZE_ADDRESS__)
        malloc_trim(0);
#endif
    }

    tesseract::TessBaseAPI& engine(const QString& dataPath, const QStringList& languages, std::atomic<int>& loaded) {
        if (!singleThreaded_) {
            // libgomp reads OMP_THREAD_LIMIT only when it loads; this keeps Tesseract's own
            // parallel loops on this thread, which the bands already keep busy.
            omp_set_max_active_levels(0);
            singleThreaded_ = true;
        }
        const std::string key = (dataPath + u'|' + languages.join(u'+')).toStdString();
        auto found = engines_.find(key);
        if (found != engines_.end()) {
            return *found->second;
        }
        auto engine = std::make_unique<tesseract::TessBaseAPI>();
        const std::string path = dataPath.toStdString();
        const std::string language = languages.join(u'+').toStdString();
        if (engine->Init(path.c_str(), language.c_str(), tesseract::OEM_LSTM_ONLY) != 0) {
            engine->End();
            throw TextRecognitionError(QStringLiteral("Text recognition could not load the language data %1 from %2.")
                                           .arg(languages.join(u'+'), dataPath));
        }
        engine->SetPageSegMode(tesseract::PSM_AUTO);
        // Warnings such as "Empty page" are not errors of ours.
        engine->SetVariable("debug_file", "/dev/null");
        loaded.fetch_add(1, std::memory_order_relaxed);
        return *engines_.emplace(key, std::move(engine)).first->second;
    }

private:
    bool singleThreaded_ = false;
    std::map<std::string, std::unique_ptr<tesseract::TessBaseAPI>> engines_;
};

thread_local ThreadEngines threadEngines;

// Words further apart than this many row heights belong to different lines: Tesseract joins
// the texts of a row across columns ("Display name" and the field beside it, a sidebar item and
// the paragraph to its right), which read, are grouped and translated apart.
constexpr double columnGap = 1.0;
// A brightness step between horizontal neighbours at least this large is an edge of ink.
constexpr int inkContrast = 32;

struct Word {
    QString text;
    QRect box;
};

// The rows of the box that hold ink. Tesseract gives every word of a row the row's full height,
// and a row can take in a taller neighbour (a heading, the frame of a text field) beside it.
QRect inkRows(const QImage& grey, const QRect& box) {
    const QRect area = box.intersected(grey.rect());
    int first = -1;
    int last = -1;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const uchar* row = grey.constScanLine(y);
        for (int x = std::max(area.left(), 1); x <= area.right(); ++x) {
            if (std::abs(int(row[x]) - int(row[x - 1])) >= inkContrast) {
                if (first < 0) {
                    first = y;
                }
                last = y;
                break;
            }
        }
    }
    if (first < 0) {
        return box;
    }
    return QRect(QPoint(box.left(), first), QPoint(box.right(), last));
}

void appendLine(const QImage& grey, const std::vector<Word>& words, double rowHeight,
                std::vector<TextRecognitionLine>& lines) {
    if (words.empty()) {
        return;
    }
    QStringList texts;
    QRect box;
    for (const Word& word : words) {
        texts.append(word.text);
        box = box.united(word.box);
    }
    const QRect ink = inkRows(grey, box);
    lines.push_back({texts.join(u' '), QRectF(ink.x(), ink.y(), ink.width(), ink.height()), rowHeight});
}

// The words of the iterator's text line, as one line or several where columns meet. Leaves the
// iterator on the line's last word.
void readLine(const QImage& grey, tesseract::ResultIterator& iterator, std::vector<TextRecognitionLine>& lines) {
    float rowHeight = 0;
    float descenders = 0;
    float ascenders = 0;
    iterator.RowAttributes(&rowHeight, &descenders, &ascenders);
    std::vector<Word> words;
    do {
        if (iterator.Empty(tesseract::RIL_WORD)) {
            continue;
        }
        std::unique_ptr<char[]> text(iterator.GetUTF8Text(tesseract::RIL_WORD));
        int left = 0;
        int top = 0;
        int right = 0;
        int bottom = 0;
        if (!text || !iterator.BoundingBox(tesseract::RIL_WORD, &left, &top, &right, &bottom)) {
            continue;
        }
        Word word{QString::fromUtf8(text.get()).trimmed(), QRect(QPoint(left, top), QPoint(right - 1, bottom - 1))};
        if (word.text.isEmpty()) {
            continue;
        }
        if (!words.empty()) {
            const QRect& previous = words.back().box;
            const int gap =
                std::max(word.box.left() - (previous.right() + 1), previous.left() - (word.box.right() + 1));
            if (gap > columnGap * std::max(double(rowHeight), double(previous.height()))) {
                appendLine(grey, words, rowHeight, lines);
                words.clear();
            }
        }
        words.push_back(std::move(word));
    } while (!iterator.IsAtFinalElement(tesseract::RIL_TEXTLINE, tesseract::RIL_WORD) &&
             iterator.Next(tesseract::RIL_WORD));
    appendLine(grey, words, rowHeight, lines);
}

// A band's lines in the pixels of the band image handed to the engine, or the failure.
using BandResult = std::variant<std::vector<TextRecognitionLine>, QString>;

BandResult recognizeBand(const QImage& band, const QString& dataPath, const QStringList& languages,
                         std::atomic<int>& loaded) {
    try {
        tesseract::TessBaseAPI& engine = threadEngines.engine(dataPath, languages, loaded);
        engine.SetImage(band.constBits(), band.width(), band.height(), 1, int(band.bytesPerLine()));
        // Screens carry no resolution; this is what Tesseract assumes for one without.
        engine.SetSourceResolution(70);
        if (engine.Recognize(nullptr) != 0) {
            engine.Clear();
            return QStringLiteral("Text recognition failed on the image.");
        }
        std::vector<TextRecognitionLine> lines;
        std::unique_ptr<tesseract::ResultIterator> iterator(engine.GetIterator());
        if (iterator && !iterator->Empty(tesseract::RIL_TEXTLINE)) {
            do {
                readLine(band, *iterator, lines);
            } while (iterator->Next(tesseract::RIL_TEXTLINE));
        }
        engine.Clear();
        return lines;
    } catch (const TextRecognitionError& error) {
        return QString::fromStdString(error.what());
    } catch (const std::exception& error) {
        return QStringLiteral("Text recognition failed: %1").arg(QString::fromStdString(error.what()));
    }
}

QString systemDataPath() {
    const QString prefix = qEnvironmentVariable("TESSDATA_PREFIX");
    if (!prefix.isEmpty()) {
        return prefix;
    }
    for (const QString& candidate :
         {QStringLiteral("/usr/share/tesseract-ocr/5/tessdata"),
          QStringLiteral("/usr/share/tesseract-ocr/4.00/tessdata"), QStringLiteral("/usr/share/tessdata"),
          QStringLiteral("/usr/local/share/tessdata")}) {
        if (QFileInfo(candidate).isDir()) {
            return candidate;
        }
    }
    return QStringLiteral("/usr/share/tesseract-ocr/5/tessdata");
}

}  // namespace

TesseractTextRecognitionEngine::TesseractTextRecognitionEngine(TesseractEngineOptions options)
    : dataPath_(options.dataPath.isEmpty() ? systemDataPath() : options.dataPath) {
    const int threads = options.threadCount > 0 ? options.threadCount : std::min(QThread::idealThreadCount(), 8);
    pool_.setMaxThreadCount(std::max(1, threads));
    pool_.setExpiryTimeout(int(options.idleExpiry.count()));
}

TesseractTextRecognitionEngine::~TesseractTextRecognitionEngine() {
    pool_.waitForDone();
}

int TesseractTextRecognitionEngine::threadCount() const {
    return pool_.maxThreadCount();
}

QStringList TesseractTextRecognitionEngine::installedLanguages() const {
    QStringList languages;
    const QStringList files =
        QDir(dataPath_).entryList({QStringLiteral("*.traineddata")}, QDir::Files | QDir::Readable);
    for (const QString& file : files) {
        const QString code = file.chopped(int(qstrlen(".traineddata")));
        // Orientation and equation data are no languages.
        if (code != QLatin1String("osd") && code != QLatin1String("equ")) {
            languages.append(code);
        }
    }
    languages.sort();
    return languages;
}

void TesseractTextRecognitionEngine::prepare(const QStringList& languages) const {
    static const QRegularExpression codePattern(QStringLiteral("^[A-Za-z0-9_]+$"));
    const QStringList installed = installedLanguages();
    if (languages.isEmpty() || std::any_of(languages.begin(), languages.end(), [&](const QString& code) {
            return !codePattern.match(code).hasMatch() || !installed.contains(code);
        })) {
        return;  // the read says what is missing
    }
    // One load a thread. On a cold pool no thread is free while the others load, so each load
    // starts a thread of its own; a thread that has the engine finds it at once. A read's bands
    // queue behind the loads and go to the first thread that is ready.
    for (int thread = 0; thread < pool_.maxThreadCount(); ++thread) {
        pool_.start([path = dataPath_, languages, loaded = &enginesLoaded_] {
            try {
                threadEngines.engine(path, languages, *loaded);
            } catch (const std::exception&) {
                // The read loads it again and reports the failure.
            }
        });
    }
}

std::vector<TextRecognitionLine> TesseractTextRecognitionEngine::recognizeLines(const QImage& image,
                                                                                const QStringList& languages) const {
    if (image.isNull() || image.width() <= 0 || image.height() <= 0) {
        return {};
    }
    if (qint64(image.width()) * image.height() > maximumPixels || image.width() > maximumSide ||
        image.height() > maximumSide) {
        throw TextRecognitionError(QStringLiteral("The image of %1 x %2 pixels is too large for text recognition.")
                                       .arg(image.width())
                                       .arg(image.height()));
    }
    if (languages.isEmpty()) {
        throw TextRecognitionError(QStringLiteral("Text recognition needs a language."));
    }
    static const QRegularExpression codePattern(QStringLiteral("^[A-Za-z0-9_]+$"));
    const QStringList installed = installedLanguages();
    for (const QString& code : languages) {
        if (!codePattern.match(code).hasMatch()) {
            throw TextRecognitionError(QStringLiteral("\"%1\" is not a text recognition language.").arg(code));
        }
        if (!installed.contains(code)) {
            QString package = code.toLower();
            package.replace(u'_', u'-');
            throw TextRecognitionError(
                QStringLiteral("Text recognition needs the package tesseract-ocr-%1.").arg(package));
        }
    }

    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    const int threads = pool_.maxThreadCount();
    const std::vector<TextBand> bands = textBands(grey, threads == 1 ? 1 : bandsPerThread * threads);
    // Scaled captures already have large text; a 1x one gets a 2x copy where its text is small,
    // within the pixel limit.
    const bool mayUpscale = image.devicePixelRatio() < 2 && 4 * qint64(grey.width()) * grey.height() <= maximumPixels;

    // A band is waited for through a plain future: waiting on a QFuture would run a band still
    // queued on the waiting thread, outside this pool, loading an engine there that is thrown
    // away when that thread ends.
    struct Job {
        int top = 0;
        double scale = 1;
        std::future<BandResult> result;
    };
    std::vector<Job> jobs;
    jobs.reserve(bands.size());
    for (const TextBand& band : bands) {
        QImage piece = grey.copy(0, band.top, grey.width(), band.bottom - band.top);
        double scale = 1;
        if (mayUpscale && band.fontHeight > 0 && band.fontHeight < smallTextHeight) {
            piece =
                piece.scaled(piece.width() * 2, piece.height() * 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            scale = 2;
        }
        auto promise = std::make_shared<std::promise<BandResult>>();
        jobs.push_back({band.top, scale, promise->get_future()});
        pool_.start([promise, piece = std::move(piece), path = dataPath_, languages, loaded = &enginesLoaded_] {
            promise->set_value(recognizeBand(piece, path, languages, *loaded));
        });
    }

    std::vector<TextRecognitionLine> lines;
    std::optional<QString> failure;
    for (Job& job : jobs) {
        BandResult result = job.result.get();
        if (auto* error = std::get_if<QString>(&result)) {
            if (!failure) {
                failure = *error;
            }
            continue;
        }
        for (TextRecognitionLine& line : std::get<std::vector<TextRecognitionLine>>(result)) {
            const QRectF& box = line.boundingBox;
            line.boundingBox = QRectF(box.x() / job.scale, box.y() / job.scale + job.top, box.width() / job.scale,
                                      box.height() / job.scale);
            line.rowHeight /= job.scale;
            lines.push_back(std::move(line));
        }
    }
    if (failure) {
        throw TextRecognitionError(*failure);
    }
    return lines;
}

}  // namespace tavrolin

tavrolin::TextRecognitionEngine* tavrolin_ocr_make_engine() {
    return new tavrolin::TesseractTextRecognitionEngine();
}
