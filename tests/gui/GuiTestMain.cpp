// Runs the GUI tests inside one QApplication, offscreen unless a platform is chosen.

#include "app/CQuellarApp.h"
#include "forms/CHtmlView2.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    // The form window's tests run Qt WebEngine, which needs its settings before QApplication.
    quellar::CHtmlView2::prepareProcess();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quellar"));
    quellar::CQuellarApp::installFonts();
    return RUN_ALL_TESTS();
}
