#include "language/online_gated_clients.h"

#include "core/capture_workflow_error.h"
#include "language/hybrid_text_editing_client.h"
#include "support/async.h"

#include <functional>
#include <gtest/gtest.h>

using namespace tavrolin;
using Case = CaptureWorkflowError::Case;

namespace {

// Inner clients that count their calls, echo their arguments and fail on demand.
struct CountingClients final : TextEditingClient, TextWritingClient, TextImproveClient, TextPromptClient {
    explicit CountingClients(QString name) : name(std::move(name)) {}

    QCoro::Task<QString> edit(QString text, AppLanguage source, AppLanguage target) override {
        ++calls;
        if (error)
            std::rethrow_exception(error);
        co_return name + ":edit:" + text + ":" + rawValue(source) + ">" + rawValue(target);
    }
    QCoro::Task<QString> write(QString fieldText, QString windowText, AppLanguage target) override {
        ++calls;
        if (error)
            std::rethrow_exception(error);
        co_return name + ":write:" + fieldText + "|" + windowText + ":" + rawValue(target);
    }
    QCoro::Task<QString> improve(QString text, AppLanguage language) override {
        ++calls;
        if (error)
            std::rethrow_exception(error);
        co_return name + ":improve:" + text + ":" + rawValue(language);
    }
    QCoro::Task<QString> createPrompt(QString text, TextPromptLanguage language) override {
        ++calls;
        if (error)
            std::rethrow_exception(error);
        co_return name + ":prompt:" + text + ":" + rawValue(language);
    }

    QString name;
    int calls = 0;
    std::exception_ptr error;
};

Case errorCaseOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const CaptureWorkflowError& error) {
        return error.errorCase();
    }
    ADD_FAILURE() << "no CaptureWorkflowError";
    return Case::captureAlreadyInProgress;
}

}  // namespace

TEST(OnlineGates, SwitchOffRefusesWithoutCallingTheInnerClient) {
    auto policy = std::make_shared<OnlineFeaturePolicy>(false);
    auto inner = std::make_shared<CountingClients>("server");
    OnlineGatedTextWritingClient writing(inner, policy);
    OnlineGatedTextImproveClient improving(inner, policy);
    OnlineGatedTextPromptClient prompting(inner, policy);
    const std::vector<std::pair<const char*, std::function<void()>>> calls = {
        {"write", [&] { test::await(writing.write("field", "window", AppLanguage::german)); }},
        {"improve", [&] { test::await(improving.improve("text", AppLanguage::english)); }},
        {"createPrompt", [&] { test::await(prompting.createPrompt("text", TextPromptLanguage::english)); }},
    };
    for (const auto& [name, call] : calls) {
        EXPECT_EQ(errorCaseOf(call), Case::onlineFeaturesDisabled) << name;
    }
    EXPECT_EQ(inner->calls, 0);
}

TEST(OnlineGates, SwitchOnPassesArgumentsResultsAndErrorsThrough) {
    auto policy = std::make_shared<OnlineFeaturePolicy>(true);
    auto inner = std::make_shared<CountingClients>("server");
    OnlineGatedTextWritingClient writing(inner, policy);
    OnlineGatedTextImproveClient improving(inner, policy);
    OnlineGatedTextPromptClient prompting(inner, policy);
    EXPECT_EQ(test::await(writing.write(" field ", "", AppLanguage::german)), "server:write: field |:de");
    EXPECT_EQ(test::await(improving.improve("text", AppLanguage::automatic)), "server:improve:text:auto");
    EXPECT_EQ(test::await(prompting.createPrompt("text", TextPromptLanguage::original)), "server:prompt:text:original");
    EXPECT_EQ(inner->calls, 3);

    inner->error = std::make_exception_ptr(CaptureWorkflowError(Case::textWritingInvalidResponse));
    EXPECT_EQ(errorCaseOf([&] { test::await(writing.write("f", "w", AppLanguage::english)); }),
              Case::textWritingInvalidResponse);
    inner->error = std::make_exception_ptr(std::runtime_error("transport"));
    EXPECT_THROW(test::await(improving.improve("t", AppLanguage::english)), std::runtime_error);
}

TEST(OnlineGates, TheSwitchIsReadAtEveryCallAndSharedByCopies) {
    auto policy = std::make_shared<OnlineFeaturePolicy>(true);
    auto inner = std::make_shared<CountingClients>("server");
    const OnlineGatedTextImproveClient gate(inner, policy);
    OnlineGatedTextImproveClient copy = gate;  // made before the change
    OnlineGatedTextImproveClient first = gate;

    EXPECT_EQ(test::await(first.improve("one", AppLanguage::english)), "server:improve:one:en");
    policy->setOnlineFeaturesEnabled(false);
    EXPECT_EQ(errorCaseOf([&] { test::await(first.improve("two", AppLanguage::english)); }),
              Case::onlineFeaturesDisabled);
    EXPECT_EQ(errorCaseOf([&] { test::await(copy.improve("two", AppLanguage::english)); }),
              Case::onlineFeaturesDisabled);
    EXPECT_EQ(inner->calls, 1);
    policy->setOnlineFeaturesEnabled(true);
    EXPECT_EQ(test::await(copy.improve("three", AppLanguage::english)), "server:improve:three:en");
    EXPECT_EQ(inner->calls, 2);
}

TEST(HybridEditing, ChoosesByTheSwitchAtEachCallWithoutFallback) {
    auto policy = std::make_shared<OnlineFeaturePolicy>(true);
    auto server = std::make_shared<CountingClients>("server");
    auto offline = std::make_shared<CountingClients>("offline");
    HybridTextEditingClient hybrid(server, offline, policy);

    EXPECT_EQ(test::await(hybrid.edit("txt", AppLanguage::automatic, AppLanguage::french)), "server:edit:txt:auto>fr");
    policy->setOnlineFeaturesEnabled(false);
    EXPECT_EQ(test::await(hybrid.edit("txt", AppLanguage::automatic, AppLanguage::french)), "offline:edit:txt:auto>fr");
    EXPECT_EQ(server->calls, 1);
    EXPECT_EQ(offline->calls, 1);

    // A failing server is not replaced by the offline editor, and an offline failure is passed on.
    policy->setOnlineFeaturesEnabled(true);
    server->error = std::make_exception_ptr(CaptureWorkflowError(Case::textEditingRequestFailed));
    EXPECT_EQ(errorCaseOf([&] { test::await(hybrid.edit("txt", AppLanguage::english, AppLanguage::english)); }),
              Case::textEditingRequestFailed);
    EXPECT_EQ(offline->calls, 1);
    policy->setOnlineFeaturesEnabled(false);
    offline->error = std::make_exception_ptr(std::runtime_error("dictionary"));
    EXPECT_THROW(test::await(hybrid.edit("txt", AppLanguage::english, AppLanguage::english)), std::runtime_error);
    EXPECT_EQ(server->calls, 2);
}
