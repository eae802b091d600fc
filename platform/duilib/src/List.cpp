#include "duilib/UIList.h"

#include "HtmlText.h"
#include "duilib/UIManager.h"

#include <QAbstractTextDocumentLayout>
#include <QComboBox>
#include <QPainter>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <QTextDocument>
#include <QTreeWidget>

#include <cstdio>
#include <optional>

namespace DuiLib {

namespace {

constexpr int kHtmlRole = Qt::UserRole + 1;

QColor toColour(DWORD argb) {
    return QColor((argb >> 16) & 0xff, (argb >> 8) & 0xff, argb & 0xff, (argb >> 24) & 0xff);
}

std::string cssColour(DWORD argb) {
    char text[40];
    std::snprintf(text, sizeof text, "rgba(%u,%u,%u,%u)", (argb >> 16) & 0xff, (argb >> 8) & 0xff,
                  argb & 0xff, (argb >> 24) & 0xff);
    return text;
}

// Paints rows whose text uses the HTML subset.
class HtmlItemDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const QVariant html = index.data(kHtmlRole);
        if (!html.isValid()) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionViewItem plain = option;
        initStyleOption(&plain, index);
        plain.text.clear();
        plain.widget->style()->drawControl(QStyle::CE_ItemViewItem, &plain, painter, plain.widget);
        // Text without a colour of its own takes the row's, as plain rows do.
        const bool selected = (option.state & QStyle::State_Selected) != 0;
        const QColor colour =
            selected ? option.palette.highlightedText().color() : option.palette.text().color();
        QTextDocument document;
        document.setDefaultFont(option.font);
        document.setHtml("<span style=\"color:" + colour.name() + "\">" + html.toString() +
                         "</span>");
        painter->save();
        const QRect area = option.rect.adjusted(4, 0, -4, 0);
        painter->translate(area.left(),
                           area.top() + (area.height() - document.size().height()) / 2);
        document.drawContents(painter, QRectF(0, 0, area.width(), area.height()));
        painter->restore();
    }
};

} // namespace

CListElementUI::CListElementUI() : CControlUI(static_cast<QWidget*>(nullptr)) {}

std::string CListElementUI::GetText(int column) const {
    if (column < 0 || static_cast<size_t>(column) >= texts_.size()) {
        return {};
    }
    return texts_[static_cast<size_t>(column)];
}

void CListElementUI::SetText(int column, const std::string& text) {
    if (column < 0 || column > 64) {
        return;
    }
    if (static_cast<size_t>(column) >= texts_.size()) {
        texts_.resize(static_cast<size_t>(column) + 1);
    }
    texts_[static_cast<size_t>(column)] = text;
    refresh();
}

int CListElementUI::GetIndex() const {
    return owner_ != nullptr ? owner_->GetItemIndex(this) : -1;
}

bool CListElementUI::IsSelected() const {
    return item_ != nullptr && item_->isSelected();
}

bool CListElementUI::Select(bool select) {
    if (owner_ == nullptr) {
        return false;
    }
    return owner_->SelectItem(select ? GetIndex() : -1);
}

void CListElementUI::SetRowTextColor(DWORD colour) {
    textColour_ = colour;
    refresh();
}

void CListElementUI::SetRowBkColor(DWORD colour) {
    bkColour_ = colour;
    refresh();
}

void CListElementUI::bind(CListUI* owner, QTreeWidgetItem* item) {
    owner_ = owner;
    item_ = item;
    refresh();
}

void CListElementUI::refresh() {
    if (owner_ != nullptr && item_ != nullptr) {
        owner_->refreshRow(*this);
    }
}

CListUI::CListUI(QWidget* widget) : CControlUI(widget) {
    if (QTreeWidget* view = tree()) {
        view->setItemDelegate(new HtmlItemDelegate(view));
        view->setRootIsDecorated(false);
    }
}

CListUI::~CListUI() = default;

QTreeWidget* CListUI::tree() const {
    return qobject_cast<QTreeWidget*>(GetWidget());
}

int CListUI::GetCount() const {
    return static_cast<int>(rows_.size());
}

CListElementUI* CListUI::GetItemAt(int index) const {
    if (index < 0 || index >= GetCount()) {
        return nullptr;
    }
    return rows_[static_cast<size_t>(index)].get();
}

int CListUI::GetItemIndex(const CListElementUI* row) const {
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].get() == row) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int CListUI::GetCurSel() const {
    QTreeWidget* view = tree();
    return view != nullptr ? view->indexOfTopLevelItem(view->currentItem()) : -1;
}

bool CListUI::SelectItem(int index, bool sendNotify) {
    QTreeWidget* view = tree();
    if (view == nullptr || index < -1 || index >= GetCount()) {
        return false;
    }
    std::optional<QSignalBlocker> silence;
    if (!sendNotify) {
        silence.emplace(view);
    }
    QTreeWidgetItem* item = index >= 0 ? view->topLevelItem(index) : nullptr;
    view->setCurrentItem(item);
    if (item == nullptr) {
        view->clearSelection();
    }
    return true;
}

bool CListUI::Add(CListElementUI* row) {
    return AddAt(row, GetCount());
}

bool CListUI::AddAt(CListElementUI* row, int index) {
    QTreeWidget* view = tree();
    if (view == nullptr || row == nullptr || row->owner_ != nullptr || index < 0 ||
        index > GetCount()) {
        return false;
    }
    auto* item = new QTreeWidgetItem;
    view->insertTopLevelItem(index, item);
    rows_.insert(rows_.begin() + index, std::unique_ptr<CListElementUI>(row));
    row->bind(this, item);
    return true;
}

bool CListUI::Remove(CListElementUI* row) {
    return RemoveAt(GetItemIndex(row));
}

bool CListUI::RemoveAt(int index) {
    QTreeWidget* view = tree();
    if (view == nullptr || index < 0 || index >= GetCount()) {
        return false;
    }
    delete view->takeTopLevelItem(index);
    rows_.erase(rows_.begin() + index);
    return true;
}

void CListUI::RemoveAll() {
    if (QTreeWidget* view = tree()) {
        view->clear();
    }
    rows_.clear();
}

void CListUI::refreshRow(CListElementUI& row) {
    QTreeWidgetItem* item = row.item_;
    const int index = GetItemIndex(&row);
    const int columns = std::max(GetColumnCount(), static_cast<int>(row.texts_.size()));
    for (int column = 0; column < columns; ++column) {
        const std::string text = callback_ != nullptr ? callback_->GetItemText(&row, index, column)
                                                      : row.GetText(column);
        item->setText(column, QString::fromStdString(showHtml_ ? htmlToPlainText(text) : text));
        item->setData(column, kHtmlRole,
                      showHtml_ ? QVariant(QString::fromStdString(htmlToRichText(text)))
                                : QVariant());
        item->setForeground(column,
                            row.textColour_ != 0 ? QBrush(toColour(row.textColour_)) : QBrush());
        item->setBackground(column,
                            row.bkColour_ != 0 ? QBrush(toColour(row.bkColour_)) : QBrush());
    }
}

void CListUI::SetItemShowHtml(bool show) {
    showHtml_ = show;
    for (auto& row : rows_) {
        refreshRow(*row);
    }
}

void CListUI::SetTextCallback(IListCallbackUI* callback) {
    callback_ = callback;
    for (auto& row : rows_) {
        refreshRow(*row);
    }
}

int CListUI::GetColumnCount() const {
    QTreeWidget* view = tree();
    return view != nullptr ? view->columnCount() : 0;
}

void CListUI::SetColumnTitles(const std::vector<std::string>& titles) {
    if (QTreeWidget* view = tree()) {
        QStringList labels;
        for (const auto& title : titles) {
            labels << QString::fromStdString(title);
        }
        view->setHeaderLabels(labels);
    }
}

void CListUI::SetItemTextColor(DWORD colour) {
    colours_[0] = colour;
    updateColours();
}

void CListUI::SetItemBkColor(DWORD colour) {
    colours_[1] = colour;
    updateColours();
}

void CListUI::SetSelectedItemTextColor(DWORD colour) {
    colours_[2] = colour;
    updateColours();
}

void CListUI::SetSelectedItemBkColor(DWORD colour) {
    colours_[3] = colour;
    updateColours();
}

void CListUI::updateColours() {
    std::string item;
    std::string selected;
    if (colours_[0] != 0) {
        item += "color:" + cssColour(colours_[0]) + ";";
    }
    if (colours_[1] != 0) {
        item += "background-color:" + cssColour(colours_[1]) + ";";
    }
    if (colours_[2] != 0) {
        selected += "color:" + cssColour(colours_[2]) + ";";
    }
    if (colours_[3] != 0) {
        selected += "background-color:" + cssColour(colours_[3]) + ";";
    }
    if (QTreeWidget* view = tree()) {
        view->setStyleSheet(QString::fromStdString("QTreeView::item{" + item +
                                                   "} QTreeView::item:selected{" + selected + "}"));
    }
}

QComboBox* CComboUI::combo() const {
    return qobject_cast<QComboBox*>(GetWidget());
}

int CComboUI::GetCount() const {
    QComboBox* box = combo();
    return box != nullptr ? box->count() : 0;
}

int CComboUI::GetCurSel() const {
    QComboBox* box = combo();
    return box != nullptr ? box->currentIndex() : -1;
}

bool CComboUI::SelectItem(int index, bool sendNotify) {
    QComboBox* box = combo();
    if (box == nullptr || index < -1 || index >= box->count()) {
        return false;
    }
    std::optional<QSignalBlocker> silence;
    if (!sendNotify) {
        silence.emplace(box);
    }
    box->setCurrentIndex(index);
    return true;
}

bool CComboUI::Add(CListElementUI* entry) {
    return AddAt(entry, GetCount());
}

bool CComboUI::AddAt(CListElementUI* entry, int index) {
    QComboBox* box = combo();
    if (box == nullptr || entry == nullptr || index < 0 || index > box->count()) {
        return false;
    }
    // Entries made by the skin have no element yet; give them one so indexes line up.
    while (static_cast<int>(entries_.size()) < box->count()) {
        auto element = std::make_unique<CListElementUI>();
        element->SetText(box->itemText(static_cast<int>(entries_.size())).toStdString());
        entries_.push_back(std::move(element));
    }
    const QSignalBlocker silence(box); // adding is not the user choosing
    const int before = box->currentIndex();
    box->insertItem(index, QString::fromStdString(htmlToPlainText(entry->GetText())));
    if (before < 0) {
        box->setCurrentIndex(-1);
    }
    entries_.insert(entries_.begin() + index, std::unique_ptr<CListElementUI>(entry));
    return true;
}

bool CComboUI::RemoveAt(int index) {
    QComboBox* box = combo();
    if (box == nullptr || index < 0 || index >= box->count()) {
        return false;
    }
    const QSignalBlocker silence(box);
    box->removeItem(index);
    if (static_cast<size_t>(index) < entries_.size()) {
        entries_.erase(entries_.begin() + index);
    }
    return true;
}

void CComboUI::RemoveAll() {
    if (QComboBox* box = combo()) {
        const QSignalBlocker silence(box);
        box->clear();
    }
    entries_.clear();
}

CListElementUI* CComboUI::GetItemAt(int index) const {
    if (index < 0 || static_cast<size_t>(index) >= entries_.size()) {
        return nullptr;
    }
    return entries_[static_cast<size_t>(index)].get();
}

std::string CComboUI::GetText() const {
    QComboBox* box = combo();
    return box != nullptr ? box->currentText().toStdString() : std::string();
}

} // namespace DuiLib
