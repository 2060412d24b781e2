#include "language/translation_client.h"

#include "core/capture_workflow_error.h"
#include "support/async.h"

#include <functional>
#include <gtest/gtest.h>

namespace tavrolin {
namespace {

struct Call {
    QStringList texts;
    AppLanguage source;
    AppLanguage target;
    bool operator==(const Call&) const = default;
};

// Uses the interface's own batch operation over a text-list operation the test scripts.
class RecordingClient final : public TranslationClient {
public:
    using TranslationClient::translate;
    std::function<QStringList(const Call&)> answer = [](const Call& call) {
        QStringList out;
        for (const auto& text : call.texts) {
            out << rawValue(call.source) + u':' + text;
        }
        return out;
    };
    QList<Call> calls;

    QCoro::Task<TranslationPairAvailability> availability(AppLanguage, AppLanguage) override {
        co_return TranslationPairAvailability::installed;
    }
    QCoro::Task<QStringList> translate(QStringList texts, AppLanguage source, AppLanguage target) override {
        calls.append({texts, source, target});
        co_return answer(calls.back());
    }
};

QList<TranslationResponse> batch(RecordingClient& client, QList<TranslationRequest> requests,
                                 AppLanguage target = AppLanguage::german) {
    return test::await(client.translate(std::move(requests), target));
}

TEST(DefaultBatch, GroupsBySourceInOrderOfFirstAppearance) {
    RecordingClient client;
    const auto responses = batch(
        client, {{"A", "a", AppLanguage::french}, {"B", "b", AppLanguage::english}, {"C", "c", AppLanguage::french}});
    ASSERT_EQ(client.calls.size(), 2);
    EXPECT_EQ(client.calls[0], (Call{{"a", "c"}, AppLanguage::french, AppLanguage::german}));
    EXPECT_EQ(client.calls[1], (Call{{"b"}, AppLanguage::english, AppLanguage::german}));
    EXPECT_EQ(responses, (QList<TranslationResponse>{{"A", "fr:a"}, {"B", "en:b"}, {"C", "fr:c"}}));
}

TEST(DefaultBatch, EmptyListMakesNoCall) {
    RecordingClient client;
    EXPECT_TRUE(batch(client, {}).isEmpty());
    EXPECT_TRUE(client.calls.isEmpty());
}

TEST(DefaultBatch, ShortResultKeepsTheRequestsOwnText) {
    RecordingClient client;
    client.answer = [](const Call& call) { return call.texts.size() > 1 ? QStringList{"first"} : QStringList{}; };
    const auto responses = batch(client, {{"1", "one", AppLanguage::automatic},
                                          {"2", "two", AppLanguage::automatic},
                                          {"3", "three", AppLanguage::russian}});
    EXPECT_EQ(responses, (QList<TranslationResponse>{{"1", "first"}, {"2", "two"}, {"3", "three"}}));
}

TEST(DefaultBatch, LongerResultIsCutToTheGroup) {
    RecordingClient client;
    client.answer = [](const Call&) { return QStringList{"x", "y", "z"}; };
    const auto responses = batch(client, {{"1", "one", AppLanguage::english}});
    EXPECT_EQ(responses, (QList<TranslationResponse>{{"1", "x"}}));
}

TEST(DefaultBatch, DuplicateIdTakesTheLaterStore) {
    RecordingClient client;
    // Same id in two groups: the group translated later wins for both responses.
    const auto responses = batch(client, {{"dup", "a", AppLanguage::french}, {"dup", "b", AppLanguage::english}});
    EXPECT_EQ(responses, (QList<TranslationResponse>{{"dup", "en:b"}, {"dup", "en:b"}}));
}

TEST(DefaultBatch, FailureOfALaterGroupFailsTheWholeBatch) {
    RecordingClient client;
    client.answer = [&client](const Call& call) -> QStringList {
        if (client.calls.size() == 2) {
            throw CaptureWorkflowError(CaptureWorkflowError::Case::textTranslationRequestFailed);
        }
        return call.texts;
    };
    EXPECT_THROW(
        batch(client,
              {{"A", "a", AppLanguage::french}, {"B", "b", AppLanguage::english}, {"C", "c", AppLanguage::spanish}}),
        CaptureWorkflowError);
    // The third group is never asked for.
    EXPECT_EQ(client.calls.size(), 2);
}

}  // namespace
}  // namespace tavrolin
