#pragma once

#include <QWidget>

namespace corvalen {

class Workbench;

/// One tool of a workbench window, on a tab of its own, over the workbench's corpus and query.
/// The window makes its tabs in one place (workbenchwindow.cpp): a new tool is one such class
/// added there.
class WorkbenchTab : public QWidget
{
    Q_OBJECT

public:
    WorkbenchTab(Workbench &workbench, QWidget *parent = nullptr) : QWidget(parent), m_workbench(workbench) { }

    /// The tab's caption.
    virtual QString title() const = 0;
    /// Where Ctrl+F goes on this tab; none: to the concordance's search field.
    virtual QWidget *searchField() const { return nullptr; }
    /// Whether the tab waits for a file being written: the window stays open meanwhile.
    virtual bool isBusy() const { return false; }

protected:
    Workbench &m_workbench;
};

} // namespace corvalen
