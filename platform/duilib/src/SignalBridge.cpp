#include "SignalBridge.h"

#include "duilib/UIDefine.h"

#include <QAbstractButton>
#include <QCalendarWidget>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTreeWidget>

namespace DuiLib {

namespace {

void bridgeButton(QAbstractButton* button, const NotifySink& sink) {
    QObject::connect(button, &QAbstractButton::clicked, [sink] { sink(kNotifyClick, 0, 0); });
    QObject::connect(button, &QAbstractButton::pressed, [sink] { sink(kNotifyButtonDown, 0, 0); });
    QObject::connect(button, &QAbstractButton::released, [sink] { sink(kNotifyButtonUp, 0, 0); });
    QObject::connect(button, &QAbstractButton::toggled,
                     [sink](bool on) { sink(kNotifySelectChanged, on ? 1 : 0, 0); });
}

void bridgeSlider(QSlider* slider, const NotifySink& sink) {
    QObject::connect(slider, &QSlider::sliderMoved, [sink](int value) {
        sink(kNotifyMoveValueChanged, static_cast<WPARAM>(value), 0);
    });
    QObject::connect(slider, &QSlider::sliderReleased, [slider, sink] {
        sink(kNotifyValueChanged, static_cast<WPARAM>(slider->value()), 0);
    });
    // Keyboard and page clicks change the value without a drag.
    QObject::connect(slider, &QSlider::valueChanged, [slider, sink](int value) {
        if (!slider->isSliderDown()) {
            sink(kNotifyValueChanged, static_cast<WPARAM>(value), 0);
        }
    });
}

void bridgeTree(QTreeWidget* tree, const NotifySink& sink) {
    QObject::connect(tree, &QTreeWidget::currentItemChanged,
                     [tree, sink](QTreeWidgetItem* current, QTreeWidgetItem* previous) {
                         sink(kNotifyItemSelect,
                              static_cast<WPARAM>(tree->indexOfTopLevelItem(current)),
                              tree->indexOfTopLevelItem(previous));
                     });
    QObject::connect(tree, &QTreeWidget::itemClicked, [tree, sink](QTreeWidgetItem* item) {
        sink(kNotifyItemClick, static_cast<WPARAM>(tree->indexOfTopLevelItem(item)), 0);
    });
    QObject::connect(tree, &QTreeWidget::itemActivated, [tree, sink](QTreeWidgetItem* item) {
        sink(kNotifyItemActivate, static_cast<WPARAM>(tree->indexOfTopLevelItem(item)), 0);
    });
}

void bridgeEdit(QLineEdit* edit, const NotifySink& sink) {
    QObject::connect(edit, &QLineEdit::textEdited, [sink] { sink(kNotifyTextChanged, 0, 0); });
    QObject::connect(edit, &QLineEdit::returnPressed, [sink] { sink(kNotifyReturn, 0, 0); });
    QObject::connect(edit, &QLineEdit::editingFinished, [sink] { sink(kNotifyKillFocus, 0, 0); });
}

void bridgePages(QWidget* widget, const NotifySink& sink) {
    const auto onPage = [sink](int index) {
        sink(kNotifyTabSelect, static_cast<WPARAM>(index), 0);
    };
    if (auto* stack = qobject_cast<QStackedWidget*>(widget)) {
        QObject::connect(stack, &QStackedWidget::currentChanged, onPage);
    } else if (auto* tabs = qobject_cast<QTabWidget*>(widget)) {
        QObject::connect(tabs, &QTabWidget::currentChanged, onPage);
    }
}

} // namespace

void bridgeSignals(CPaintManagerUI&, QWidget* widget, NotifySink sink) {
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        bridgeButton(button, sink);
    } else if (auto* slider = qobject_cast<QSlider*>(widget)) {
        bridgeSlider(slider, sink);
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        QObject::connect(combo, &QComboBox::currentIndexChanged, [sink](int index) {
            sink(kNotifyItemSelect, static_cast<WPARAM>(index), 0);
        });
    } else if (auto* tree = qobject_cast<QTreeWidget*>(widget)) {
        bridgeTree(tree, sink);
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        bridgeEdit(edit, sink);
    } else if (auto* dateTime = qobject_cast<QDateTimeEdit*>(widget)) {
        QObject::connect(dateTime, &QDateTimeEdit::dateTimeChanged,
                         [sink] { sink(kNotifyDateTimeChange, 0, 0); });
    } else if (auto* calendar = qobject_cast<QCalendarWidget*>(widget)) {
        QObject::connect(calendar, &QCalendarWidget::selectionChanged,
                         [sink] { sink(kNotifyDateTimeChange, 0, 0); });
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
        QObject::connect(label, &QLabel::linkActivated, [sink] { sink(kNotifyLink, 0, 0); });
    } else {
        bridgePages(widget, sink);
    }
}

} // namespace DuiLib
