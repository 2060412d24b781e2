// Language detection of short user texts (5 to 200 characters), as the message and flip
// workflows run it: the script step, then the desktop's recognizer with boosted languages.
#include "core/text_language_detector.h"
#include "platform/desktop_backend.h"

#include <QString>
#include <QStringList>

#include <benchmark/benchmark.h>
#include <random>

using namespace tavrolin;

namespace {

constexpr int kTextCount = 10000;

// Sentences in Latin-script languages (the ones that reach the recognizer) and a few in
// scripts the script step decides alone.
const char* const kSentences[] = {
    "Can you send me the report before the meeting tomorrow?",
    "I think we should postpone the release until the tests pass.",
    "Kannst du mir bitte den Bericht vor dem Treffen morgen schicken?",
    "Ich glaube, wir sollten die Veröffentlichung verschieben.",
    "Peux-tu m'envoyer le rapport avant la réunion de demain ?",
    "Je pense que nous devrions reporter la sortie.",
    "¿Puedes enviarme el informe antes de la reunión de mañana?",
    "Creo que deberíamos posponer el lanzamiento hasta que pasen las pruebas.",
    "Puoi mandarmi il rapporto prima della riunione di domani?",
    "Podes enviar-me o relatório antes da reunião de amanhã?",
    "Czy możesz wysłać mi raport przed jutrzejszym spotkaniem?",
    "Yarınki toplantıdan önce raporu bana gönderebilir misin?",
    "Kun je me het rapport voor de vergadering van morgen sturen?",
    "Bisakah kamu mengirimkan laporan sebelum rapat besok?",
    "Bạn có thể gửi cho tôi báo cáo trước cuộc họp ngày mai không?",
    "אתה יכול לשלוח לי את הדוח לפני הפגישה מחר?",
    "Можешь прислать мне отчёт до завтрашней встречи?",
    "Чи можеш надіслати мені звіт до завтрашньої зустрічі?",
    "明日の会議の前にレポートを送ってもらえますか？",
    "Hello",
    "Danke!",
    "Merci beaucoup",
    "ok",
    "Привет",
};

QStringList makeTexts() {
    std::mt19937 random(20261207);
    QStringList sentences;
    for (const char* sentence : kSentences) {
        sentences.append(QString::fromUtf8(sentence));
    }
    std::uniform_int_distribution<int> pick(0, static_cast<int>(sentences.size()) - 1);
    std::uniform_int_distribution<int> length(5, 200);
    QStringList texts;
    texts.reserve(kTextCount);
    while (texts.size() < kTextCount) {
        const int target = length(random);
        QString text = sentences.at(pick(random));
        while (text.size() < target) {
            text += QLatin1Char(' ') + sentences.at(pick(random));
        }
        text.truncate(target);
        if (text.trimmed().size() >= 5) {
            texts.append(text);
        }
    }
    return texts;
}

void BM_DetectShortTexts(benchmark::State& state) {
    const QStringList texts = makeTexts();
    const std::set<AppLanguage> boosted{AppLanguage::russian, AppLanguage::english, AppLanguage::german};
    const std::unique_ptr<LanguageRecognizer> recognizer = makeSystemLanguageRecognizer();  // outside the timing
    for (auto _ : state) {
        int detected = 0;
        for (const QString& text : texts) {
            detected += TextLanguageDetector::detectAppLanguage(text, boosted, *recognizer).has_value() ? 1 : 0;
        }
        benchmark::DoNotOptimize(detected);
    }
    state.SetItemsProcessed(state.iterations() * texts.size());
    state.SetLabel("10000 texts of 5-200 characters; items_per_second = texts per second");
}
BENCHMARK(BM_DetectShortTexts)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
