#pragma once
// A list that stays fast with tens of thousands of rows: rows are lightweight records
// (no widget each) painted by the list from a row template. The template is an
// item-template skin whose named children give the row's cells (labels, buttons,
// images) and their places; the template is laid out once per list width.
//
// Notifications: "itemclick", "itemdbclick", "itemactivate" (sender: the row),
// "itemselect" (sender: the list, wParam new index, lParam previous index), and a
// press on a button cell goes to OnCellButtonDown (default: "buttondown" from the cell).

#include <QListView>
#include <memory>
#include <string>
#include <vector>

#include "ui/toolkit/control.h"

namespace ui {

class CListUI;
class CListElementUI;

// One named part of a row: text, background image, visibility, enabled state.
class CListCellUI final : public CControlUI {
public:
    enum class Kind { kLabel, kButton, kImage };
    CListCellUI(CListElementUI& row, std::string name, Kind kind);

    std::string GetClass() const override;
    std::string GetName() const override { return name_; }
    std::string GetText() const override { return text_; }
    void SetText(const std::string& text) override;
    bool IsVisible() const override { return visible_; }
    void SetVisible(bool visible) override;
    bool IsEnabled() const override { return enabled_; }
    void SetEnabled(bool enabled) override;
    CControlUI* GetParent() const override;
    void SetBkImage(const std::string& attr) override;
    Kind GetKind() const { return kind_; }
    const ImageAttr& BkImage() const { return bkImage_; }

private:
    CListElementUI& row_;
    std::string name_;
    Kind kind_;
    std::string text_;
    bool visible_ = true;
    bool enabled_ = true;
};

class CListElementUI final : public CControlUI {
public:
    CListElementUI();
    ~CListElementUI() override;

    std::string GetClass() const override { return "ListContainerElement"; }
    std::string GetName() const override { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }
    std::string GetText() const override { return text_; }
    void SetText(const std::string& text) override;
    bool IsVisible() const override { return visible_; }
    void SetVisible(bool visible) override;
    bool IsEnabled() const override { return enabled_; }
    void SetEnabled(bool enabled) override;
    CControlUI* GetParent() const override;
    void SetBkImage(const std::string& attr) override;

    // Pixels the cells are moved right (tree levels).
    int GetIndent() const { return indent_; }
    void SetIndent(int pixels);

    // The cell of that name, created on first use as a label when the template has none.
    CListCellUI* Cell(const std::string& name);
    CListCellUI* FindCell(const std::string& name) const;
    const std::vector<std::unique_ptr<CListCellUI>>& Cells() const { return cells_; }

    CListUI* GetOwner() const { return owner_; }
    int GetIndex() const;
    const ImageAttr& BkImage() const { return bkImage_; }

    // Repaints the row (after a change of a cell).
    void Invalidate();

private:
    friend class CListUI;
    friend class CListCellUI;
    CListCellUI* AddCell(std::string name, CListCellUI::Kind kind);
    CListUI* owner_ = nullptr;
    std::string name_;
    std::string text_;
    bool visible_ = true;
    bool enabled_ = true;
    int indent_ = 0;
    int index_ = -1;
    std::vector<std::unique_ptr<CListCellUI>> cells_;
};

class CListUI : public CWidgetControl<QListView> {
public:
    explicit CListUI(QWidget* parent = nullptr);
    ~CListUI() override;
    std::string GetClass() const override { return "List"; }
    void Attach(CPaintManagerUI* manager) override;

    // Reads the row template; false (logged) when it cannot be read. Without a
    // template a row shows its text.
    bool SetRowTemplate(const std::string& skinFile);
    // A new row with the template's cells and their default texts and images.
    std::unique_ptr<CListElementUI> CreateElement() const;

    bool Add(std::unique_ptr<CListElementUI> row);
    bool AddAt(std::unique_ptr<CListElementUI> row, int index);
    // Adds many rows at once (one model reset instead of one insert per row).
    void AddRange(std::vector<std::unique_ptr<CListElementUI>> rows);
    bool Remove(CListElementUI* row);
    bool RemoveAt(int index);
    void RemoveAll();

    int GetCount() const;
    CListElementUI* GetItemAt(int index) const;
    int GetItemIndex(const CListElementUI* row) const;
    int GetCurSel() const;
    // Selects (and scrolls to) the row; sends "itemselect" when the selection changes.
    bool SelectItem(int index);
    void EnsureVisible(int index);
    int RowHeight() const { return rowHeight_; }

    // Where the named template cell lies in a row of the current width.
    QRect CellRect(const CListElementUI& row, const CListCellUI& cell) const;

protected:
    virtual void OnCellButtonDown(CListElementUI& row, CListCellUI& cell);
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    friend class CListElementUI;
    friend class CListCellUI;
    class Model;
    class Delegate;
    struct TemplateCell {
        std::string name;
        CListCellUI::Kind kind;
        QRect rect;
        std::string text;
        std::string image;
        Qt::Alignment align;
        bool visible;
    };
    const TemplateCell* TemplateCellOf(const std::string& name) const;
    void LayoutTemplate();
    void RowChanged(const CListElementUI& row);
    void VisibilityChanged(const CListElementUI& row);
    void Reindex(int from);
    CListCellUI* CellAt(const CListElementUI& row, const QPoint& pointInRow) const;

    std::unique_ptr<Model> model_;
    Delegate* delegate_ = nullptr;
    std::unique_ptr<QWidget> template_;
    std::vector<TemplateCell> cells_;
    int rowHeight_ = 24;
    int lastSelection_ = -1;
};

}  // namespace ui
