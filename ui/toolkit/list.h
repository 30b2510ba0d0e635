#pragma once
// A list that stays fast with tens of thousands of rows: rows are lightweight records
// (no widget each) painted by the list from a row template. A template is an
// item-template skin whose named children give the row's cells (labels, buttons,
// images) and their places. A list may hold rows of several templates (a tree's node
// and camera rows); each template is read once and laid out once per list width and
// row indent. A row is as high as its template unless it is given a height of its own.
// Template extras as string properties: "bkimage" on the form (the row's background),
// "textcolor" on a label or button ("#RRGGBB" or "#AARRGGBB"). A cell hidden in the
// template gets the place it would have if it were shown.
//
// A row keeps only the cells that were asked for (FindCell, Cell) or changed: the
// others are drawn from the template's defaults, so 10,000 rows of nine cells cost
// little more than their three or four changed cells.
//
// Tooltips: over a button cell, the template's tooltip of that button; elsewhere the
// row's own (RowToolTip); else, over a text cut short to fit its cell, the whole text.
// They are always shown as plain text.
//
// Notifications: "itemclick", "itemdbclick", "itemactivate" (sender: the row),
// "itemselect" (sender: the list, wParam new index, lParam previous index), and a
// press on a button cell goes to OnCellButtonDown (default: "buttondown" from the cell).

#include <QColor>
#include <QListView>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/toolkit/control.h"

namespace ui {

class CListUI;
class CListElementUI;
struct ListRowTemplate;

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
    const ImageAttr& BkImage() const { return BkImageAttr(); }

    // A place of its own in the row (row coordinates, indent included) instead of the
    // template's; for rows laid out by their list's code rather than by a template.
    void SetPlace(const QRect& place);
    const std::optional<QRect>& GetPlace() const { return place_; }
    // Text colour instead of the list's.
    void SetTextColor(const QColor& color);
    const std::optional<QColor>& GetTextColor() const { return textColor_; }

private:
    friend class CListElementUI;
    friend class CListUI;
    CListElementUI& row_;
    std::string name_;
    int templateIndex_ = -1;  // the template cell it stands for; -1: a cell of its own
    Kind kind_;
    std::string text_;
    bool visible_ = true;
    bool enabled_ = true;
    std::optional<QRect> place_;
    std::optional<QColor> textColor_;
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

    // Pixels kept free at the row's left (tree levels): the template's cells are laid
    // out in the width that remains, so cells anchored right stay in place.
    int GetIndent() const { return indent_; }
    void SetIndent(int pixels);
    // The row's height; 0 (the default) means the template's.
    int GetFixedHeight() const { return fixedHeight_; }
    void SetFixedHeight(int pixels);

    // The cell of that name, created on first use as a label when the template has none.
    CListCellUI* Cell(const std::string& name);
    // The cell of that name (a template cell starts with the template's text, picture
    // and visibility), or nullptr when neither the row nor its template has one.
    CListCellUI* FindCell(const std::string& name) const;
    // A cell the template does not have (rows laid out by code); the existing one when
    // the row already has a cell of that name.
    CListCellUI* AddCell(std::string name, CListCellUI::Kind kind);
    // The cells the row holds now (the template's others show their defaults).
    const std::vector<std::unique_ptr<CListCellUI>>& Cells() const { return cells_; }

    CListUI* GetOwner() const { return owner_; }
    int GetIndex() const;
    const ImageAttr& BkImage() const { return BkImageAttr(); }

    // Repaints the row (after a change of a cell).
    void Invalidate();

private:
    friend class CListUI;
    friend class CListCellUI;
    CListUI* owner_ = nullptr;
    const ListRowTemplate* template_ = nullptr;
    std::string name_;
    std::string text_;
    bool visible_ = true;
    bool enabled_ = true;
    int indent_ = 0;
    int fixedHeight_ = 0;
    int index_ = -1;
    mutable std::vector<std::unique_ptr<CListCellUI>> cells_;
};

class CListUI : public CWidgetControl<QListView> {
public:
    explicit CListUI(QWidget* parent = nullptr);
    ~CListUI() override;
    std::string GetClass() const override { return "List"; }
    void Attach(CPaintManagerUI* manager) override;

    // Reads the row template and makes it the one CreateElement() uses; false (logged)
    // when it cannot be read. Without a template a row shows its text.
    bool SetRowTemplate(const std::string& skinFile);
    // A new row with the default template's cells and their default texts and images.
    std::unique_ptr<CListElementUI> CreateElement() const;
    // A new row of the named template, read on first use; nullptr (logged) when the
    // template cannot be read.
    std::unique_ptr<CListElementUI> CreateElement(const std::string& skinFile);

    virtual bool Add(std::unique_ptr<CListElementUI> row);
    virtual bool AddAt(std::unique_ptr<CListElementUI> row, int index);
    // Adds many rows at once (one model reset instead of one insert per row).
    void AddRange(std::vector<std::unique_ptr<CListElementUI>> rows);
    virtual bool Remove(CListElementUI* row);
    virtual bool RemoveAt(int index);
    // Removes `count` rows from `first` on in one step; false when the range is not
    // inside the list.
    bool RemoveRange(int first, int count);
    virtual void RemoveAll();

    int GetCount() const;
    CListElementUI* GetItemAt(int index) const;
    int GetItemIndex(const CListElementUI* row) const;
    int GetCurSel() const;
    // Selects (and scrolls to) the row; sends "itemselect" when the selection changes.
    virtual bool SelectItem(int index);
    void EnsureVisible(int index);
    // Height of a row of the default template.
    int RowHeight() const { return rowHeight_; }
    int RowHeightOf(const CListElementUI& row) const;

    // Where the cell lies in the list's viewport now; empty when the row is not laid out.
    QRect CellRect(const CListElementUI& row, const CListCellUI& cell) const;

    // When on, a press on a button cell belongs to the button alone: the row is neither
    // selected nor reports "itemclick" or "itemdbclick" for it. Off by default.
    void SetButtonCellsTakeClicks(bool on) { buttonsTakeClicks_ = on; }

    // The tooltip a point of the viewport shows (plain text; empty: none).
    QString ToolTipAt(const QPoint& pointInViewport) const;

    // Places of a row's template cells, in template order (row coordinates).
    using CellLayout = std::vector<QRect>;

protected:
    // Lets a list place a row's cells by the row's content (a name given the room it
    // needs before a date beside it): `places` holds the template's places for the
    // row's indent and width, and may be changed. Painting, hit tests and CellRect all
    // use the result. Default: the template's places.
    virtual void ArrangeCells(const CListElementUI& row, CellLayout& places) const;
    // The row's own tooltip (plain text); default none.
    virtual QString RowToolTip(const CListElementUI& row) const;
    // Index of the template cell of that name in the row's template, or -1.
    static int TemplateCellIndex(const CListElementUI& row, const std::string& name);
    // The text a template cell shows now (the row's own or the template's).
    static std::string CellText(const CListElementUI& row, int index);
    static bool CellVisible(const CListElementUI& row, int index);
    bool viewportEvent(QEvent* event) override;

    virtual void OnCellButtonDown(CListElementUI& row, CListCellUI& cell);
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    // The button cell under a point of the viewport, if any.
    CListCellUI* ButtonCellAt(const QPoint& pointInViewport, CListElementUI** row = nullptr) const;

private:
    friend class CListElementUI;
    friend class CListCellUI;
    friend struct ListRowTemplate;
    class Model;
    class Delegate;
    ListRowTemplate* LoadTemplate(const std::string& skinFile);
    std::unique_ptr<CListElementUI> NewElement(const ListRowTemplate* shape) const;
    // The template's cells laid out for a row of that indent at the current width.
    const CellLayout* LayoutOf(const CListElementUI& row) const;
    // The template's places arranged for this row (ArrangeCells); false when the row
    // has no template or is not laid out.
    bool ArrangedPlaces(const CListElementUI& row, CellLayout& places) const;
    QRect PlaceOf(const CellLayout* layout, const CListCellUI& cell) const;
    void RowChanged(const CListElementUI& row);
    void RowHeightChanged(const CListElementUI& row);
    void VisibilityChanged(const CListElementUI& row);
    void Reindex(int from);
    CListCellUI* CellAt(const CListElementUI& row, const QPoint& pointInRow) const;
    // The row's cell for template cell `index`, or nullptr when it still has the defaults.
    static const CListCellUI* OwnCell(const CListElementUI& row, int index);

    std::unique_ptr<Model> model_;
    Delegate* delegate_ = nullptr;
    std::vector<std::unique_ptr<ListRowTemplate>> templates_;
    const ListRowTemplate* default_ = nullptr;
    int rowHeight_ = 24;
    int lastSelection_ = -1;
    bool buttonsTakeClicks_ = false;
    bool pressOnButton_ = false;
};

}  // namespace ui
