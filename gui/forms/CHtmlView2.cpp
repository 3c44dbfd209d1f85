#include "forms/CHtmlView2.h"

#include "app/UserPrompts.h"
#include "app/WorkFolder.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QMetaMethod>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineUrlRequestInterceptor>

#include <unistd.h>

namespace quellar {

namespace {

// Answers a page's request for the js.js beside it when that folder has none: a window working
// in a numbered folder of its own uses the one the user keeps in the shared working folder,
// and otherwise the program's own copy answers.
class ScriptFallback : public QWebEngineUrlRequestInterceptor {
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;

    void interceptRequest(QWebEngineUrlRequestInfo& info) override {
        const QUrl url = info.requestUrl();
        if (!url.isLocalFile() || url.fileName() != QLatin1String("js.js")) return;
        const QUrl page = info.firstPartyUrl();
        if (!page.isLocalFile()) return;
        const QString script = url.toLocalFile();
        // Only the script beside the form page; a js.js elsewhere is no concern of ours.
        if (QFileInfo(script).absolutePath() != QFileInfo(page.toLocalFile()).absolutePath()) return;
        if (QFileInfo::exists(script)) return;
        const QString shared = WorkFolder::sharedFolderOf(QFileInfo(script).absolutePath());
        const QString sharedScript =
            shared.isEmpty() ? QString() : QDir(shared).filePath(QStringLiteral("js.js"));
        info.redirect(!sharedScript.isEmpty() && QFileInfo::exists(sharedScript)
                          ? QUrl::fromLocalFile(sharedScript)
                          : QUrl(CHtmlView2::shippedScriptUrl()));
    }
};

// The bridge script: window.external gets one method per invokable method of the external
// object; each call is handed to the channel as soon as it is open. Arguments missing or
// null arrive as empty texts.
QString bridgeScript(const QObject* external) {
    QFile channelScript(QStringLiteral(":/qtwebchannel/qwebchannel.js"));
    channelScript.open(QIODevice::ReadOnly);
    QString methods;
    const QMetaObject* meta = external->metaObject();
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        const QMetaMethod method = meta->method(i);
        if (method.methodType() != QMetaMethod::Method || method.access() != QMetaMethod::Public) continue;
        methods += QStringLiteral("[\"%1\", %2],")
                       .arg(QString::fromLatin1(method.name()))
                       .arg(method.parameterCount());
    }
    return QString::fromUtf8(channelScript.readAll()) + QStringLiteral(R"(
(function () {
    var methods = [%1];
    var target = null;
    var pending = [];
    try {
        new QWebChannel(qt.webChannelTransport, function (channel) {
            target = channel.objects.external;
            for (var i = 0; i < pending.length; i++) target[pending[i][0]].apply(target, pending[i][1]);
            pending = [];
        });
    } catch (e) {
    }
    var external = {};
    methods.forEach(function (method) {
        external[method[0]] = function () {
            var args = [];
            for (var i = 0; i < method[1]; i++)
                args.push(arguments[i] === undefined || arguments[i] === null ? "" : String(arguments[i]));
            if (target) target[method[0]].apply(target, args);
            else pending.push([method[0], args]);
        };
    });
    window.external = external;
})();
)")
                                                            .arg(methods);
}

} // namespace

// The page of a form view: routes the scripts' alert() to the view.
class FormPage : public QWebEnginePage {
public:
    FormPage(QWebEngineProfile* profile, CHtmlView2* view)
        : QWebEnginePage(profile, view)
        , view_(view) {}

protected:
    void javaScriptAlert(const QUrl&, const QString& text) override {
        if (view_->alertHandler_) {
            view_->alertHandler_(text);
            return;
        }
        QMessageBox box(QMessageBox::Information, applicationTitle(), text, QMessageBox::Ok, view_->window());
        box.exec();
    }

private:
    CHtmlView2* view_;
};

CHtmlView2::CHtmlView2(QWidget* parent)
    : QWebEngineView(parent) {
    profile_ = new QWebEngineProfile(this); // off the record: no cache or storage on disk
    profile_->setUrlRequestInterceptor(new ScriptFallback(profile_));
    page_ = new FormPage(profile_, this);
    setPage(page_);
    setContextMenuPolicy(Qt::NoContextMenu);
    connect(page_, &QWebEnginePage::loadStarted, this, [this] { loaded_ = false; });
    connect(page_, &QWebEnginePage::loadFinished, this, [this](bool ok) {
        loaded_ = true;
        emit pageFinished(ok);
    });
}

CHtmlView2::~CHtmlView2() {
    // The page must go before the profile it was made in.
    delete page_;
    page_ = nullptr;
}

void CHtmlView2::setExternalObject(QObject* external) {
    channel_ = new QWebChannel(this);
    channel_->registerObject(QStringLiteral("external"), external);
    page_->setWebChannel(channel_);
    QWebEngineScript script;
    script.setName(QStringLiteral("external"));
    script.setSourceCode(bridgeScript(external));
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::MainWorld);
    script.setRunsOnSubFrames(false);
    page_->scripts().insert(script);
}

bool CHtmlView2::createOverPlaceholder(QWidget* parent, const QString& placeholder) {
    QWidget* marker = parent ? parent->findChild<QWidget*>(placeholder, Qt::FindDirectChildrenOnly) : nullptr;
    if (!marker) return false;
    const QRect area = marker->geometry();
    delete marker;
    setParent(parent);
    setGeometry(area);
    show();
    initialUpdate();
    return true;
}

QString CHtmlView2::shippedScriptUrl() {
    return QStringLiteral("qrc:/forms/js.js");
}

void CHtmlView2::prepareProcess() {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
}

} // namespace quellar
