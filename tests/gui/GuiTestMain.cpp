// Runs the GUI tests inside one QApplication, offscreen unless a platform is chosen.

#include "app/CQuellarApp.h"
#include "dialogs/DialogStyle.h"
#include "forms/CHtmlView2.h"
#include "tests/gui/GuiTestSupport.h"

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// Every test starts without remembered settings (recent files, the dialogs' last choices,
// the window's place), whatever the tests before it left.
class FreshSettings : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { QSettings().clear(); }
};

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    // The form window's tests run Qt WebEngine, which needs its settings before QApplication.
    quellar::CHtmlView2::prepareProcess();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quellar"));
    QApplication::setOrganizationName(QStringLiteral("quellar"));
    // The window's settings (recent files, its place, the dialogs' choices) go to a folder of
    // the run's own, never to the user's.
    QTemporaryDir settingsFolder;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsFolder.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsFolder.path());
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshSettings);
    quellar::CQuellarApp::installFonts();
    // A dialog confirmed without a needed choice says so; the tests read what it said.
    quellar::setRefusalHook([](QDialog*, const QString& text) { quellar::test::refusals().append(text); });
    return RUN_ALL_TESTS();
}
