// Log lines naming error values that carry strings from outside (a server's key, a window's
// application name, a transport's message), written by the file log sink. Input: a byte
// choosing the error, a byte choosing its case, three fields (one length byte each, UTF-8) for
// its strings, then the front application's identifier.
#include "core/capture_workflow_error.h"
#include "core/network_log.h"
#include "core/url_error.h"
#include "core/workflow_log.h"
#include "fuzz_support.h"
#include "server/json_decoding_error.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>

#include <exception>
#include <stdexcept>
#include <unistd.h>

using namespace tavrolin;

namespace {

class FixedFrontApplication final : public FrontApplicationProviding {
public:
    std::optional<FrontApplication> frontApplication() const override { return application; }
    std::optional<FrontApplication> application;
};

std::exception_ptr errorFrom(std::uint8_t kind, std::uint8_t which, const QString& first, const QString& second,
                             const QString& third) {
    using Case = CaptureWorkflowError::Case;
    switch (kind % 4) {
    case 0:
        return std::make_exception_ptr(
            JsonDecodingError(static_cast<JsonDecodingError::Kind>(which % 4), first, second));
    case 1:
        switch (which % 8) {
        case 0:
            return std::make_exception_ptr(CaptureWorkflowError::noActiveWindowFound(first));
        case 1:
            return std::make_exception_ptr(CaptureWorkflowError::windowNotShareable(first));
        case 2:
            return std::make_exception_ptr(CaptureWorkflowError::failedToWriteImage(first));
        case 3:
            return std::make_exception_ptr(CaptureWorkflowError::translationSourceLanguageUnsupported(first));
        case 4:
            return std::make_exception_ptr(CaptureWorkflowError::serverTranslationUnavailable(first, second));
        case 5:
            return std::make_exception_ptr(CaptureWorkflowError::hotKeyAlreadyInUse(third));
        case 6:
            return std::make_exception_ptr(CaptureWorkflowError::failedToRegisterHotKey(third));
        default:
            return std::make_exception_ptr(CaptureWorkflowError(Case::textTranslationInvalidResponse));
        }
    case 2:
        return std::make_exception_ptr(std::runtime_error(first.toStdString()));
    default:
        return std::make_exception_ptr(URLError(static_cast<std::int8_t>(which) * 10, first));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const QString folder = QDir::tempPath() + QStringLiteral("/tavrolin-fuzz-log-%1").arg(::getpid());
    static const QString path = folder + QStringLiteral("/tavrolin.log");
    static const auto front = [] {
        auto provider = std::make_shared<FixedFrontApplication>();
        WorkflowLog::setFrontApplicationProvider(provider);
        return provider;
    }();

    fuzz::InputReader input(data, size);
    const std::uint8_t kind = input.byte();
    const std::uint8_t which = input.byte();
    const QString first = QString::fromUtf8(input.field());
    const QString second = QString::fromUtf8(input.field());
    const QString third = QString::fromUtf8(input.field());
    front->application = FrontApplication{42, QString::fromUtf8(input.rest())};
    const std::exception_ptr error = errorFrom(kind, which, first, second, third);

    QFile::remove(path);
    AppLog::setSink(std::make_shared<RotatingFileLogSink>(path));
    NetworkLog::failed(QStringLiteral("server_translation"), error);
    WorkflowLog::failed(TelemetryAction::translateMessage, TelemetryTrigger::hotkey, QStringLiteral("E1"), error);
    AppLog::setSink(std::make_shared<fuzz::DiscardingLogSink>());  // closes the file

    QFile file(path);
    fuzz::require(file.open(QIODevice::ReadOnly), "the log file was not written");
    const QByteArray written = file.readAll();
    // Two records, each one line: nothing inside a record may end it early.
    fuzz::require(written.count('\n') == 2 && written.endsWith('\n'), "a record that is not exactly one line");
    fuzz::require(!written.contains('\r'), "a carriage return inside a record");
    QStringDecoder utf8(QStringDecoder::Utf8);
    [[maybe_unused]] const QString text = utf8.decode(written);
    fuzz::require(!utf8.hasError(), "a log line that is not UTF-8");
    return 0;
}
