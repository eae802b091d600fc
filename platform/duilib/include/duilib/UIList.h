#pragma once

// Lists (rows of columns of text, HTML allowed) and combo boxes over Qt item widgets. Rows are
// list elements that carry their own tag and user data; the list owns the rows added to it.

#include "duilib/UIControl.h"

#include <memory>
#include <vector>

class QComboBox;
class QTreeWidget;
class QTreeWidgetItem;

namespace DuiLib {

class CListUI;

// Supplies a row's text when a list is filled by a program on demand.
class IListCallbackUI {
public:
    virtual ~IListCallbackUI() = default;
    virtual std::string GetItemText(CControlUI* row, int index, int column) = 0;
};

class CListElementUI : public CControlUI {
public:
    CListElementUI();
    std::string GetClass() const override { return "ListElementUI"; }
    std::string GetText() const override { return GetText(0); }
    void SetText(const std::string& text) override { SetText(0, text); }
    std::string GetText(int column) const;
    void SetText(int column, const std::string& text);
    CListUI* GetOwner() const { return owner_; }
    int GetIndex() const;
    bool IsSelected() const;
    bool Select(bool select = true);
    // Colours of this row only (0xAARRGGBB); 0 goes back to the list's.
    void SetRowTextColor(DWORD colour);
    void SetRowBkColor(DWORD colour);

private:
    friend class CListUI;
    void bind(CListUI* owner, QTreeWidgetItem* item);
    void refresh();

    CListUI* owner_ = nullptr;
    QTreeWidgetItem* item_ = nullptr;
    std::vector<std::string> texts_;
    DWORD textColour_ = 0;
    DWORD bkColour_ = 0;
};
using CListTextElementUI = CListElementUI;
using CListLabelElementUI = CListElementUI;

class CListUI : public CControlUI {
public:
    explicit CListUI(QWidget* widget);
    ~CListUI() override;
    std::string GetClass() const override { return "ListUI"; }

    int GetCount() const;
    CListElementUI* GetItemAt(int index) const;
    int GetItemIndex(const CListElementUI* row) const;
    int GetCurSel() const;
    // Selects row `index` (-1 clears); sends "itemselect" unless told not to.
    bool SelectItem(int index, bool sendNotify = true);

    // The list takes ownership of the row.
    bool Add(CListElementUI* row);
    bool AddAt(CListElementUI* row, int index);
    bool Remove(CListElementUI* row);
    bool RemoveAt(int index);
    void RemoveAll();

    // Item colours of every row, 0xAARRGGBB.
    void SetItemTextColor(DWORD colour);
    void SetItemBkColor(DWORD colour);
    void SetSelectedItemTextColor(DWORD colour);
    void SetSelectedItemBkColor(DWORD colour);
    // Row texts may use the toolkit's HTML subset.
    void SetItemShowHtml(bool show = true);
    bool IsItemShowHtml() const { return showHtml_; }
    void SetTextCallback(IListCallbackUI* callback);
    IListCallbackUI* GetTextCallback() const { return callback_; }
    int GetColumnCount() const;
    void SetColumnTitles(const std::vector<std::string>& titles);

private:
    friend class CListElementUI;
    QTreeWidget* tree() const;
    void updateColours();
    void refreshRow(CListElementUI& row);

    std::vector<std::unique_ptr<CListElementUI>> rows_;
    bool showHtml_ = false;
    IListCallbackUI* callback_ = nullptr;
    DWORD colours_[4] = {}; // text, background, selected text, selected background
};

class CComboUI : public CControlUI {
public:
    using CControlUI::CControlUI;
    std::string GetClass() const override { return "ComboUI"; }
    int GetCount() const;
    int GetCurSel() const;
    // Sends "itemselect" unless told not to.
    bool SelectItem(int index, bool sendNotify = true);
    bool SelectedNoSendMsg(int index) { return SelectItem(index, false); }
    // The combo takes ownership of the entry; its text is what the combo shows.
    bool Add(CListElementUI* entry);
    bool AddAt(CListElementUI* entry, int index);
    bool RemoveAt(int index);
    void RemoveAll();
    CListElementUI* GetItemAt(int index) const;
    std::string GetText() const override;

private:
    QComboBox* combo() const;
    std::vector<std::unique_ptr<CListElementUI>> entries_;
};

} // namespace DuiLib
