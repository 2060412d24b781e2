#include "window_translation/text_recognition_service.h"

#include "window_translation/image_space.h"
#include "window_translation/reading_order.h"
#include "window_translation/rect_geometry.h"
#include "window_translation/source_language_detection.h"

#include <QThreadPool>

#include <cmath>
#include <utility>

namespace tavrolin {

namespace {

// Recognised text lower than this share of the image height is left out (tiny print, icons).
constexpr double minimumTextHeightShare = 0.015;
// The box of a line is grown by this much on each side, so that a painted replacement also
// covers the anti-aliased edge of the original text.
constexpr double horizontalGrowth = 4;
constexpr double verticalGrowth = 3;
// The most engine languages an automatic source reads with: each costs recognition time.
constexpr qsizetype maximumAutomaticLanguages = 3;

}  // namespace

QStringList textRecognitionLanguageCodes(AppLanguage language) {
    switch (language) {
    case AppLanguage::automatic:
        return {};
    case AppLanguage::arabic:
        return {QStringLiteral("ara")};
    case AppLanguage::chinese:
        return {QStringLiteral("chi_sim"), QStringLiteral("chi_tra")};
    case AppLanguage::dutch:
        return {QStringLiteral("nld")};
    case AppLanguage::english:
        return {QStringLiteral("eng")};
    case AppLanguage::german:
        return {QStringLiteral("deu")};
    case AppLanguage::french:
        return {QStringLiteral("fra")};
    case AppLanguage::hebrew:
        return {QStringLiteral("heb")};
    case AppLanguage::hindi:
        return {QStringLiteral("hin")};
    case AppLanguage::indonesian:
        return {QStringLiteral("ind")};
    case AppLanguage::spanish:
        return {QStringLiteral("spa")};
    case AppLanguage::italian:
        return {QStringLiteral("ita")};
    case AppLanguage::polish:
        return {QStringLiteral("pol")};
    case AppLanguage::portuguese:
        return {QStringLiteral("por")};
    case AppLanguage::japanese:
        return {QStringLiteral("jpn")};
    case AppLanguage::korean:
        return {QStringLiteral("kor")};
    case AppLanguage::russian:
        return {QStringLiteral("rus")};
    case AppLanguage::thai:
        return {QStringLiteral("tha")};
    case AppLanguage::turkish:
        return {QStringLiteral("tur")};
    case AppLanguage::ukrainian:
        return {QStringLiteral("ukr")};
    case AppLanguage::vietnamese:
        return {QStringLiteral("vie")};
    }
    return {};
}

QString textRecognitionLanguagePackage(const QString& languageCode) {
    QString package = languageCode.toLower();
    package.replace(u'_', u'-');
    return QStringLiteral("tesseract-ocr-") + package;
}

TextRecognitionService::TextRecognitionService(
    std::shared_ptr<const TextRecognitionEngine> engine, std::shared_ptr<const LanguageRecognizer> languageRecognizer,
    std::shared_ptr<const UserPreferredLanguagesProviding> preferredLanguages)
    : engine_(std::move(engine)),
      languageRecognizer_(std::move(languageRecognizer)),
      preferredLanguages_(std::move(preferredLanguages)) {}

QStringList TextRecognitionService::recognitionLanguages(AppLanguage sourceLanguage) const {
    const QStringList installed = engine_->installedLanguages();
    if (sourceLanguage != AppLanguage::automatic) {
        const QStringList codes = textRecognitionLanguageCodes(sourceLanguage);
        QStringList missingPackages;
        for (const QString& code : codes) {
            if (!installed.contains(code)) {
                missingPackages.append(textRecognitionLanguagePackage(code));
            }
        }
        if (missingPackages.size() == 1) {
            throw TextRecognitionError(QStringLiteral("Text recognition for %1 needs the package %2.")
                                           .arg(displayName(sourceLanguage), missingPackages.front()));
        }
        if (!missingPackages.isEmpty()) {
            const QString last = missingPackages.takeLast();
            throw TextRecognitionError(
                QStringLiteral("Text recognition for %1 needs the packages %2 and %3.")
                    .arg(displayName(sourceLanguage), missingPackages.join(QStringLiteral(", ")), last));
        }
        return codes;
    }

    QStringList codes;
    auto add = [&](const QString& code) {
        if (codes.size() < maximumAutomaticLanguages && installed.contains(code) && !codes.contains(code)) {
            codes.append(code);
        }
    };
    const QString english = QStringLiteral("eng");
    add(english);
    if (preferredLanguages_) {
        for (AppLanguage language : preferredLanguages_->boostedLanguages()) {
            if (language == AppLanguage::hebrew) {
                continue;  // never a source language
            }
            for (const QString& code : textRecognitionLanguageCodes(language)) {
                add(code);
            }
        }
    }
    if (codes.isEmpty()) {
        throw TextRecognitionError(
            QStringLiteral("Text recognition needs the package %1.").arg(textRecognitionLanguagePackage(english)));
    }
    return codes;
}

void TextRecognitionService::prepare(AppLanguage sourceLanguage) const {
    // Listing the installed languages opens the engine's library, and the favoured languages
    // may ask the desktop: neither on the caller's thread.
    QThreadPool::globalInstance()->start([service = *this, sourceLanguage] {
        try {
            service.engine_->prepare(service.recognitionLanguages(sourceLanguage));
        } catch (const std::exception&) {
            // The recognition itself reports what is missing or broken.
        }
    });
}

RecognizedTextResult TextRecognitionService::recognizeText(const QImage& image, AppLanguage sourceLanguage,
                                                           bool shouldDetectSourceLanguage) const {
    RecognizedTextResult result;
    if (!image.isNull() && image.width() > 0 && image.height() > 0) {
        const std::vector<TextRecognitionLine> lines =
            engine_->recognizeLines(image, recognitionLanguages(sourceLanguage));
        const double width = image.width();
        const double height = image.height();
        const QRectF imageRect(0, 0, width, height);
        // Compared with the row height, not the ink box: a line without capitals or
        // descenders ("one more") is far lower than its text size.
        const double minimumRowHeight = minimumTextHeightShare * height;
        for (const TextRecognitionLine& line : lines) {
            QString text = line.text.trimmed();
            const QRectF& engineBox = line.boundingBox;
            if (!std::isfinite(engineBox.x()) || !std::isfinite(engineBox.y()) || !std::isfinite(engineBox.width()) ||
                !std::isfinite(engineBox.height())) {
                continue;
            }
            if (text.isEmpty() || !(line.rowHeight >= minimumRowHeight)) {
                continue;
            }
            const QRectF box = image_space::fromTopLeft(line.boundingBox, height)
                                   .adjusted(-horizontalGrowth, -verticalGrowth, horizontalGrowth, verticalGrowth);
            const auto clipped = geometry::intersection(box, imageRect);
            if (!clipped) {
                continue;
            }
            const QRectF whole = geometry::integral(*clipped);
            if (geometry::isEmpty(whole)) {
                continue;
            }
            std::vector<AppLanguage> languages;
            // Tesseract names the model of each word, which says little about the line's
            // language: an automatic source reports none.
            if (sourceLanguage != AppLanguage::automatic) {
                languages.push_back(sourceLanguage);
            }
            result.blocks.push_back({std::move(text), whole, std::move(languages)});
        }
        sortIntoReadingOrder(result.blocks,
                             [](const RecognizedTextBlock& block) -> const QRectF& { return block.boundingBox; });
    }
    if (shouldDetectSourceLanguage) {
        result.detectedSourceLanguage = detectSourceLanguage(result.blocks, sourceLanguage, {});
    }
    return result;
}

std::optional<DetectedSourceLanguage> TextRecognitionService::detectSourceLanguage(
    const std::vector<RecognizedTextBlock>& blocks, AppLanguage requestedSourceLanguage,
    const std::set<AppLanguage>& boostedLanguages) const {
    return tavrolin::detectSourceLanguage(blocks, requestedSourceLanguage, boostedLanguages, *languageRecognizer_);
}

}  // namespace tavrolin
