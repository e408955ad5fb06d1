#include "workbench/rowview.h"

#include <QHeaderView>
#include <QTableView>

namespace corvalen {

void setUpRowView(QTableView *view, QAbstractItemView::SelectionMode selection, int rowHeight)
{
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(selection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setWordWrap(false);
    view->verticalHeader()->hide();
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(rowHeight);
}

} // namespace corvalen
