// Desktop and engine tests: a real X display (the desktop session provides one).
#include "support/module_http_client.h"

#include <QApplication>

#include <cstdio>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "DISPLAY is not set: run these tests inside scripts/desktop-session.sh\n");
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    tavrolin::test::useModuleHttpClient();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
