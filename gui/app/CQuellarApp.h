#pragma once
// CQuellarApp: the application object. It sets up Qt (name, style, fonts that show
// Chinese text and the fonts workbooks name, such as 宋体), creates the main window and
// runs it; the program ends when the window closes. What Qt WebEngine needs before the
// application object exists is set first.

#include <QApplication>

namespace quellar {

class CQuellarApp {
public:
    CQuellarApp(int& argc, char** argv);
    int run();

    // Maps the Windows font names that workbooks carry (宋体, 黑体, 微软雅黑, ...) to the
    // installed CJK fonts, and picks a user-interface font that shows Chinese well.
    static void installFonts();
    // Loads Qt's Chinese catalogue so that standard dialogs and buttons speak Chinese;
    // false when the catalogue is not installed.
    static bool installTranslations();

private:
    // Runs before the application object is made: Qt WebEngine (the condition forms) needs
    // its settings in place by then.
    struct Prepared {
        Prepared();
    };
    Prepared prepared_;
    QApplication app_;
};

} // namespace quellar
