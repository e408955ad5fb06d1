#pragma once

#include <QAbstractItemView>

class QTableView;

namespace corvalen {

/// Sets up a read-only table of many rows as the workbench's tabs show them: whole rows selected,
/// no editing, no wrapping, no row numbers, and fixed row heights of rowHeight pixels, so that a
/// million rows cost nothing to lay out.
void setUpRowView(QTableView *view, QAbstractItemView::SelectionMode selection, int rowHeight);

} // namespace corvalen
