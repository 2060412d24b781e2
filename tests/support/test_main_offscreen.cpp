// Unit tests: no display, no services. Widgets render on the offscreen platform.
#include "support/module_http_client.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    tavrolin::test::useModuleHttpClient();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
