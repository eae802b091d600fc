#pragma once

#include "duilib/UIDefine.h"

#include <QUiLoader>

namespace DuiLib {

class CPaintManagerUI;

// Builds a skin (a Designer file). Class names the toolkit does not know are offered to the
// program's builder callback first; a class nobody can make becomes a plain widget, so one
// unknown control never costs the whole window.
class SkinLoader : public QUiLoader {
public:
    SkinLoader(CPaintManagerUI& manager, IDialogBuilderCallback* builder);

    QWidget* createWidget(const QString& className, QWidget* parent, const QString& name) override;

private:
    CPaintManagerUI& manager_;
    IDialogBuilderCallback* builder_;
};

} // namespace DuiLib
