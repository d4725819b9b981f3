// The index rebuild pass over the three record tables: for each of QNOUT, QNREC
// and QNPB it deletes the CDX, packs the table (the marked records leave the
// file) and creates every tag again, DATEND included, reporting its progress.
#pragma once

#include <functional>
#include <string>

#include "xbase/xb_table.h"

namespace records {

struct RebuildSink {
  std::function<void(const std::string& text)> status;  // "Rebuilding FAX file indexes" ...
  std::function<void(int percent)> progress;            // 0..100, restarts per step
};

// fax and rec are the open handles of QNOUT and QNREC (their current order is
// restored afterwards); phone is a closed handle that the pass opens
// exclusively for its step and closes again (the step is skipped when the phone
// book cannot be opened). A table not open exclusively is left alone
// (-xbReadOnly); a step that fails has the table's tags built again. Returns 0
// or the first negated error code (its text in the failing table's lastError(),
// or in *error when given).
int RebuildIndexes(xb::Table& fax, xb::Table& rec, xb::Table& phone, const std::string& folder,
                   const RebuildSink& sink = {}, std::string* error = nullptr);

}  // namespace records
