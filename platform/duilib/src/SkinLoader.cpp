#include "SkinLoader.h"

#include "duilib/UIManager.h"
#include "duilib/UIWndHost.h"

#include <QWidget>

#include <cstdio>

namespace DuiLib {

SkinLoader::SkinLoader(CPaintManagerUI& manager, IDialogBuilderCallback* builder)
    : manager_(manager), builder_(builder) {}

QWidget* SkinLoader::createWidget(const QString& className, QWidget* parent, const QString& name) {
    // Hosts of child pages are the toolkit's own.
    if (className == "CXmlWndUI" || className == "CWndUI") {
        auto* host = new CXmlWndUI;
        host->GetWidget()->setParent(parent);
        host->GetWidget()->setObjectName(name);
        manager_.Adopt(host);
        return host->GetWidget();
    }
    if (builder_ != nullptr) {
        if (CControlUI* control = builder_->CreateControl(className.toUtf8().constData())) {
            QWidget* widget = control->GetWidget();
            widget->setParent(parent);
            widget->setObjectName(name);
            manager_.Adopt(control);
            return widget;
        }
    }
    if (QWidget* widget = QUiLoader::createWidget(className, parent, name)) {
        return widget;
    }
    std::fprintf(stderr, "skin: no control of class %s for \"%s\"; an empty one stands in\n",
                 className.toUtf8().constData(), name.toUtf8().constData());
    auto* widget = new QWidget(parent);
    widget->setObjectName(name);
    return widget;
}

} // namespace DuiLib
