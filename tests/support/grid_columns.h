// Reads a list grid as the user sees it: the texts of one column, top to bottom.
#pragma once

#include <QStringList>

#include "records/ui/record_grid.h"

namespace qn {

inline QStringList Column(TRecordGrid* grid, const char* field) {
  QStringList out;
  auto* m = grid->recordModel();
  for (int r = 0; r < m->rowCount(); ++r) out << m->CellText(r, m->ColumnOf(QLatin1String(field)));
  return out;
}

}  // namespace qn
