#include "platform/linux/x11_front_application_provider.h"
#include "support/async.h"

#include <QApplication>
#include <QWidget>

#include <gtest/gtest.h>
#include <unistd.h>

namespace tavrolin {
namespace {

TEST(X11FrontApplicationProviderTest, NamesTheActiveWindowsClassAndProcess) {
    auto provider = makeX11FrontApplicationProvider();
    QWidget window;
    window.setWindowTitle(QStringLiteral("front application probe"));
    window.resize(200, 120);
    window.show();
    window.activateWindow();
    window.raise();

    std::optional<FrontApplication> front;
    const bool found = test::waitUntil([&] {
        front = provider->frontApplication();
        return front && front->processId == ::getpid() && front->applicationIdentifier;
    });
    ASSERT_TRUE(found) << "the test window never became the front window";
    // Qt names the window class after the application name.
    EXPECT_EQ(front->applicationIdentifier, QCoreApplication::applicationName());
    window.close();
}

TEST(X11FrontApplicationProviderTest, WithoutADisplayThereIsNoFrontApplication) {
    const QByteArray display = qgetenv("DISPLAY");
    qunsetenv("DISPLAY");
    auto provider = makeX11FrontApplicationProvider();
    EXPECT_EQ(provider->frontApplication(), std::nullopt);
    qputenv("DISPLAY", display);
}

}  // namespace
}  // namespace tavrolin
