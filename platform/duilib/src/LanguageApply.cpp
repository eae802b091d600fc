#include "LanguageApply.h"

#include "LanguageStore.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QTreeWidget>
#include <QVariant>
#include <QWidget>

namespace DuiLib {

namespace {

QString text(const QString& key) {
    return QString::fromStdString(LanguageStore::instance().text(key.trimmed().toStdString()));
}

QStringList texts(const QVariant& keys) {
    QStringList out;
    for (const QString& key : keys.toString().split(',', Qt::SkipEmptyParts)) {
        out << text(key);
    }
    return out;
}

// A skin's root widget names the title of the window it fills.
bool isWindowRoot(const QWidget* widget) {
    return widget->isWindow() ||
           (widget->parentWidget() != nullptr && widget->parentWidget()->isWindow());
}

void applyMainText(QWidget* widget, const QString& value) {
    if (isWindowRoot(widget) && widget->metaObject()->indexOfProperty("text") < 0) {
        widget->window()->setWindowTitle(value);
    } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
        group->setTitle(value);
    } else if (widget->metaObject()->indexOfProperty("text") >= 0) {
        widget->setProperty("text", value);
    }
}

void applyTo(QWidget* widget) {
    if (const QVariant key = widget->property("lgkey"); key.isValid()) {
        applyMainText(widget, text(key.toString()));
    }
    if (const QVariant tip = widget->property("lgtip"); tip.isValid()) {
        widget->setToolTip(text(tip.toString()));
    }
    if (const QVariant hint = widget->property("lgplaceholder"); hint.isValid()) {
        if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
            edit->setPlaceholderText(text(hint.toString()));
        }
    }
    if (const QVariant items = widget->property("lgitems"); items.isValid()) {
        if (auto* combo = qobject_cast<QComboBox*>(widget)) {
            const QStringList values = texts(items);
            for (int i = 0; i < values.size(); ++i) {
                if (i < combo->count()) {
                    combo->setItemText(i, values[i]);
                } else {
                    combo->addItem(values[i]);
                }
            }
        }
    }
    if (const QVariant headers = widget->property("lgheaders"); headers.isValid()) {
        if (auto* tree = qobject_cast<QTreeWidget*>(widget)) {
            tree->setHeaderLabels(texts(headers));
        }
    }
}

} // namespace

void applyLanguageTexts(QWidget* root) {
    applyTo(root);
    for (QWidget* widget : root->findChildren<QWidget*>()) {
        applyTo(widget);
    }
}

} // namespace DuiLib
