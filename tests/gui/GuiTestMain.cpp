// Runs the GUI tests inside one QApplication, offscreen unless a platform is chosen.

#include "app/CQuellarApp.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quellar"));
    quellar::CQuellarApp::installFonts();
    return RUN_ALL_TESTS();
}
