#pragma once

#include <QAbstractItemView>

#include <vector>

class QTableView;

namespace corvalen {

/// Sets up a read-only table of many rows as the workbench's tabs show them: whole rows selected,
/// no editing, no wrapping, no row numbers, and fixed row heights of rowHeight pixels, so that a
/// million rows cost nothing to lay out.
void setUpRowView(QTableView *view, QAbstractItemView::SelectionMode selection, int rowHeight);

/// The rows of a view's selection, as shown, each once and in order.
std::vector<qint32> selectedRows(const QTableView *view);

} // namespace corvalen
