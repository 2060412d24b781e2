#pragma once

#include "dictation/speech_recognition_service.h"
#include "support/fake_audio_input.h"
#include "support/fake_speech_models.h"

#include <QStringList>

#include <memory>
#include <mutex>

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

}  // namespace tavrolin::test
