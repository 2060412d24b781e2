#include "updates/online_gated_app_update_manifest_client.h"

#include "core/capture_workflow_error.h"
#include "support/async.h"

#include <gtest/gtest.h>

using namespace tavrolin;

namespace {

struct CountingManifestClient final : AppUpdateManifestClient {
    QCoro::Task<AppUpdateManifest> latestManifest() override {
        ++calls;
        if (error)
            std::rethrow_exception(error);
        AppUpdateManifest manifest;
        manifest.version = "1.4.0";
        manifest.build = "57";
        manifest.downloadURL = QUrl("https://example.invalid/tavrolin-1.4.0.tar.gz");
        co_return manifest;
    }
    int calls = 0;
    std::exception_ptr error;
};

}  // namespace

TEST(OnlineGatedManifest, OffRefusesWithoutAskingOnPassesResultAndErrorsThrough) {
    auto policy = std::make_shared<OnlineFeaturePolicy>(false);
    auto inner = std::make_shared<CountingManifestClient>();
    OnlineGatedAppUpdateManifestClient manifest(inner, policy);
    try {
        test::await(manifest.latestManifest());
        ADD_FAILURE() << "no error";
    } catch (const CaptureWorkflowError& error) {
        EXPECT_EQ(error.errorCase(), CaptureWorkflowError::Case::onlineFeaturesDisabled);
    }
    EXPECT_EQ(inner->calls, 0);

    policy->setOnlineFeaturesEnabled(true);
    EXPECT_EQ(test::await(manifest.latestManifest()).build, "57");
    inner->error = std::make_exception_ptr(std::runtime_error("transport"));
    EXPECT_THROW(test::await(manifest.latestManifest()), std::runtime_error);
    EXPECT_EQ(inner->calls, 2);
}
