// The offline spelling editor on a 1,000-word English text with 30 misspelled words, with the
// system's Hunspell English dictionary.
//   BM_EditCold/<n>: n different misspelled words; a fresh checker each time (dictionary loaded beforehand, no cached suggestions):
//                what the first Edit Message on such a text costs.
//   BM_EditWarm: the same checker again and again (suggestions cached per word).
//   BM_LoadDictionary: loading the English dictionary, once per process.
#include "language/local_text_editing_client.h"
#include "language/system_text_spell_checker.h"
#include "platform/desktop_backend.h"

#include <QStringList>

#include <benchmark/benchmark.h>
#include <memory>
#include <vector>

using namespace tavrolin;

namespace {

// Plain prose, every word in the English dictionary.
const char* const prose =
    "The small team met early on Monday to plan the next release of their project and to decide "
    "which features would wait for another month while the most important fixes went out first "
    "because several customers had written to say that the old version was slow on large files "
    "and that the search window often closed before the results appeared on the screen so the "
    "developers agreed to measure every step again with real data from the support desk and to "
    "write down what they learned in a short report that everyone could read before the next "
    "meeting where they would choose the final order of the work for the rest of the year";

// Thirty common misspellings, each used once.
const char* const misspellings[] = {
    "accomodate", "mesage",   "occured",  "adress",      "recieve",    "definately", "seperate",   "wierd",
    "untill",     "langauge", "becuase",  "tommorow",    "neccessary", "goverment",  "enviroment", "beleive",
    "thier",      "truely",   "begining", "existance",   "freind",     "arguement",  "calender",   "concious",
    "embarass",   "finaly",   "happend",  "independant", "knowlege",   "publically",
};
constexpr int misspellingCount = int(sizeof(misspellings) / sizeof(misspellings[0]));
constexpr int wordCount = 1000;

// 1,000 words with 30 misspelled ones, drawn in turn from the first `distinct` misspellings.
QString benchmarkText(int distinct) {
    const QStringList words = QString::fromLatin1(prose).split(QLatin1Char(' '));
    QStringList text;
    int nextMisspelling = 0;
    for (int i = 0; i < wordCount; ++i) {
        // One misspelling every 33 words, spread over the whole text.
        if (i % 33 == 16 && nextMisspelling < misspellingCount) {
            text << QString::fromLatin1(misspellings[nextMisspelling++ % distinct]);
        } else {
            text << words[i % words.size()];
        }
        if (i % 20 == 19) {
            text.last() += QLatin1Char('.');
        }
    }
    return text.join(QLatin1Char(' '));
}

int changedWords(const QString& before, const QString& after) {
    const QStringList a = before.split(QLatin1Char(' '));
    const QStringList b = after.split(QLatin1Char(' '));
    int changed = 0;
    for (qsizetype i = 0; i < std::min(a.size(), b.size()); ++i) {
        changed += a[i] != b[i] ? 1 : 0;
    }
    return changed;
}

void BM_EditCold(benchmark::State& state) {
    const QString text = benchmarkText(int(state.range(0)));
    // One fresh checker per iteration, its dictionary loaded outside the measurement.
    std::vector<std::unique_ptr<SystemTextSpellChecker>> checkers;
    for (benchmark::IterationCount i = 0; i < state.max_iterations; ++i) {
        checkers.push_back(std::make_unique<SystemTextSpellChecker>(loadSystemSpellingDictionary));
        checkers.back()->hasDictionary(QStringLiteral("en"));
    }
    QString result;
    std::size_t next = 0;
    for (auto _ : state) {
        result = LocalTextEditingClient::correctedText(*checkers[next++], text, QStringLiteral("en"));
        benchmark::DoNotOptimize(result);
    }
    state.counters["words"] = wordCount;
    state.counters["misspellings"] = misspellingCount;
    state.counters["distinct"] = double(state.range(0));
    state.counters["corrected"] = changedWords(text, result);
}

void BM_EditWarm(benchmark::State& state) {
    const QString text = benchmarkText(misspellingCount);
    SystemTextSpellChecker checker(loadSystemSpellingDictionary);
    QString result = LocalTextEditingClient::correctedText(checker, text, QStringLiteral("en"));
    for (auto _ : state) {
        result = LocalTextEditingClient::correctedText(checker, text, QStringLiteral("en"));
        benchmark::DoNotOptimize(result);
    }
    state.counters["corrected"] = changedWords(text, result);
}

void BM_LoadDictionary(benchmark::State& state) {
    for (auto _ : state) {
        SystemTextSpellChecker checker(loadSystemSpellingDictionary);
        benchmark::DoNotOptimize(checker.hasDictionary(QStringLiteral("en")));
    }
}

}  // namespace

// 30 different misspelled words (the worst case: every suggestion is computed), and 10 words
// misspelled three times each (the cache answers the repeats).
BENCHMARK(BM_EditCold)->Arg(30)->Arg(10)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_EditWarm)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadDictionary)->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK_MAIN();
