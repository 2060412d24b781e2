#pragma once

#include "dictation/speech_recognition_error.h"
#include "dictation/speech_recognition_service.h"
#include "support/fakes/fake_audio_input.h"
#include "support/fakes/fake_speech_models.h"

#include <QElapsedTimer>
#include <QStringList>

#include <memory>
#include <mutex>
#include <vector>

namespace tavrolin::test {

// Speech services over in-memory audio and scripted decoders, for code that owns speech services
// (link tavrolin_dictation). Every service made shares `audio` and `models`; `madeLocales` lists
// the locale of each service the factory made, in order.
struct FakeSpeechBackends {
    std::shared_ptr<FakeAudioInput> audio = std::make_shared<FakeAudioInput>();
    std::shared_ptr<FakeSpeechModels> models = std::make_shared<FakeSpeechModels>();
    std::shared_ptr<QStringList> madeLocales = std::make_shared<QStringList>();

    SpeechRecognitionBackends backends() const {
        return {models, [audio = audio] { return std::make_unique<FakeAudioInputSource>(audio); }};
    }
    SpeechRecognitionServiceFactory factory() const {
        return [backends = backends(), made = madeLocales](const QString& localeIdentifier) {
            made->append(localeIdentifier);
            return SpeechRecognitionService::create(localeIdentifier, backends);
        };
    }
    FakeSpeechScript& script() const { return *models->script; }
};

// What speech services report on the main thread, with when each text arrived (milliseconds
// since these reports were made). Clears the callbacks of the services it listens to when it
// goes: a stopped service lives on until its delayed cancel, and what it still posts must not
// reach a finished test.
struct SpeechReports {
    QStringList transcriptions;
    QStringList errors;
    std::vector<qint64> arrivals;
    QElapsedTimer clock;

    SpeechReports() { clock.start(); }
    SpeechReports(const SpeechReports&) = delete;
    SpeechReports& operator=(const SpeechReports&) = delete;
    ~SpeechReports() {
        for (const auto& weak : services_) {
            if (const auto service = weak.lock()) {
                service->onTranscriptionUpdate = nullptr;
                service->onError = nullptr;
            }
        }
    }

    void attach(const std::shared_ptr<SpeechRecognitionService>& service) {
        service->onTranscriptionUpdate = [this](const QString& text) {
            transcriptions << text;
            arrivals.push_back(clock.elapsed());
        };
        service->onError = [this](const std::exception& error) { errors << speechErrorDescription(error); };
        services_.push_back(service);
    }
    QString last() const { return transcriptions.isEmpty() ? QString() : transcriptions.last(); }

private:
    std::vector<std::weak_ptr<SpeechRecognitionService>> services_;
};

}  // namespace tavrolin::test
