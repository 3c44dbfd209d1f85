#pragma once
// CHtmlView2: the browser view that shows the condition form pages. It hosts a Qt WebEngine
// page in a private profile (nothing is kept on disk) and gives the page's scripts an object
// window.external whose methods are the invokable methods of externalObject(): a script
// injected before the page's own opens a QWebChannel to that object and forwards each call.
// The calls reach the object asynchronously, after the script call has returned.
//
// The pages load their behaviour from "js.js" beside them. When the page's folder holds no
// js.js, the request is answered with the program's own copy (a Qt resource); nothing is
// written into that folder. A js.js the user keeps there is used as it is; for a page in a
// window's numbered working folder, so is one the user keeps in the shared folder above it.
//
// The view belongs to its dialog: the dialog's widget tree deletes it.

#include <QString>
#include <QWebEngineView>

#include <functional>

class QWebChannel;
class QWebEngineProfile;

namespace quellar {

class FormPage;

class CHtmlView2 : public QWebEngineView {
    Q_OBJECT
public:
    explicit CHtmlView2(QWidget* parent = nullptr);
    ~CHtmlView2() override;

    // Takes the place of the child of `parent` named `placeholder`: the placeholder is
    // deleted, the view gets its geometry, is shown and runs initialUpdate(). False (and
    // nothing done) when `parent` has no such child.
    bool createOverPlaceholder(QWidget* parent, const QString& placeholder);

    // Runs once the view has its place; loading a page belongs to the subclasses.
    virtual void initialUpdate() {}

    // Whether the page has finished loading (successfully or not) since the last load.
    bool pageLoaded() const { return loaded_; }

    // Where the program's own js.js lives.
    static QString shippedScriptUrl();

    // Who shows the page's alert() texts: a message box titled with the program's name
    // unless set (the tests record them instead).
    void setAlertHandler(std::function<void(const QString&)> handler) { alertHandler_ = std::move(handler); }

    // Sets what Qt WebEngine needs before the application object exists. Call it first in
    // main(): sharing OpenGL contexts, and running without Chromium's sandbox when the
    // program runs as root (Chromium refuses to start its renderer as root otherwise).
    static void prepareProcess();

signals:
    void pageFinished(bool ok);

protected:
    // The object the page's scripts reach as window.external; set once, before the first
    // load. The view does not take ownership.
    void setExternalObject(QObject* external);

private:
    friend class FormPage;
    QWebEngineProfile* profile_ = nullptr;
    FormPage* page_ = nullptr;
    QWebChannel* channel_ = nullptr;
    std::function<void(const QString&)> alertHandler_;
    bool loaded_ = false;
};

} // namespace quellar
