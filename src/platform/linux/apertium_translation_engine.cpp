#include "platform/linux/apertium_translation_engine.h"

#include "platform/desktop_backend.h"
#include "platform/linux/process_work.h"

#include <QCoroProcess>
#include <QCoroSignal>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QThread>

#include <array>
#include <signal.h>
#include <string_view>
#include <unistd.h>
#include <utility>

namespace tavrolin {

namespace {

using namespace std::chrono_literals;

// ISO 639-1 codes with the ISO 639-3 codes Apertium names its directions with. Besides the
// program's own languages it holds the ones language recognition may report for which Debian
// has Apertium data, so an automatic source can still find its direction.
constexpr std::array<std::pair<std::string_view, std::string_view>, 45> kLanguageCodes{{
    {"ar", "ara"}, {"zh", "zho"}, {"nl", "nld"}, {"en", "eng"}, {"de", "deu"}, {"fr", "fra"}, {"he", "heb"},
    {"hi", "hin"}, {"id", "ind"}, {"es", "spa"}, {"it", "ita"}, {"pl", "pol"}, {"pt", "por"}, {"ja", "jpn"},
    {"ko", "kor"}, {"ru", "rus"}, {"th", "tha"}, {"tr", "tur"}, {"uk", "ukr"}, {"vi", "vie"}, {"ca", "cat"},
    {"gl", "glg"}, {"eu", "eus"}, {"eo", "epo"}, {"be", "bel"}, {"is", "isl"}, {"mk", "mkd"}, {"bg", "bul"},
    {"ro", "ron"}, {"oc", "oci"}, {"an", "arg"}, {"sv", "swe"}, {"da", "dan"}, {"nb", "nob"}, {"nn", "nno"},
    {"af", "afr"}, {"ms", "zlm"}, {"sr", "hbs"}, {"hr", "hbs"}, {"bs", "hbs"}, {"cy", "cym"}, {"br", "bre"},
    {"sc", "srd"}, {"mt", "mlt"}, {"kk", "kaz"},
}};

// Pairs of the program's languages that Debian packages, with the package to install.
struct PackagedPair {
    std::string_view source;
    std::string_view target;
    std::string_view package;
};
constexpr std::array<PackagedPair, 10> kPackagedPairs{{
    {"en", "es", "apertium-eng-spa"},
    {"es", "en", "apertium-eng-spa"},
    {"es", "fr", "apertium-fr-es"},
    {"fr", "es", "apertium-fr-es"},
    {"es", "it", "apertium-spa-ita"},
    {"it", "es", "apertium-spa-ita"},
    {"es", "pt", "apertium-es-pt"},
    {"pt", "es", "apertium-es-pt"},
    {"ru", "uk", "apertium-rus-ukr"},
    {"uk", "ru", "apertium-rus-ukr"},
}};

QString latin1(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// The language part of an identifier ("en-US" -> "en", "zh_Hant" -> "zh"), lower-cased.
QString primaryLanguage(const QString& identifier) {
    qsizetype end = 0;
    while (end < identifier.size() && identifier[end] != u'-' && identifier[end] != u'_') {
        ++end;
    }
    return identifier.left(end).toLower();
}

// The names Apertium may use for a language: its two- and three-letter codes.
QStringList apertiumNames(const QString& identifier) {
    const QString language = primaryLanguage(identifier);
    QStringList names{language};
    for (const auto& [two, three] : kLanguageCodes) {
        if (language == latin1(two) && !names.contains(latin1(three))) {
            names.append(latin1(three));
        } else if (language == latin1(three) && !names.contains(latin1(two))) {
            names.append(latin1(two));
        }
    }
    return names;
}

QString twoLetterCode(const QString& identifier) {
    const QString language = primaryLanguage(identifier);
    for (const auto& [two, three] : kLanguageCodes) {
        if (language == latin1(three)) {
            return latin1(two);
        }
    }
    return language;
}

QString firstLine(const QByteArray& bytes) {
    const QString text = QString::fromUtf8(bytes).trimmed();
    return text.section(u'\n', 0, 0).left(300);
}

void escapeInto(QString& out, const QString& text) {
    for (const QChar ch : text) {
        const char16_t unit = ch.unicode();
        switch (unit) {
        case u'&':
            out += QLatin1StringView("&amp;");
            break;
        case u'<':
            out += QLatin1StringView("&lt;");
            break;
        case u'>':
            out += QLatin1StringView("&gt;");
            break;
        default:
            // Apertium drops raw control characters; as character references they pass through.
            if ((unit < 0x20 && unit != u'\t' && unit != u'\n' && unit != u'\r') || unit == 0x7f) {
                out += QStringLiteral("&#%1;").arg(int(unit));
            } else {
                out += ch;
            }
        }
    }
}

QString unescape(QStringView text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != u'&') {
            out += text[i];
            continue;
        }
        const auto semicolon = text.indexOf(u';', i + 1);
        if (semicolon < 0 || semicolon - i > 10) {
            out += text[i];
            continue;
        }
        const auto name = text.mid(i + 1, semicolon - i - 1);
        std::optional<char32_t> decoded;
        if (name == u"amp") {
            decoded = U'&';
        } else if (name == u"lt") {
            decoded = U'<';
        } else if (name == u"gt") {
            decoded = U'>';
        } else if (name == u"quot") {
            decoded = U'"';
        } else if (name == u"apos") {
            decoded = U'\'';
        } else if (name.startsWith(u'#') && name.size() > 1) {
            bool ok = false;
            const uint value =
                (name[1] == u'x' || name[1] == u'X') ? name.mid(2).toUInt(&ok, 16) : name.mid(1).toUInt(&ok, 10);
            if (ok && value <= 0x10ffff && !(value >= 0xd800 && value <= 0xdfff)) {
                decoded = static_cast<char32_t>(value);
            }
        }
        if (!decoded) {
            out += text[i];
            continue;
        }
        if (*decoded > 0xffff) {
            out += QChar(QChar::highSurrogate(*decoded));
            out += QChar(QChar::lowSurrogate(*decoded));
        } else {
            out += QChar(static_cast<char16_t>(*decoded));
        }
        i = semicolon;
    }
    return out;
}

std::optional<QString> installedModeIn(const QString& dataDirectory, const QString& source, const QString& target) {
    const QStringList sourceNames = apertiumNames(source);
    const QStringList targetNames = apertiumNames(target);
    const QDir modes(dataDirectory + QStringLiteral("/modes"));
    std::optional<QString> withVariant;
    // Sorted by name, so the choice among variants does not depend on the file system.
    for (const QString& file : modes.entryList({QStringLiteral("*.mode")}, QDir::Files, QDir::Name)) {
        const QString mode = file.chopped(5);
        const QStringList sides = mode.split(u'-');
        if (sides.size() != 2) {
            continue;
        }
        const QString from = sides[0].section(u'_', 0, 0);
        const QString to = sides[1].section(u'_', 0, 0);
        if (!sourceNames.contains(from) || !targetNames.contains(to)) {
            continue;
        }
        if (from == sides[0] && to == sides[1]) {
            return mode;
        }
        if (!withVariant) {
            withVariant = mode;
        }
    }
    return withVariant;
}

}  // namespace

ApertiumTranslationEngine::ApertiumTranslationEngine(ApertiumConfiguration configuration)
    : configuration_(std::move(configuration)) {
    if (!configuration_.pipelines) {
        // Only the pool: no pipeline runs before the first translation.
        configuration_.pipelines = ApertiumPipelinePool::shared();
    }
}

bool ApertiumTranslationEngine::isEngineInstalled() const {
    const QString& executable = configuration_.executable;
    if (executable.contains(u'/')) {
        const QFileInfo info(executable);
        return info.isFile() && info.isExecutable();
    }
    return !QStandardPaths::findExecutable(executable).isEmpty();
}

std::optional<QString> ApertiumTranslationEngine::installedMode(const QString& source, const QString& target) const {
    return installedModeIn(configuration_.dataDirectory, source, target);
}

std::optional<QString> ApertiumTranslationEngine::packageForPair(const QString& source, const QString& target) {
    const QString from = twoLetterCode(source);
    const QString to = twoLetterCode(target);
    for (const auto& pair : kPackagedPairs) {
        if (from == latin1(pair.source) && to == latin1(pair.target)) {
            return latin1(pair.package);
        }
    }
    return std::nullopt;
}

QCoro::Task<OnDeviceTranslationStatus> ApertiumTranslationEngine::status(QString source, QString target) {
    if (!isEngineInstalled()) {
        co_return OnDeviceTranslationStatus::unsupported;
    }
    if (installedMode(source, target)) {
        co_return OnDeviceTranslationStatus::installed;
    }
    if (packageForPair(source, target)) {
        co_return OnDeviceTranslationStatus::supported;
    }
    co_return OnDeviceTranslationStatus::unsupported;
}

QByteArray ApertiumTranslationEngine::encodeBatch(const QStringList& texts) {
    QString batch;
    for (const auto& text : texts) {
        batch += QLatin1StringView("<p>");
        escapeInto(batch, text);
        batch += QLatin1StringView("</p>");
    }
    return batch.toUtf8();
}

std::optional<QStringList> ApertiumTranslationEngine::decodeBatch(const QByteArray& output) {
    // User text reaches Apertium escaped, so every "<p>" and "</p>" in the output is a boundary.
    const QString text = QString::fromUtf8(output);
    QStringList segments;
    qsizetype position = 0;
    while (true) {
        const auto open = text.indexOf(QLatin1StringView("<p>"), position);
        if (open < 0) {
            break;
        }
        const auto close = text.indexOf(QLatin1StringView("</p>"), open + 3);
        if (close < 0) {
            return std::nullopt;
        }
        const auto content = QStringView(text).mid(open + 3, close - open - 3);
        if (content.contains(QLatin1StringView("<p>"))) {
            return std::nullopt;
        }
        segments.append(unescape(content));
        position = close + 4;
    }
    return segments;
}

QCoro::Task<QByteArray> ApertiumTranslationEngine::run(QString mode, QByteArray input) {
    QProcess process;
    auto environment = QProcessEnvironment::systemEnvironment();
    // Apertium's tools read and write in the locale's encoding: make it UTF-8.
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    process.setProcessEnvironment(environment);
    // A group of its own, so a time-out stops the whole pipeline the script starts.
    process.setChildProcessModifier([] { ::setpgid(0, 0); });

    const QStringList arguments{QStringLiteral("-d"), configuration_.dataDirectory, QStringLiteral("-u"),
                                QStringLiteral("-f"), QStringLiteral("html"),       mode};
    const bool started = co_await qCoro(process).start(configuration_.executable, arguments);
    if (!started) {
        if (process.error() == QProcess::FailedToStart) {
            throw OnDeviceTranslationError(OnDeviceTranslationError::Kind::engineMissing,
                                           "Apertium could not be started: " + process.errorString().toStdString());
        }
        throw OnDeviceTranslationError(OnDeviceTranslationError::Kind::failed,
                                       "Apertium failed: " + process.errorString().toStdString());
    }
    process.write(input);
    process.closeWriteChannel();

    // A run that shows no work (processor time or writes of the command and every process it
    // started) for the time-out is hung; one still at work is waited for up to its working limit.
    const auto limit = configuration_.workingLimit + std::chrono::duration_cast<std::chrono::milliseconds>(
                                                         configuration_.workingPerByte * input.size());
    QElapsedTimer running;
    running.start();
    ProcessWork work = workOfProcesses(processTree(process.processId()));
    while (process.state() != QProcess::NotRunning) {
        if (co_await qCoro(&process, &QProcess::finished, configuration_.timeout)) {
            break;
        }
        const ProcessWork now = workOfProcesses(processTree(process.processId()));
        const bool working = work.workedUntil(now);
        if (process.state() == QProcess::NotRunning ||
            (working && std::chrono::milliseconds(running.elapsed()) < limit)) {
            work = now;
            continue;
        }
        const auto pid = process.processId();
        if (pid > 0) {
            ::kill(-static_cast<pid_t>(pid), SIGKILL);
        }
        process.kill();
        if (process.state() != QProcess::NotRunning) {
            co_await qCoro(&process, &QProcess::finished, 5s);
        }
        throw OnDeviceTranslationError(OnDeviceTranslationError::Kind::timedOut,
                                       "Apertium did not finish within " + std::to_string(running.elapsed()) + " ms (" +
                                           (working ? "still working past its limit" : "no work") +
                                           ") and was stopped");
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        throw OnDeviceTranslationError(OnDeviceTranslationError::Kind::failed,
                                       QStringLiteral("Apertium (%1) failed with exit code %2: %3")
                                           .arg(mode)
                                           .arg(process.exitCode())
                                           .arg(firstLine(process.readAllStandardError()))
                                           .toStdString());
    }
    co_return process.readAllStandardOutput();
}

QCoro::Task<std::vector<OnDeviceTranslationResponse>> ApertiumTranslationEngine::translate(
    QString source, QString target, std::vector<OnDeviceTranslationRequest> requests) {
    std::vector<OnDeviceTranslationResponse> responses;
    if (requests.empty()) {
        co_return responses;
    }
    if (!isEngineInstalled()) {
        throw OnDeviceTranslationError(
            OnDeviceTranslationError::Kind::engineMissing,
            "The Apertium translation engine (" + configuration_.executable.toStdString() + ") is not installed");
    }
    const auto mode = installedMode(source, target);
    if (!mode) {
        const auto package = packageForPair(source, target);
        throw OnDeviceTranslationError(
            OnDeviceTranslationError::Kind::pairNotInstalled,
            QStringLiteral("No Apertium language data for %1 to %2 is installed%3")
                .arg(source, target, package ? QStringLiteral(" (package %1)").arg(*package) : QString())
                .toStdString());
    }

    QStringList texts;
    for (const auto& request : requests) {
        texts.append(request.sourceText);
    }
    if (const auto translated = co_await translateInPipeline(*mode, texts)) {
        for (std::size_t i = 0; i < requests.size(); ++i) {
            responses.push_back({requests[i].clientIdentifier, translated->at(static_cast<qsizetype>(i))});
        }
        co_return responses;
    }
    const auto batch = decodeBatch(co_await run(*mode, encodeBatch(texts)));
    if (batch && batch->size() == texts.size()) {
        for (std::size_t i = 0; i < requests.size(); ++i) {
            responses.push_back({requests[i].clientIdentifier, batch->at(static_cast<qsizetype>(i))});
        }
        co_return responses;
    }

    // The boundaries did not survive (some of Apertium's taggers stop on certain sentences and
    // still exit with 0, cutting the output short): one process per text, so one such text
    // costs only its own translation.
    for (const auto& request : requests) {
        const QByteArray input = encodeBatch(QStringList(request.sourceText));
        const auto single = decodeBatch(co_await run(*mode, input));
        if (single && single->size() == 1) {
            responses.push_back({request.clientIdentifier, single->front()});
        }
    }
    if (responses.empty()) {
        // Nothing at all came back: that is a failure, not a list of empty translations.
        throw OnDeviceTranslationError(OnDeviceTranslationError::Kind::failed,
                                       QStringLiteral("Apertium (%1) gave no translation").arg(*mode).toStdString());
    }
    co_return responses;
}

void ApertiumTranslationEngine::prepare(QString source, QString target) {
    const auto& pool = configuration_.pipelines;
    if (!pool || pool->thread() != QThread::currentThread()) {
        return;
    }
    // Queued, so the command that asks goes on with its own work (the capture) first. The pool
    // is the context: when it is gone the call is dropped.
    QMetaObject::invokeMethod(
        pool.get(),
        [pool = std::weak_ptr<ApertiumPipelinePool>(pool), dataDirectory = configuration_.dataDirectory, source,
         target] {
            const auto running = pool.lock();
            const auto mode = installedModeIn(dataDirectory, source, target);
            if (running && mode) {
                // Given back at once: the pipeline idles until the translation takes it.
                running->acquire(dataDirectory + QStringLiteral("/modes/") + *mode + QStringLiteral(".mode"));
            }
        },
        Qt::QueuedConnection);
}

QCoro::Task<std::optional<QStringList>> ApertiumTranslationEngine::translateInPipeline(QString mode,
                                                                                       QStringList texts) {
    const auto& pool = configuration_.pipelines;
    // The pipelines' processes belong to the pool's thread; a call from elsewhere runs alone.
    if (!pool || pool->thread() != QThread::currentThread()) {
        co_return std::nullopt;
    }
    auto lease =
        pool->acquire(configuration_.dataDirectory + QStringLiteral("/modes/") + mode + QStringLiteral(".mode"));
    if (!lease) {
        co_return std::nullopt;
    }
    try {
        auto translations = co_await (*lease)->translate(texts, configuration_.blockBounds);
        if (translations.size() == texts.size()) {
            co_return translations;
        }
    } catch (const ApertiumPipelineBroken&) {
        // The next call starts a fresh pipeline; this one runs through the apertium command.
    }
    co_return std::nullopt;
}

std::unique_ptr<OnDeviceTranslationEngine> makeSystemTranslationEngine() {
    return std::make_unique<ApertiumTranslationEngine>();
}

std::optional<QString> systemTranslationPackageForPair(const QString& source, const QString& target) {
    return ApertiumTranslationEngine::packageForPair(source, target);
}

}  // namespace tavrolin
